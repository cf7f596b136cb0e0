// The demo flight's model: phases, guidance, kinematics, engines, systems, radios.
#include "DemoFlight.h"

#include "Catalogue.h"

#include <algorithm>
#include <cmath>

namespace feeds {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFtPerNm = 6076.12;
constexpr double kFpmPerKt = 101.269;  // one knot in feet per minute
constexpr double kMaxStepS = 0.05;
constexpr double kRankine = 459.67;

double rad(double deg) {
  return deg * kPi / 180;
}
double deg(double rad) {
  return rad * 180 / kPi;
}
// -180 .. 180
double wrap180(double d) {
  d = std::fmod(d + 180, 360);
  return d < 0 ? d + 180 : d - 180;
}
double wrap360(double d) {
  d = std::fmod(d, 360);
  return d < 0 ? d + 360 : d;
}
// First-order approach of `value` towards `target` with time constant `tau` seconds.
void approach(double& value, double target, double tau, double dt) {
  value += (target - value) * (1 - std::exp(-dt / tau));
}
// Moves `value` towards `target` by at most `rate` per second.
void slew(double& value, double target, double rate, double dt) {
  value += std::clamp(target - value, -rate * dt, rate * dt);
}

// The airfields and radio stations, in nautical miles from the departure runway's threshold.
struct Point {
  double x, y;
};
constexpr double kDepartureElevationFt = 300;
constexpr double kArrivalElevationFt = 400;
constexpr Point kEnRouteVor{8, 14};
constexpr double kRadialDeg = 45;  // flown to the station and on from it
constexpr Point kCrossingVor{20, 5};
constexpr double kCrossingCourseDeg = 330;
constexpr Point kThreshold{26.5, 31.0};  // the arrival runway, landing towards 050
constexpr double kRunwayDeg = 50;
constexpr double kGlidePathDeg = 3;
constexpr double kLocaliserFullScaleDeg = 2.5;
constexpr double kVorFullScaleDeg = 10;
constexpr double kGlideFullScaleDeg = 0.7;
constexpr double kCruiseAltitudeFt = 4500;
constexpr double kInterceptAltitudeFt = 2500;
constexpr double kApproachStartNm = 14;  // distance before the threshold

// Where a point lies relative to a course line through `origin`: along it (positive beyond the origin) and to
// the right of it, both in nautical miles.
struct CourseOffset {
  double along, right;
};
CourseOffset offsetFrom(Point origin, double courseDeg, double x, double y) {
  const double dx = x - origin.x;
  const double dy = y - origin.y;
  const double sx = std::sin(rad(courseDeg));
  const double sy = std::cos(rad(courseDeg));
  return {dx * sx + dy * sy, dx * sy - dy * sx};
}

struct Profile {
  double climbIasKt, cruiseIasKt, approachIasKt, rotateKt;
  double climbFpm;
  double tankCapacityGal;
  double fuelLbPerGal;
  double ffScale;  // fuel flow relative to the single's engine
};
constexpr Profile kSingle{75, 110, 85, 55, 700, 26, 6.0, 1.0};
constexpr Profile kTwin{95, 150, 105, 75, 1100, 50, 6.0, 1.6};
constexpr Profile kTurboprop{120, 200, 120, 85, 1500, 120, 6.7, 1.0};

const Profile& profileOf(DemoAircraft a) {
  return a == DemoAircraft::Twin ? kTwin : a == DemoAircraft::Turboprop ? kTurboprop : kSingle;
}

}  // namespace

std::string_view phaseName(DemoPhase phase) {
  static constexpr std::string_view kNames[] = {"cold and dark", "battery on", "engine start", "taxi",
                                                "take-off",      "climb",      "cruise",       "approach",
                                                "landing",       "taxi in",    "shutdown"};
  return kNames[static_cast<int>(phase)];
}

DemoFlight::DemoFlight(DemoAircraft aircraft, std::uint32_t seed)
    : m_aircraft(aircraft),
      m_seed(seed),
      m_random(seed * 2654435761u + 12345u) {
  startLoop();
}

double DemoFlight::maxPropRpm() const {
  return m_aircraft == DemoAircraft::Turboprop ? 2000 : 2700;
}

