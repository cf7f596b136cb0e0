// The feed factory, and the steady cruise: every catalogue variable at a value a light twin shows in level
// cruise.
#include "Feeds.h"

#include "FlightGearBridge.h"
#include "Recording.h"
#include "XPlaneBridge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace feeds {

namespace {

constexpr auto kDemoInterval = std::chrono::milliseconds(20);

// A feed that needs no peer says what it is once.
void publishSteady(server::OffsetSpace& space, simlink::FeedKind kind, std::string detail = {}) {
  simlink::FeedState state;
  state.kind = kind;
  // A path too long for the block keeps its end, where the file's own name is.
  if (detail.size() >= simlink::kFeedDetailSize) {
    detail = "…" + detail.substr(detail.size() - (simlink::kFeedDetailSize - 5));
  }
  state.detail = std::move(detail);
  space.publish(state);
}

}  // namespace

DemoFeed::DemoFeed(DemoAircraft aircraft, std::uint32_t seed, double speed, std::vector<simlink::Assignment> pinned)
    : m_flight(aircraft, seed),
      m_speed(speed),
      m_pinned(std::move(pinned)),
      m_last(Clock::now()),
      m_next(m_last) {}

void DemoFeed::step(server::OffsetSpace& space, Clock::time_point now) {
  const Clock::duration elapsed = std::min<Clock::duration>(now - m_last, kMaxCatchUp);
  m_flight.advance(std::chrono::duration<double>(elapsed).count() * m_speed);
  m_last = now;
  m_next = now + kDemoInterval;
  // What a panel wrote since the last step is in the space now, before this step's store writes over it.
  for (std::size_t i = 0; i < catalogue::kPilotSettings.size(); ++i) {
    if (space.pilotWrites(i) != m_pilotWritesSeen[i]) {
      m_pilotWritesSeen[i] = space.pilotWrites(i);
      m_pilot[i] = space.physical(catalogue::kRows[catalogue::kPilotSettingRows[i]]);
    }
  }
  m_flight.store(space);
  keepPilotSettings(space);
  space.apply(m_pinned);
}

static_assert(catalogue::kPilotSettings[0] == "altimeterSetting", "the altitude follows the first setting");

void DemoFeed::keepPilotSettings(server::OffsetSpace& space) {
  using catalogue::kPilotSettings;
  using catalogue::kRows;
  for (std::size_t i = 0; i < kPilotSettings.size(); ++i) {
    if (m_pilot[i]) {
      space.setPhysical(kRows[catalogue::kPilotSettingRows[i]], *m_pilot[i]);
    }
  }
  if (const std::optional<long double>& setting = m_pilot[0]) {
    // The altimeter reads higher by about 27 ft for each hPa its setting is above the flight's own.
    constexpr long double kFeetPerHpa = 27.3L;
    const DemoState& s = m_flight.state();
    space.setPhysical(kRows[catalogue::index("altitude")],
                      std::round(s.altitudeFt + (*setting - s.qnhHpa) * kFeetPerHpa));
  }
}

