// Running the Qt event loop in window tests: for a while, or until a condition holds (then true).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <functional>

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