double DemoFlight::turbulence() {
  // xorshift32: a small, seedable, platform-independent sequence; the result is in -1 .. 1.
  m_random ^= m_random << 13;
  m_random ^= m_random >> 17;
  m_random ^= m_random << 5;
  return static_cast<double>(m_random) / 2147483648.0 - 1;
}

void DemoFlight::startLoop() {
  const int loop = m_state.loop;
  const bool first = m_state.timeS == 0 && loop == 0;
  m_state = DemoState{};
  m_state.loop = first ? 0 : loop + 1;
  const Profile& p = profileOf(m_aircraft);
  m_state.xNm = -0.15;
  m_state.yNm = -0.2;
  m_state.altitudeFt = kDepartureElevationFt;
  m_state.headingDeg = 90;
  m_state.headingBugDeg = 360;
  m_state.tankCapacityGal = p.tankCapacityGal;
  m_state.tankLeftGal = m_state.tankRightGal = p.tankCapacityGal * 0.9;
  m_state.fuelLbPerGal = p.fuelLbPerGal;
  m_state.oatC = 15 - kDepartureElevationFt * 0.00198 + 4 * std::sin(m_seed * 0.7);
  m_state.qnhHpa = 1013.25;
  for (DemoEngine& e : m_state.engines) {
    e = DemoEngine{};
    e.oilTempC = e.carbTempC = m_state.oatC;
    e.chtF = e.egtF = m_state.oatC * 9 / 5 + 32;
    e.ittC = m_state.oatC;
    e.manifoldInHg = 29.92 - m_state.altitudeFt / 1000;
  }
  m_nextPageS = 30;
  tuneRadios();
}

void DemoFlight::advance(double seconds) {
  while (seconds > 1e-9) {
    const double dt = std::min(seconds, kMaxStepS);
    step(dt);
    seconds -= dt;
  }
}

void DemoFlight::enterPhase(DemoPhase phase) {
  m_state.phase = phase;
  m_state.phaseTimeS = 0;
}

void DemoFlight::step(double dt) {
  DemoState& s = m_state;
  s.timeS += dt;
  s.phaseTimeS += dt;
  const Guidance g = guidePhase();
  if (s.phase == DemoPhase::Climb || s.phase == DemoPhase::Cruise || s.phase == DemoPhase::Approach ||
      (s.phase == DemoPhase::TakeOff && s.altitudeFt > kDepartureElevationFt) ||
      (s.phase == DemoPhase::Landing && s.altitudeFt > kArrivalElevationFt)) {
    flyAirborne(dt, g.ias, g.vs, g.heading);
  } else {
    rollOnGround(dt, g.ias, g.heading);
  }
  runEngines(dt, g.power);
  runSystems(dt);
  burnFuel(dt);
  tuneRadios();
  if (s.timeS >= m_nextPageS) {
    nextPageRequest();
  }
}

// What each phase asks for, and when it hands over to the next: the ground phases here, the airborne ones in
// guideAirbornePhase. Unset targets keep their defaults (standing still, holding the heading, idle).
DemoFlight::Guidance DemoFlight::guidePhase() {
  DemoState& s = m_state;
  Guidance g{.heading = s.headingDeg};
  const double startTime = m_aircraft == DemoAircraft::Twin ? 35 : 25;
  switch (s.phase) {
    case DemoPhase::ColdAndDark:
      if (s.phaseTimeS >= 20) enterPhase(DemoPhase::BatteryOn);
      break;
    case DemoPhase::BatteryOn:
      s.powerOn = true;
      if (s.phaseTimeS >= 15) enterPhase(DemoPhase::EngineStart);
      break;
    case DemoPhase::EngineStart:
      g.power = 0.08;
      if (s.phaseTimeS >= startTime + 10) enterPhase(DemoPhase::Taxi);
      break;
    case DemoPhase::Taxi:
      // Out of the parking area, along the taxiway, then lined up on the runway and stopped.
      g.power = s.phaseTimeS < 70 ? 0.22 : 0.1;
      g.ias = s.phaseTimeS < 70 ? 12 : 0;
      g.heading = s.phaseTimeS < 20 ? 90 : s.phaseTimeS < 45 ? 180 : s.phaseTimeS < 60 ? 270 : 360;
      if (s.phaseTimeS >= 80) enterPhase(DemoPhase::TakeOff);
      break;
    case DemoPhase::TaxiIn:
      g.power = s.phaseTimeS < 45 ? 0.2 : 0.08;
      g.ias = s.phaseTimeS < 45 ? 10 : 0;
      g.heading = s.phaseTimeS < 15 ? kRunwayDeg : 140;
      if (s.phaseTimeS >= 55) enterPhase(DemoPhase::Shutdown);
      break;
    case DemoPhase::Shutdown:
      if (s.phaseTimeS >= 12) s.powerOn = false;
      if (s.phaseTimeS >= 25) startLoop();
      break;
    default:
      guideAirbornePhase(g);
      break;
  }
  return g;
}

