// A private server in a thread, and the one tick.
#include "OneTick.h"

#include "LinkWire.h"
#include "OffsetSpace.h"
#include "SimLink.h"
#include "SimServer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <thread>

namespace {

Result<void> runTick(instruments::InstrumentTick& tick) {
  SimLinkResult result{};
  if (!SimLinkOpen(0, result)) {
    return Problem{"cannot open the simulator link: " + std::string(SimLinkResultName(result))};
  }
  const instruments::TickOutcome outcome = tick.tick();
  SimLinkClose();
  if (outcome != instruments::TickOutcome::Updated) {
    return Problem{"the simulator did not answer the batch"};
  }
  return {};
}

// SKYVANE_RUNTIME_DIR pointed at a fresh private directory for the object's life, then restored and removed.
class PrivateRuntimeDir {
public:
  PrivateRuntimeDir() {
    if (const char* previous = ::getenv("SKYVANE_RUNTIME_DIR")) {
      m_previous = previous;
    }
    char pattern[] = "/tmp/skyvane-render-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) {
      m_path = pattern;
      ::setenv("SKYVANE_RUNTIME_DIR", m_path.c_str(), 1);
    }
  }
  ~PrivateRuntimeDir() {
    if (m_previous) {
      ::setenv("SKYVANE_RUNTIME_DIR", m_previous->c_str(), 1);
    } else {
      ::unsetenv("SKYVANE_RUNTIME_DIR");
    }
    std::error_code ignored;
    if (!m_path.empty()) {
      std::filesystem::remove_all(m_path, ignored);
    }
  }
  const std::string& path() const { return m_path; }

private:
  std::string m_path;
  std::optional<std::string> m_previous;
};

}  // namespace

Result<void> tickWithValues(instruments::InstrumentTick& tick, const std::vector<simlink::Assignment>& assignments) {
  PrivateRuntimeDir runtime;
  if (runtime.path().empty()) {
    return Problem{"cannot make a private runtime directory"};
  }
  static server::OffsetSpace space;  // 64 KiB: not for the stack
  space.apply(assignments);
  server::SimServer server(space);
  if (auto listening = server.listen(runtime.path(), kPrimaryServerClass); !listening) {
    return listening;
  }
  int stop[2];
  if (::pipe2(stop, O_CLOEXEC) != 0) {
    return Problem{"cannot make a pipe"};
  }
  std::thread serving([&] { server.run(stop[0]); });
  Result<void> ticked = runTick(tick);
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(stop[1], &byte, 1);
  serving.join();
  ::close(stop[0]);
  ::close(stop[1]);
  return ticked;
}

Result<void> tickFromRunningServer(instruments::InstrumentTick& tick) {
  return runTick(tick);
}
