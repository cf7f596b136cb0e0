// The demo flight: a small kinematic model of a light aircraft flying one circuit of a day's work, from cold
// and dark through start-up, taxi, take-off, a climb, a turn onto a radio radial, a cruise, an instrument
// approach and a landing to shutdown, then again. Every value follows from the few the model integrates
// (position, altitude, speed, heading, bank, power, fuel, temperatures), so the instruments agree with each
// other. Deterministic: the same aircraft and seed give the same flight.
#pragma once

#include "DemoAircraft.h"
#include "OffsetSpace.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace feeds {

using settings::DemoAircraft;
using settings::parseDemoAircraft;

enum class DemoPhase {
  ColdAndDark,
  BatteryOn,
  EngineStart,
  Taxi,
  TakeOff,
  Climb,
  Cruise,
  Approach,
  Landing,
  TaxiIn,
  Shutdown,
};
std::string_view phaseName(DemoPhase phase);

// What one engine shows, in the units of its instruments.
struct DemoEngine {
  bool running = false;
  double rpm = 0;        // crankshaft (piston) or propeller (turboprop) revolutions per minute
  double n1Percent = 0;  // gas generator speed (turboprop)
  double manifoldInHg = 0;
  double oilTempC = 0;
  double oilPressurePsi = 0;
  double chtF = 0;
  double egtF = 0;
  double ittC = 0;
  double torquePercent = 0;
  double fuelFlowPph = 0;
  double fuelPressurePsi = 0;
  double carbTempC = 0;
  double propFraction = 0;  // propeller speed as a fraction of the maximum propeller RPM
};

struct DemoState {
  double timeS = 0;  // since the start of this loop
  int loop = 0;
  DemoPhase phase = DemoPhase::ColdAndDark;
  double phaseTimeS = 0;

  double xNm = 0;  // east of the departure runway's threshold
  double yNm = 0;  // north of it
  double altitudeFt = 0;
  double iasKt = 0;
  double headingDeg = 0;  // 0 .. 360
  double bankDeg = 0;     // right wing down positive
  double pitchDeg = 0;
  double verticalSpeedFpm = 0;
  double turnRateDps = 0;  // heading change, degrees per second
  double slipBall = 0;     // -1 .. 1, right positive
  double headingBugDeg = 0;

  bool powerOn = false;
  double busVolts = 0;
  double amps = 0;
  double suctionInHg = 0;
  double oatC = 15;
  double qnhHpa = 1013.25;

  std::array<DemoEngine, 2> engines{};
  double tankLeftGal = 0;
  double tankRightGal = 0;
  double tankCapacityGal = 0;  // each of the two
  double fuelLbPerGal = 6;

  // The radios: receiver 1 on the en-route station, later on the localiser; receiver 2 on a crossing station.
  double nav1CourseDeg = 0;
  double nav1DeviationDots = 0;  // -1 .. 1 of full scale, positive: the course lies to the right
  int nav1ToFrom = 0;            // 0 none, 1 to, 2 from
  bool nav1GlideValid = false;
  double nav1GlideDots = 0;  // positive: the glide path lies above
  double nav2CourseDeg = 0;
  double nav2DeviationDots = 0;
  int nav2ToFrom = 0;
  double adfRelativeDeg = 0;  // -180 .. 180
  int fuelPage = 0;           // the page code most recently asked for (10 .. 14), 0 before any
};

class DemoFlight {
public:
  DemoFlight(DemoAircraft aircraft, std::uint32_t seed);

  // Moves the flight on by `seconds` of flight time (any amount; integrated in steps of at most 0.05 s).
  void advance(double seconds);
  const DemoState& state() const { return m_state; }
  DemoAircraft aircraft() const { return m_aircraft; }
  int engineCount() const { return m_aircraft == DemoAircraft::Twin ? 2 : 1; }

  // Every catalogue variable the flight knows, in the space. The fuel statistics selector is written only
  // when the flight asks for a new page (the panel clears it once read).
  void store(server::OffsetSpace& space);

  // The maximum propeller RPM the demo's settings name, to which propFraction refers.
  double maxPropRpm() const;

private:
  void step(double dt);
  void enterPhase(DemoPhase phase);
  // What a phase asks of the aircraft: target airspeed (kt), vertical speed (ft/min), heading (degrees) and
  // power (0..1).
  struct Guidance {
    double ias = 0;
    double vs = 0;
    double heading = 0;
    double power = 0;
  };
  Guidance guidePhase();
  void guideAirbornePhase(Guidance& g);
  void flyAirborne(double dt, double targetIas, double targetVs, double targetHeading);
  void rollOnGround(double dt, double targetIas, double targetHeading);
  void runEngines(double dt, double power);
  void runSystems(double dt);
  void burnFuel(double dt);
  void tuneRadios();
  void nextPageRequest();
  double turbulence();
  void startLoop();

  DemoAircraft m_aircraft;
  std::uint32_t m_seed;
  std::uint32_t m_random;
  DemoState m_state;
  double m_nextPageS = 0;
  int m_storedPage = 0;
};

}  // namespace feeds