// Take-off to landing.
void DemoFlight::guideAirbornePhase(Guidance& g) {
  DemoState& s = m_state;
  const Profile& p = profileOf(m_aircraft);
  switch (s.phase) {
    case DemoPhase::TakeOff:
      g.power = 1;
      g.ias = p.climbIasKt;
      g.heading = 360;
      g.vs = s.iasKt >= p.rotateKt + 5 ? p.climbFpm : 0;
      if (s.altitudeFt > kDepartureElevationFt + 400) enterPhase(DemoPhase::Climb);
      break;
    case DemoPhase::Climb:
      g.power = 0.85;
      g.ias = p.climbIasKt;
      g.vs = s.altitudeFt < kCruiseAltitudeFt - 50 ? p.climbFpm : 0;
      if (s.altitudeFt < kDepartureElevationFt + 900) g.heading = 360;  // then the radial (flyAirborne)
      if (s.altitudeFt >= kCruiseAltitudeFt - 50) enterPhase(DemoPhase::Cruise);
      break;
    case DemoPhase::Cruise: {
      g.power = 0.7;
      g.ias = p.cruiseIasKt;
      g.vs = (kCruiseAltitudeFt - s.altitudeFt) * 2;
      const CourseOffset toRunway = offsetFrom(kThreshold, kRunwayDeg, s.xNm, s.yNm);
      if (-toRunway.along < kApproachStartNm) enterPhase(DemoPhase::Approach);
      break;
    }
    case DemoPhase::Approach: {
      g.power = 0.45;
      g.ias = p.approachIasKt;
      const double groundKt = s.iasKt * (1 + 0.02 * s.altitudeFt / 1000);
      const double pathFpm = groundKt * kFpmPerKt * std::tan(rad(kGlidePathDeg));
      // Down to the intercept altitude; from the glide path on, down the glide path.
      if (s.nav1GlideValid && s.nav1GlideDots <= 0.05) {
        g.vs = -pathFpm + s.nav1GlideDots * 400;
      } else {
        g.vs = s.altitudeFt > kInterceptAltitudeFt ? -500 : (kInterceptAltitudeFt - s.altitudeFt) * 2;
      }
      if (s.altitudeFt < kArrivalElevationFt + 50) enterPhase(DemoPhase::Landing);
      break;
    }
    case DemoPhase::Landing:
      g.power = 0.1;
      g.ias = s.altitudeFt > kArrivalElevationFt ? p.rotateKt : 0;
      g.vs = -120;
      g.heading = kRunwayDeg;
      if (s.altitudeFt <= kArrivalElevationFt && s.iasKt < 12) enterPhase(DemoPhase::TaxiIn);
      break;
    default:
      break;
  }
}

