// The substitute server's socket side: listens at <runtime dir>/<class>, answers every client's requests
// against one offset space, never blocks on any one client.
#pragma once

#include "FeedSource.h"
#include "OffsetSpace.h"
#include "Result.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace server {

class SimServer {
public:
  // Connections held at once; a client beyond them is accepted and closed at once.
  static constexpr std::size_t kMaxClients = 256;
  // Above this many connections, one that has sent nothing for the idle limit is closed (the longest silent
  // first), so that processes holding connections open cannot lock the panel out.
  static constexpr std::size_t kIdleClosingFrom = kMaxClients * 3 / 4;
  static constexpr std::chrono::milliseconds kIdleLimit{60'000};

  explicit SimServer(OffsetSpace& space, std::chrono::milliseconds idleLimit = kIdleLimit);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Prepares the runtime directory, takes the class's lock (<class>.lock beside the socket, held for the
  // server's life, so that of servers started together exactly one serves the class) and binds the socket;
  // an error text on failure (nothing left behind but the lock file, which is never removed).
  Result<void> listen(const std::string& runtimeDir, const std::string& className);
  const std::string& socketPath() const { return m_socketPath; }

  // Serves until `stopFd` becomes readable (a signalfd or a pipe), then closes every connection and removes
  // the socket. Between requests it drives the feed sources: their input as it arrives, their steps when due.
  // False when the wait itself failed (errno says why): the server stopped without being asked to.
  bool run(int stopFd, std::span<FeedSource* const> sources = {});

  // Answers one request: 1 when the block named in it was served, else 0. Any name is safe to pass: one that
  // could not be a block name (empty, too long, blanks, '/', bytes outside printable ASCII) is answered 0.
  std::int32_t answer(std::uint32_t message, std::string_view blockName);

private:
  using Clock = FeedSource::Clock;
  struct Client;
  void acceptClients(Clock::time_point now);
  bool serveClient(Client& client, Clock::time_point now);  // false: drop the connection
  void closeIdleClients(Clock::time_point now);

  OffsetSpace& m_space;
  std::uint32_t m_messageId;
  std::chrono::milliseconds m_idleLimit;
  int m_lockFd = -1;
  int m_listenFd = -1;
  std::string m_socketPath;
  std::string m_blockDir;  // where clients' blocks are: the directory listened in (before that, the usual one)
  std::vector<std::unique_ptr<Client>> m_clients;
  std::vector<std::uint8_t> m_block;  // a request block's bytes while it is served
};

}  // namespace server
