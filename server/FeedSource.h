// Something that keeps the offset space moving while the server answers its clients: a clock-driven flight
// model, a replayed recording, a recorder, or a simulator's UDP stream. The server's one loop drives every
// source between requests, so a source never runs in the middle of a client's batch.
#pragma once

#include "OffsetSpace.h"

#include <chrono>

namespace server {

class FeedSource {
public:
  using Clock = std::chrono::steady_clock;

  virtual ~FeedSource() = default;

  // A descriptor the loop polls for input (a UDP socket), or -1 for none.
  virtual int fd() const { return -1; }
  // `fd()` is readable: take what arrived (without blocking) into the space.
  virtual void onReadable(OffsetSpace& /*space*/) {}

  // When the next step is due; Clock::time_point::max() for never.
  virtual Clock::time_point nextStep() const { return Clock::time_point::max(); }
  // Called once the time of nextStep() has come.
  virtual void step(OffsetSpace& /*space*/, Clock::time_point /*now*/) {}
};

}  // namespace server