void DemoFlight::flyAirborne(double dt, double targetIas, double targetVs, double targetHeading) {
  DemoState& s = m_state;
  // Lateral guidance above the departure: onto the radial, later the localiser, with an intercept of up to 30°.
  if (s.phase == DemoPhase::Cruise || s.phase == DemoPhase::Approach ||
      (s.phase == DemoPhase::Climb && s.altitudeFt >= kDepartureElevationFt + 900)) {
    const bool onLocaliser = s.phase == DemoPhase::Approach;
    const Point origin = onLocaliser ? kThreshold : kEnRouteVor;
    const double course = onLocaliser ? kRunwayDeg : kRadialDeg;
    const CourseOffset o = offsetFrom(origin, course, s.xNm, s.yNm);
    targetHeading = course - std::clamp(o.right * 25, -30.0, 30.0);
    // The pilot sets the bug to the heading being flown towards, in 5° steps.
    const double bug = wrap360(std::round(targetHeading / 5) * 5);
    if (std::fabs(wrap180(bug - s.headingBugDeg)) >= 5) {
      s.headingBugDeg = bug;
    }
  }
  const double tasKt = std::max(40.0, s.iasKt * (1 + 0.02 * s.altitudeFt / 1000));
  const double gust = s.phase == DemoPhase::Cruise ? turbulence() : 0;
  const double wantedRate = std::clamp(wrap180(targetHeading - s.headingDeg) * 0.3, -3.0, 3.0);
  const double wantedBank = deg(std::atan(wantedRate * tasKt / 1091.0)) + gust * 1.5;
  slew(s.bankDeg, std::clamp(wantedBank, -30.0, 30.0), 5, dt);
  s.turnRateDps = 1091.0 * std::tan(rad(s.bankDeg)) / tasKt;
  s.headingDeg = wrap360(s.headingDeg + s.turnRateDps * dt);

  slew(s.verticalSpeedFpm, targetVs + gust * 60, 300, dt);
  s.altitudeFt += s.verticalSpeedFpm / 60 * dt;
  slew(s.iasKt, targetIas, 2, dt);
  const double gamma = deg(std::atan(s.verticalSpeedFpm / (tasKt * kFpmPerKt)));
  const double alpha = std::clamp(3 + (90 - s.iasKt) * 0.08, 0.0, 10.0);
  slew(s.pitchDeg, gamma + alpha, 4, dt);
  s.slipBall = gust * 0.05;

  const double groundNmPerS = tasKt / 3600;
  s.xNm += groundNmPerS * std::sin(rad(s.headingDeg)) * dt;
  s.yNm += groundNmPerS * std::cos(rad(s.headingDeg)) * dt;
}

void DemoFlight::rollOnGround(double dt, double targetIas, double targetHeading) {
  DemoState& s = m_state;
  const double elevation = s.phase >= DemoPhase::Landing ? kArrivalElevationFt : kDepartureElevationFt;
  s.altitudeFt = elevation;
  slew(s.verticalSpeedFpm, 0, 600, dt);
  slew(s.bankDeg, 0, 5, dt);
  // Rolling up to rotation speed with the nose down; the nose comes up just before lift-off.
  const Profile& p = profileOf(m_aircraft);
  const double noseUp = s.phase == DemoPhase::TakeOff && s.iasKt >= p.rotateKt ? 8 : 0;
  slew(s.pitchDeg, noseUp, 3, dt);
  const double accel = s.phase == DemoPhase::TakeOff ? 3 : 2;
  slew(s.iasKt, targetIas, s.iasKt > targetIas ? 3 : accel, dt);
  if (s.phase == DemoPhase::TakeOff && s.iasKt >= p.rotateKt + 5) {
    s.altitudeFt = elevation + 0.5;  // lift-off: the air takes over next step
    s.verticalSpeedFpm = 300;
  }
  const double rate = s.iasKt > 2 ? std::clamp(wrap180(targetHeading - s.headingDeg) * 0.5, -8.0, 8.0) : 0;
  s.turnRateDps = rate;
  s.headingDeg = wrap360(s.headingDeg + rate * dt);
  s.slipBall = std::clamp(-rate / 8 * 0.4, -1.0, 1.0);  // a taxiing turn skids the ball outward
  const double nmPerS = s.iasKt / 3600;
  s.xNm += nmPerS * std::sin(rad(s.headingDeg)) * dt;
  s.yNm += nmPerS * std::cos(rad(s.headingDeg)) * dt;
}

