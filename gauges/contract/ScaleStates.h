// What the dial builders leave for the instrument needles, the one thing the dials and the 30 ms tick share:
// per scale its start angle A (degrees clockwise from 12 o'clock), first value F and degrees per unit k.
#pragma once

namespace gauges {

struct ScaleState {
  long double startAngle = 0;      // A
  long double firstValue = 0;      // F
  long double degreesPerUnit = 0;  // k; 0 until a builder ran
};

// One set per configurable section: both windows of an engine pair share theirs.
struct ScaleStates {
  ScaleState rpm, manPres, oilTemp, oilPsi, propRpm, itt, torque, ff, egt, cht, fuelQtyLeftRight, fuelQtyCenter, oat,
      fuelPsi, carbTemp, volt, amp;
  long double airspeedK = 0;
  long double suctionK = 0;
};

}  // namespace gauges
