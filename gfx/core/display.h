// The display driver table: what the core asks of the driver that shows the
// open screen. Every driver under gfx/drivers/ fills one; the core reaches a
// driver only through it, and finds one through the selection the open layer
// hands it (gfx/drivers/driver.h).
#pragma once

struct DisplayDriver {
    const char *name;
    int (*init)(const char *title, int w, int h, int depth, int refresh_rate, int flags);
    void (*exit)();
    void (*lock)();
    void (*unlock)();
    void (*set_palette)(int index, int r, int g, int b);
    void (*wait_vsync)();
    int (*get_mouse)(int *x, int *y, int *wheel, int *buttons, int *clip);
    void (*set_mouse)(int x, int y, int cursor, int clip);
    void (*set_window_title)(const char *title);
    int (*set_window_pos)(int x, int y);
    int *(*fetch_modes)(int depth, int *count);
    void (*flip)();
    void (*poll_events)();
    // Size, depth and refresh rate of the desktop or device mode the driver
    // would show a screen on, asked also while no screen is open; 0, or -1
    // when it has none to report. Null for a driver that cannot tell.
    int (*screen_info)(int *w, int *h, int *depth, int *refresh);
    // Whether entries sent through `set_palette` can change what the driver
    // shows just now (false on a true-colour window, which has no colour
    // map); null when they always may.
    bool (*palette_shown)();
};

// Chooses and starts a driver for a screen being opened; null when none
// starts.
using DriverSelectFn = const DisplayDriver *(*)(const char *title, int w, int h, int depth, int refresh, int flags);