void DemoFlight::runEngines(double dt, double power) {
  DemoState& s = m_state;
  const double ambientInHg = 29.92 - s.altitudeFt / 1000;
  const double ambientF = s.oatC * 9 / 5 + 32;
  const Profile& p = profileOf(m_aircraft);
  for (int i = 0; i < engineCount(); ++i) {
    DemoEngine& e = s.engines[static_cast<std::size_t>(i)];
    // Engine 2 starts ten seconds after engine 1 and shuts down with it.
    const double startAt = 3 + 10.0 * i;
    const bool starting = s.phase == DemoPhase::EngineStart && s.phaseTimeS >= startAt - 3 && !e.running;
    if (s.phase == DemoPhase::EngineStart && s.phaseTimeS >= startAt) {
      e.running = true;
    }
    if (s.phase == DemoPhase::Shutdown || s.phase < DemoPhase::EngineStart) {
      e.running = false;
    }
    const double pw = e.running ? std::max(power, 0.05) * (1 + 0.01 * i) : 0;
    if (m_aircraft == DemoAircraft::Turboprop) {
      const double n1 = e.running ? 60 + 40 * pw : starting ? 20 : 0;
      approach(e.n1Percent, n1, e.running ? 2.5 : 6, dt);
      const double itt = e.running ? 450 + 330 * pw : s.oatC;
      approach(e.ittC, itt, e.running ? 4 : 60, dt);
      approach(e.torquePercent, e.running ? 10 + 90 * std::pow(pw, 1.2) : 0, 2, dt);
      const double propRpm = e.running ? 1000 + 700 * std::min(1.0, pw * 1.4) : 0;
      approach(e.rpm, propRpm, 3, dt);
      approach(e.fuelFlowPph, e.running ? 120 + 330 * pw : 0, 2, dt);
      approach(e.oilPressurePsi, e.running ? 60 + 40 * e.n1Percent / 100 : 0, 3, dt);
      approach(e.fuelPressurePsi, e.running || starting ? 25 + 10 * pw : 0, 2, dt);
      e.manifoldInHg = ambientInHg;
      approach(e.chtF, ambientF, 300, dt);
      approach(e.egtF, ambientF, 60, dt);
    } else {
      const double rpm = e.running ? 800 + 1800 * pw : starting ? 250 : 0;
      approach(e.rpm, rpm, e.running ? 1.5 : 1, dt);
      approach(e.manifoldInHg, e.running ? std::max(10.5, ambientInHg - (1 - pw) * 16) : ambientInHg, 1, dt);
      approach(e.fuelFlowPph, e.running ? 6 * (1.5 + 10 * pw) * p.ffScale : 0, 1, dt);
      approach(e.oilPressurePsi, e.running ? 25 + 40 * e.rpm / 2700 : 0, 3, dt);
      approach(e.fuelPressurePsi, e.running || starting ? 4 + 2 * pw : 0, 2, dt);
      approach(e.chtF, e.running ? 150 + 250 * pw : ambientF, e.running ? 60 : 300, dt);
      approach(e.egtF, e.running ? 900 + 500 * pw : ambientF, e.running ? 10 : 60, dt);
      e.n1Percent = 0;
      e.ittC = s.oatC;
      e.torquePercent = 0;
    }
    approach(e.oilTempC, e.running ? 40 + 50 * pw + s.oatC * 0.3 : s.oatC, e.running ? 120 : 600, dt);
    approach(e.carbTempC, s.oatC - (e.running ? 12 * pw : 0), 20, dt);
    e.propFraction = e.rpm / maxPropRpm();
  }
}

void DemoFlight::runSystems(double dt) {
  DemoState& s = m_state;
  const DemoEngine& e = s.engines[0];
  const bool charging = s.powerOn && e.running && (e.rpm > 700 || e.n1Percent > 50);
  approach(s.busVolts, !s.powerOn ? 0 : charging ? 28.2 : 24.3, 0.8, dt);
  // After a start the alternator refills the battery: a high charge that settles.
  double amps = 0;
  if (charging) {
    amps = s.phase == DemoPhase::EngineStart ? 25 : s.phase == DemoPhase::Taxi ? 12 : 4;
  } else if (s.powerOn) {
    amps = -6;
  }
  approach(s.amps, amps, 4, dt);
  const bool pump = e.running && m_aircraft != DemoAircraft::Turboprop;
  approach(s.suctionInHg,
           pump                                                 ? 4.2 + 0.8 * e.rpm / 2700
           : m_aircraft == DemoAircraft::Turboprop && e.running ? 4.8
                                                                : 0,
           2, dt);
  s.oatC = 15 - s.altitudeFt * 0.00198 + 4 * std::sin(m_seed * 0.7);
}

