// One real instrument tick for a picture: against a private in-process server holding the values of --set and
// --poke, or against a server already running (--from-sim).
#pragma once

#include "Assignments.h"
#include "InstrumentTick.h"
#include "Result.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

// Starts a server on a private runtime directory whose offset space holds nothing but the assignments (in
// order), opens the link to it, runs one tick and takes it all down again. An error text, or empty.
Result<void> tickWithValues(instruments::InstrumentTick& tick, const std::vector<simlink::Assignment>& assignments);

// Opens the link once to the server of the current runtime directory, runs one tick, closes the link. An error
// text, or empty.
Result<void> tickFromRunningServer(instruments::InstrumentTick& tick);
