// A test that runs past its limit reports itself before ctest kills it. ctest's own limit kills silently, so a
// test that hangs once in twenty runs under load would leave nothing to go on.
#pragma once

// From now on, a phase of this process (the set-up before the first test, each test, what follows a test) that
// runs longer than `seconds` prints its name and the stack of every thread of the process (through gdb, when it
// is installed), then aborts. Call before RUN_ALL_TESTS, with a
// limit below the test's ctest TIMEOUT so that the report lands in ctest's output.
void installTestWatchdog(int seconds);