void DemoFlight::burnFuel(double dt) {
  DemoState& s = m_state;
  double pph = 0;
  for (int i = 0; i < engineCount(); ++i) {
    pph += s.engines[static_cast<std::size_t>(i)].fuelFlowPph;
  }
  const double gallons = pph / s.fuelLbPerGal / 3600 * dt;
  s.tankLeftGal = std::max(0.0, s.tankLeftGal - gallons / 2);
  s.tankRightGal = std::max(0.0, s.tankRightGal - gallons / 2);
}

void DemoFlight::tuneRadios() {
  DemoState& s = m_state;
  if (!s.powerOn) {
    s.nav1ToFrom = s.nav2ToFrom = 0;
    s.nav1DeviationDots = s.nav2DeviationDots = s.nav1GlideDots = 0;
    s.nav1GlideValid = false;
    s.adfRelativeDeg = 0;
    s.nav1CourseDeg = kRadialDeg;
    s.nav2CourseDeg = kCrossingCourseDeg;
    return;
  }
  const double altAboveThresholdFt = s.altitudeFt - kArrivalElevationFt;
  // Receiver 1: the en-route station, then (from the approach on) the localiser and its glide path.
  const bool ils = s.phase >= DemoPhase::Approach && s.phase <= DemoPhase::Landing;
  if (ils) {
    s.nav1CourseDeg = kRunwayDeg;
    // The localiser antenna stands 1 NM beyond the threshold, the glide path's 1000 ft after it.
    const CourseOffset antenna = offsetFrom(kThreshold, kRunwayDeg, s.xNm, s.yNm);
    const double toAntennaNm = 1 - antenna.along;
    const double angle = deg(std::atan2(antenna.right, std::max(0.01, toAntennaNm)));
    s.nav1DeviationDots = std::clamp(-angle / kLocaliserFullScaleDeg, -1.0, 1.0);
    s.nav1ToFrom = toAntennaNm > 0 ? 1 : 2;
    const double toGlideFt = (1000.0 / kFtPerNm - antenna.along) * kFtPerNm;
    s.nav1GlideValid = toGlideFt > 300 && toGlideFt < 18 * kFtPerNm && std::fabs(angle) < 10;
    const double pathDeg = deg(std::atan2(altAboveThresholdFt, std::max(1.0, toGlideFt)));
    s.nav1GlideDots = s.nav1GlideValid ? std::clamp((kGlidePathDeg - pathDeg) / kGlideFullScaleDeg, -1.0, 1.0) : 0;
  } else {
    s.nav1CourseDeg = kRadialDeg;
    const CourseOffset o = offsetFrom(kEnRouteVor, kRadialDeg, s.xNm, s.yNm);
    const double angle = deg(std::atan2(o.right, std::max(0.05, std::fabs(o.along))));
    s.nav1DeviationDots = std::clamp(-angle / kVorFullScaleDeg, -1.0, 1.0);
    s.nav1ToFrom = o.along < 0 ? 1 : 2;
    s.nav1GlideValid = false;
    s.nav1GlideDots = 0;
  }
  // Receiver 2: a crossing station's 330 course.
  const CourseOffset c = offsetFrom(kCrossingVor, kCrossingCourseDeg, s.xNm, s.yNm);
  s.nav2CourseDeg = kCrossingCourseDeg;
  s.nav2DeviationDots =
      std::clamp(-deg(std::atan2(c.right, std::max(0.05, std::fabs(c.along)))) / kVorFullScaleDeg, -1.0, 1.0);
  s.nav2ToFrom = c.along < 0 ? 1 : 2;
  // The ADF on the outer marker's beacon, 4.5 NM before the threshold.
  const double nx = kThreshold.x - 4.5 * std::sin(rad(kRunwayDeg));
  const double ny = kThreshold.y - 4.5 * std::cos(rad(kRunwayDeg));
  s.adfRelativeDeg = wrap180(deg(std::atan2(nx - s.xNm, ny - s.yNm)) - s.headingDeg);
}

