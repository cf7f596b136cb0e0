// Values made on one thread and taken, in order, on the thread whose event loop owns the handoff: a queue under
// a mutex, and an eventfd that wakes the taker. Qt's own posting between threads would do the same, but orders
// its queue with locks ThreadSanitizer cannot see; this one it can.
#pragma once

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace web {

template <typename T>
class Handoff {
public:
  // `take` runs on the thread that makes the handoff, once for each value given, in the order given.
  explicit Handoff(std::function<void(T)> take) : m_take(std::move(take)) {
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd < 0) {
      throw std::runtime_error("no eventfd for the drawing thread's output");
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
  }
  // The giving thread must have stopped giving.
  ~Handoff() {
    m_notifier.reset();
    ::close(m_fd);
  }
  Handoff(const Handoff&) = delete;
  Handoff& operator=(const Handoff&) = delete;

  // Any thread.
  void give(T value) {
    {
      const std::lock_guard lock(m_mutex);
      m_queue.push_back(std::move(value));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);  // a full counter wakes anyway
  }

private:
  void drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_fd, &count, sizeof count);
    std::vector<T> taken;
    {
      const std::lock_guard lock(m_mutex);
      taken.swap(m_queue);
    }
    for (T& value : taken) {
      m_take(std::move(value));
    }
  }

  std::function<void(T)> m_take;
  int m_fd = -1;
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::mutex m_mutex;
  std::vector<T> m_queue;
};

}  // namespace web
