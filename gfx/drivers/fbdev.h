// The Linux framebuffer driver: the screen shown on a framebuffer device
// when no X display is usable. A thread of its own converts the changed lines
// into the device memory about 60 times a second, reads a mouse device and
// draws the software cursor; the keyboard comes from the text console, which
// also reports switches of virtual console.
#pragma once

#include "gfx/core/display.h"

struct FBDevDriver {
    int w;
    int h;             // display lines: framebuffer height x scanline_size
    int flags;         // mode flags given to init
    int refresh_rate;  // Hz from the device timing; 0 when the timing is incomplete
};
extern FBDevDriver rk_fbdev;
extern const DisplayDriver rk_gfxDriverFBDev;

// Size, depth and refresh rate of the open device's mode, or of "/dev/fb0"
// opened for the question. The rate is written only when the device's
// timing is complete. 0, or -1 when there is no device.
int rk_hFBDevInfo(int *width, int *height, int *depth, int *rate);
