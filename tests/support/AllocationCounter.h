// Counts every operator-new allocation of the program that compiles AllocationCounter.cpp in (it replaces the
// global operator new, so it belongs to an executable's own sources, not to a library).
#pragma once

long allocationCount();
