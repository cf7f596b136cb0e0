// FlightGear's side of the bridge: the protocol file skyvane.xml in FlightGear's Protocol folder, made from the
// mapping skyvane-sim uses (flightgear.map in the data directory, else the built-in one).
#pragma once

#include "Result.h"

#include <string>

namespace front {

// FlightGear's data folder: $FG_ROOT, else Debian's /usr/share/games/flightgear, else the FG_ROOT that
// `fgfs --version` prints.
Result<std::string> flightGearRoot();

// The protocol file for the mapping in use.
Result<std::string> currentProtocol();

// Writes the protocol file into `root`/Protocol; without the right to, keeps it in the data directory and
// says the one command that installs it. What happened, for the user.
Result<std::string> installProtocol(const std::string& root);

// A warning when `root`/Protocol/skyvane.xml is missing or differs from the protocol for the mapping in use;
// empty when it is the same.
std::string protocolWarning(const std::string& root);

}  // namespace front
