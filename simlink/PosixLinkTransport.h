// The link's platform services on Linux: a server "window" is a Unix socket in the runtime directory, the
// shared block is a file in the private runtime directory, mapped shared, atoms live in a table of this process.
#pragma once

#include "LinkTransport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simlink {

// Makes every wait for a server's answer, the one under way and any later one, give up at once as a timeout
// would: for a program stopping on a signal while its server hangs (stopped, or stuck), which would otherwise
// wait out the link's retries (up to 20 s) before its event loop hears the signal. Async-signal-safe.
void abandonLinkWaits() noexcept;

class PosixLinkTransport final : public LinkTransport {
public:
  PosixLinkTransport();
  ~PosixLinkTransport() override;

  Handle findWindow(const char* className) override;
  void releaseWindow(Handle window) override;
  std::uint32_t registerWindowMessage(const char* name) override;
  std::uint16_t addAtom(const char* name) override;
  void deleteAtom(std::uint16_t atom) override;
  Handle createMapping(const char* name, std::uint32_t size, std::uint32_t& lastError) override;
  void* mapView(Handle mapping) override;
  void unmapView(void* view) override;
  void closeMapping(Handle mapping) override;
  bool sendMessageTimeout(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                          std::uint32_t timeoutMs, std::intptr_t& messageResult, std::uint32_t& lastError) override;
  void sleepMs(std::uint32_t ms) override;
  std::uint32_t processId() override;

private:
  struct Connection;
  struct Mapping;
  struct Atom {
    std::string name;
    int references = 0;
  };

  const Atom* atom(std::uint16_t id) const;
  // Says on stderr why a runtime directory or server is not used, once until the reason changes.
  void refuse(const std::string& why);

  std::vector<std::unique_ptr<Connection>> m_connections;
  std::vector<std::unique_ptr<Mapping>> m_mappings;
  std::vector<Atom> m_atoms;  // atom 0xC001 + i
  std::string m_lastRefusal;
};

}  // namespace simlink
