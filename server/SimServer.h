// The substitute server's socket side: listens at <runtime dir>/<class>, answers every client's requests
// against one offset space, never blocks on any one client.
#pragma once

#include "FeedSource.h"
#include "OffsetSpace.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class SimServer {
public:
  explicit SimServer(OffsetSpace& space);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Prepares the runtime directory and binds the socket; an error text on failure (nothing left behind).
  std::optional<std::string> listen(const std::string& runtimeDir, const std::string& className);
  const std::string& socketPath() const { return m_socketPath; }

  // Serves until `stopFd` becomes readable (a signalfd or a pipe), then closes every connection and removes
  // the socket. Between requests it drives the feed sources: their input as it arrives, their steps when due.
  void run(int stopFd, std::span<FeedSource* const> sources = {});

  // Answers one decoded request: 1 when the block named in it was served, else 0.
  std::int32_t answer(std::uint32_t message, std::string_view blockName);

private:
  struct Client;
  void acceptClients();
  bool serveClient(Client& client);  // false: drop the connection

  OffsetSpace& m_space;
  std::uint32_t m_messageId;
  int m_listenFd = -1;
  std::string m_socketPath;
  std::vector<std::unique_ptr<Client>> m_clients;
  std::vector<std::uint8_t> m_block;  // a request block's bytes while it is served
};
