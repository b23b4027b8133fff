// Display drivers: the table every driver provides, the list they are
// chosen from and the selection that opening a screen runs.
#pragma once
#include <cstdint>

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
};

inline constexpr int RK_MAX_DRIVERS = 3;
// Null-terminated, in the order drivers are tried.
extern const DisplayDriver *__rk_gfx_drivers_list[RK_MAX_DRIVERS + 1];
extern const DisplayDriver __rk_gfxDriverNull;
// A program may name a driver here in advance of "RIVEZ".
extern const char *__rk_gfx_driver_name;

// Chooses and opens a driver for the open screen; null when every pass fails.
const DisplayDriver *rk_hSelectDriver(const char *title, int w, int h, int depth, int refresh, int flags);
