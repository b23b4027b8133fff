// The screen hook table: what the modules above the core do when a screen
// opens, when its text grid changes and when it closes. The core knows them
// only through this table. The open layer (gfx/open/open.cpp) fills it
// before the first screen opens, in this order, which every stage keeps:
// text cells, key buffer, mouse, line input, console view (printing), clear.
#pragma once

struct ConsoleHooks;

// One module's hooks; any of them may be null.
struct ScreenHooks {
    // A screen opens, before its driver starts: the module's entries of the
    // console hooks the screen installs.
    void (*console)(ConsoleHooks *hooks);
    // The text grid has been set (a screen opened, or rk_GfxWidth changed
    // it): makes what the module keeps per grid. False when it cannot; the
    // module then keeps what it had, the hooks after it do not run, and the
    // open fails or the grid change is undone.
    bool (*grid)();
    // A changed grid is in place and the views cover the whole screen again.
    void (*regrid)();
    // The screen closes: its driver has stopped, its memory is still there.
    void (*close)();
};

inline constexpr int RK_MAX_SCREEN_HOOKS = 8;

// Appends a module's hooks to the table; hooks already in it keep their
// place. False when the table is full.
bool rk_hScreenHooksAdd(const ScreenHooks *hooks);

// Each stage runs its hook of every module in table order.
void rk_hScreenHooksConsole(ConsoleHooks *hooks);
bool rk_hScreenHooksGrid();
void rk_hScreenHooksRegrid();
void rk_hScreenHooksClose();
