// Runtime strings: the text runtime's dynamic strings.
#pragma once

// The string record and its operations are public: RkString and rk_Str* in
// rkgfx.h.
#include "rkgfx.h"
