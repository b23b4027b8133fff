// Text-runtime console entries. While a graphics screen is open each entry
// calls its console hook (rt/rt.h); otherwise it falls back to a minimal
// console on standard input and output.
#pragma once

// The entries themselves are public (rkgfx.h).
#include "rkgfx.h"

// Pauses `ms` milliseconds with a select() on no descriptors.
void rk_hPause(int ms);