void DemoFlight::nextPageRequest() {
  // Every page of the fuel statistics in turn, one every 30 seconds of flight.
  m_state.fuelPage = m_state.fuelPage >= 10 && m_state.fuelPage < 14 ? m_state.fuelPage + 1 : 10;
  m_nextPageS = m_state.timeS + 30;
}

void DemoFlight::store(server::OffsetSpace& space) {
  using catalogue::index;
  using catalogue::kRows;
  const DemoState& s = m_state;
  const auto set = [&](std::size_t row, double value) { space.setPhysical(kRows[row], value); };
  set(index("airspeed"), s.iasKt);
  set(index("verticalSpeed"), s.verticalSpeedFpm);
  set(index("altimeterSetting"), s.qnhHpa);
  set(index("ball"), s.slipBall * 127);
  set(index("turnRate"), s.turnRateDps / 3 * 512);  // a standard-rate turn (3°/s) is 512
  set(index("headingBug"), wrap360(s.headingBugDeg));
  set(index("vor1Deviation"), s.nav1DeviationDots * 127);
  set(index("vor1GlideDeviation"), -s.nav1GlideDots * 127);  // positive: the needle goes down
  set(index("vor1ToFrom"), s.nav1ToFrom);
  set(index("vor1GlideValid"), s.nav1GlideValid ? 1 : 0);
  set(index("vor1Course"), std::round(s.nav1CourseDeg));
  set(index("vor2Deviation"), s.nav2DeviationDots * 127);
  set(index("vor2ToFrom"), s.nav2ToFrom);
  set(index("vor2Course"), std::round(s.nav2CourseDeg));
  set(index("vor2GlideDeviation"), 0);
  set(index("vor2GlideValid"), 0);
  set(index("adfBearing"), s.adfRelativeDeg);
  set(index("adfCard"), 0);
  set(index("outsideAirTemp"), s.oatC);
  set(index("powerSwitch"), s.powerOn ? 1 : 0);
  set(index("ammeter"), s.amps);
  set(index("busVoltage"), s.busVolts);
  set(index("gyroHeading"), s.headingDeg);
  set(index("pitch"), s.pitchDeg);
  set(index("bank"), s.bankDeg);
  set(index("altitude"), std::round(s.altitudeFt));
  set(index("gyroSuction"), s.suctionInHg);
  set(index("fuelWeight"), s.fuelLbPerGal);
  constexpr double kRpmScaler = 8192;  // the speed fraction is a signed 16-bit value: below 0.5 of this
  for (std::uint8_t n = 1; n <= 2; ++n) {
    const DemoEngine& e = s.engines[n - 1u];
    set(index("running", n), e.running ? 1 : 0);
    set(index("rpmScaler", n), kRpmScaler);
    set(index("rpmFraction", n), e.rpm / kRpmScaler);
    set(index("oilTemp", n), e.oilTempC);
    set(index("oilPressure", n), e.oilPressurePsi);
    set(index("manifoldPressure", n), e.manifoldInHg);
    set(index("cht", n), e.chtF);
    set(index("fuelPressure", n), e.fuelPressurePsi);
    set(index("fuelFlow", n), e.fuelFlowPph);
    set(index("torque", n), e.torquePercent);
    set(index("n1", n), e.n1Percent);
    set(index("torquePercent", n), e.torquePercent);
    set(index("itt", n), e.ittC * 1.8 + 32 + kRankine);
    set(index("propSpeed", n), e.propFraction);
    set(index("egt", n), e.egtF + kRankine);
    set(index("carbTemp", n), e.carbTempC * 1.8 + 32 + kRankine);
  }
  set(index("tankLeft1Capacity"), s.tankCapacityGal);
  set(index("tankRight1Capacity"), s.tankCapacityGal);
  set(index("tankLeft1Level"), s.tankLeftGal / s.tankCapacityGal);
  set(index("tankRight1Level"), s.tankRightGal / s.tankCapacityGal);
  if (s.fuelPage != m_storedPage) {
    set(index("fuelStatsSelector"), s.fuelPage);
    m_storedPage = s.fuelPage;
  }
}

}  // namespace feeds
