// An object meant for one thread at a time says so: the thread that takes it holds it until it lets go, and a
// use from another thread meanwhile ends the process with a message naming the object, where it would otherwise
// be a silent data race. One atomic comparison a use, so it stays on in every build.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace base {

class OneThread {
public:
  explicit OneThread(const char* what) : m_what(what) {}

  // The calling thread holds the object from now on (again): ends the process if another holds it.
  void take() {
    std::thread::id holder{};
    const std::thread::id self = std::this_thread::get_id();
    if (!m_holder.compare_exchange_strong(holder, self) && holder != self) {
      std::fprintf(stderr, "%s: used from a second thread while another holds it\n", m_what);
      std::abort();
    }
  }
  // No thread holds it any more; the next to take it may be another.
  void letGo() { m_holder.store(std::thread::id{}); }

private:
  const char* m_what;
  std::atomic<std::thread::id> m_holder{};
};

}  // namespace base