Result<Feed> makeFeed(const FeedOptions& options, server::OffsetSpace& space) {
  Feed feed;
  const std::string_view source = options.source;
  if (source == "none") {
    feed.description = "none";
    publishSteady(space, simlink::FeedKind::Manual);
  } else if (source == "demo") {
    const auto aircraft = parseDemoAircraft(options.aircraft);
    if (!aircraft) {
      return Problem{"unknown aircraft \"" + options.aircraft + "\" (single, twin or turboprop)"};
    }
    if (!(options.speed > 0 && options.speed <= 1000)) {
      return Problem{"--speed takes a factor above 0 and up to 1000"};
    }
    if (!(options.startAtS >= 0 && options.startAtS <= 24 * 3600)) {
      return Problem{"--start-at takes seconds from 0 to a day"};
    }
    auto demo = std::make_unique<DemoFeed>(*aircraft, options.seed, options.speed, options.pinned);
    demo->skip(options.startAtS);
    demo->step(space, server::FeedSource::Clock::now());
    feed.sources.push_back(std::move(demo));
    feed.description = "demo flight, " + options.aircraft;
    publishSteady(space, simlink::FeedKind::Demo, options.aircraft);
  } else if (source.starts_with("replay:")) {
    const std::string path(source.substr(7));
    auto loaded = loadRecording(path);
    if (!loaded) {
      return Problem{loaded.error()};
    }
    Recording& recording = (*loaded);
    for (const std::string& problem : recording.warnings) {
      std::fprintf(stderr, "skyvane-sim: %s\n", problem.c_str());
    }
    const std::size_t lines = recording.times.size();
    auto replay = std::make_unique<ReplayFeed>(std::move(recording));
    replay->storeAt(0, space);
    feed.sources.push_back(std::move(replay));
    feed.description = "replay of " + path + ", " + std::to_string(lines) + " lines";
    publishSteady(space, simlink::FeedKind::Replay, path);
  } else if (source == "cruise") {
    applyCruise(space);
    feed.description = "steady cruise";
    publishSteady(space, simlink::FeedKind::Cruise);
  } else if (options.source == "flightgear" || options.source.starts_with("flightgear:")) {
    return makeFlightGearFeed(options, space);
  } else if (options.source == "xplane" || options.source.starts_with("xplane:")) {
    return makeXPlaneFeed(options, space);
  } else {
    return Problem{"unknown feed \"" + options.source + "\""};
  }
  return feed;
}

void applyCruise(server::OffsetSpace& space) {
  using catalogue::index;
  using catalogue::kRows;
  // Physical values in the row's own unit (see the catalogue).
  // clang-format off
  static constexpr std::pair<std::size_t, long double> kCruise[] = {
      {index("airspeed"), 142},         {index("verticalSpeed"), 0},       {index("altimeterSetting"), 1013.25},
      {index("ball"), 0},               {index("turnRate"), 0},            {index("headingBug"), 90},
      {index("vor1Deviation"), 12},     {index("vor1GlideDeviation"), 0},  {index("vor1ToFrom"), 1},
      {index("vor1GlideValid"), 0},     {index("vor1Course"), 95},         {index("vor2Deviation"), -30},
      {index("vor2ToFrom"), 2},         {index("vor2Course"), 270},        {index("adfBearing"), 25},
      {index("adfCard"), 0},            {index("vor2GlideDeviation"), 0},  {index("vor2GlideValid"), 0},
      {index("outsideAirTemp"), 4.5},   {index("powerSwitch"), 1},         {index("ammeter"), 12.5},
      {index("busVoltage"), 28.2},      {index("gyroHeading"), 92.5},      {index("pitch"), 1.5},
      {index("bank"), 0},               {index("altitude"), 6500},         {index("gyroSuction"), 4.9},
      {index("fuelWeight"), 6},
  };
  // clang-format on
  for (const auto& [row, value] : kCruise) {
    space.setPhysical(kRows[row], value);
  }
  // Both engines at cruise power; Rankine temperatures are °F + 459.67.
  // clang-format off
  static constexpr std::pair<std::string_view, long double> kEngine[] = {
      {"running", 1},          {"rpmFraction", 0.2},  {"rpmScaler", 12000},     {"oilTemp", 85},
      {"oilPressure", 62},     {"manifoldPressure", 24}, {"cht", 380},         {"fuelPressure", 28},
      {"fuelFlow", 78},        {"torque", 0},         {"n1", 0},               {"torquePercent", 0},
      {"itt", 459.67 + 50},    {"propSpeed", 0.8},    {"egt", 459.67 + 1350},  {"carbTemp", 459.67 + 40},
  };
  // clang-format on
  for (std::uint8_t engine = 1; engine <= 2; ++engine) {
    for (const auto& [name, value] : kEngine) {
      space.setPhysical(kRows[index(name, engine)], value);
    }
  }
  // Level fractions and capacities in US gallons: mains 3/4 full, centre half.
  // clang-format off
  static constexpr std::pair<std::string_view, long double> kTanks[] = {
      {"tankLeft1Level", 0.75},   {"tankLeft1Capacity", 40},   {"tankRight1Level", 0.75},
      {"tankRight1Capacity", 40}, {"tankCentre1Level", 0.5},   {"tankCentre1Capacity", 20},
  };
  // clang-format on
  for (const auto& [name, value] : kTanks) {
    space.setPhysical(kRows[index(name)], value);
  }
}

}  // namespace feeds
