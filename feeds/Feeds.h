// The feeds of skyvane-sim: what fills the offset space at start and what keeps it moving.
#pragma once

#include "DemoFlight.h"
#include "FeedSource.h"
#include "OffsetSpace.h"
#include "Result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace feeds {

struct FeedOptions {
  std::string source = "demo";              // --feed: none, demo, cruise, replay:FILE, flightgear[:PORT], xplane[:HOST]
  std::string aircraft = "single";          // demo: single | twin | turboprop
  double speed = 1;                         // demo: how much faster than real time its clock runs
  std::uint32_t seed = 1;                   // demo: the same seed gives the same flight
  double startAtS = 0;                      // demo: flight time already flown when the server starts
  std::string listenAddress = "127.0.0.1";  // the UDP bridges' interface
  std::vector<simlink::Assignment> pinned;  // --set and --poke: kept over whatever the feed writes
};

struct Feed {
  std::vector<std::unique_ptr<server::FeedSource>> sources;  // driven by the server's loop
  std::string description;                                   // for the line that says where the server listens
};

// Sets the space up for the feed and makes its sources; an error text when the options make no feed.
Result<Feed> makeFeed(const FeedOptions& options, server::OffsetSpace& space);

// A steady cruise of a light twin: every catalogue variable at a plausible value.
void applyCruise(server::OffsetSpace& space);

// The demo flight on the server's clock, `speed` times faster than real time; pinned values are written
// over it after every step. A loop that stalled (stopped with Ctrl-Z, held in a debugger) pauses the flight:
// at most kMaxCatchUp of real time is flown at once, where the whole stall at a high speed would hold the
// server up for minutes.
class DemoFeed final : public server::FeedSource {
public:
  DemoFeed(DemoAircraft aircraft, std::uint32_t seed, double speed, std::vector<simlink::Assignment> pinned);
  Clock::time_point nextStep() const override { return m_next; }
  void step(server::OffsetSpace& space, Clock::time_point now) override;
  const DemoFlight& flight() const { return m_flight; }
  static constexpr auto kMaxCatchUp = std::chrono::seconds(1);
  // Flies `seconds` of flight time at once (where the demo starts); the real time that takes is not flown
  // again at the next step.
  void skip(double seconds) {
    m_flight.advance(seconds);
    m_last = Clock::now();
  }

private:
  // The pilot's settings: a value a panel wrote is kept from then on, and the altimeter reads the altitude
  // for the setting the pilot made (about 27 ft a hPa above the flight's own pressure setting).
  void keepPilotSettings(server::OffsetSpace& space);

  DemoFlight m_flight;
  double m_speed;
  std::vector<simlink::Assignment> m_pinned;
  std::array<std::uint64_t, catalogue::kPilotSettings.size()> m_pilotWritesSeen{};
  std::array<std::optional<long double>, catalogue::kPilotSettings.size()> m_pilot;
  Clock::time_point m_last;
  Clock::time_point m_next;
};

}  // namespace feeds
