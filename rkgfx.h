// rkgfx: Malwerk's software graphics runtime. One include for every public
// operation; the module headers can also be included one by one under the
// same paths ("gfx/draw/line.h"). Driver internals (the X11 driver's state,
// the blitters, the built-in data) are left out; include them directly.
#pragma once

// Runtime base: start-up, shutdown, error number, strings, console entries.
#include "rt/conprint.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/lineedit.h"
#include "rt/rt.h"
#include "rt/str.h"

// Screen, colours and palettes, draw targets and image buffers.
#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"

// Drawing.
#include "gfx/draw/clear.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"

// Image files and row conversion.
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "gfx/image/convert.h"

// Keyboard, events and mouse; held keys without a screen.
#include "gfx/drivers/conkbd.h"
#include "gfx/input/keys.h"
#include "gfx/input/mouse.h"

// Text and line input on the graphics screen.
#include "gfx/text/cells.h"
#include "gfx/text/lineinput.h"
#include "gfx/text/print.h"

// Display drivers and their selection.
#include "gfx/drivers/driver.h"
