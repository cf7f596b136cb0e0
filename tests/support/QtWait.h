// Running the Qt event loop in window tests: for a while, or until a condition holds (then true).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <functional>
#include <utility>

inline void runEvents(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ::usleep(2000);
  }
}

// The limit only matters when the condition never comes: it is generous, as a loaded machine may take seconds
// for what an idle one does at once.
inline bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ::usleep(2000);
  }
  return true;
}

// Until `look()` gives the same value twice, `stepMs` apart (something the window system or the panel does in
// steps has come to rest); false when it still moves after `ms`.
template <typename Look>
bool waitSettled(const Look& look, int stepMs = 300, int ms = 10000) {
  auto last = look();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    runEvents(stepMs);
    auto now = look();
    if (now == last) {
      return true;
    }
    last = std::move(now);
  }
  return false;
}
