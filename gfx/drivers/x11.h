// The X11 display driver: the framebuffer shown in an X window by a thread
// of its own, X input turned into keys, events and the mouse state, and full
// screen through XRandR. The window code is shared with the OpenGL driver.
#pragma once
#include <cstdint>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "gfx/core/display.h"

// The one record of the X11 window.
struct X11Window {
    Display *display;
    Visual *visual;
    int screen;
    Window window;    // content window: the image is always put here
    Window wmwindow;  // frame window the window manager sees
    Window fswindow;  // override-redirect window holding `window` in full screen
    GC gc;
    XRRScreenConfiguration *config;  // null without XRandR
    int w, h;  // h: framebuffer height x scanline_size
    int depth;
    int pixel_format;  // 8, 15, 16, 24 or 32
    int flags;
    int refresh_rate;
    int display_offset;  // image's vertical offset in full screen
    uint8_t keymap[256];  // X keycode -> PC scancode
    int (*init)();
    void (*exit)();
    void (*update)();
    int mouse_clip;
};
extern X11Window rk_x11;
// A window icon in XPM form, or null for none.
extern const char **__rk_x11_icon;
// (keysym, PC scancode) pairs, ended by a pair with scancode 0.
extern const uint32_t rk_keysym_to_scancode[][2];
extern const DisplayDriver rk_gfxDriverX11;

int rk_hX11Init(const char *title, int w, int h, int depth, int refresh_rate, int flags);
void rk_hX11Exit();
void rk_hX11Lock();
void rk_hX11Unlock();
void rk_hX11SetPalette(int index, int r, int g, int b);
// Whether the window has a colour map that palette entries go to.
bool rk_hX11PaletteShown();
void rk_hX11WaitVSync();
void rk_hX11SetWindowTitle(const char *title);
// Moves the top-level window so the content window lands at (x, y);
// 0x80000000 keeps a coordinate. Returns the old position (y << 16) | x.
int rk_hX11SetWindowPos(int x, int y);
int rk_hGetWindowHandle();
void rk_hXlibInit();
void rk_hX11InitWindow(int x, int y);
// True once the connection to the server has broken.
bool rk_hX11DisplayLost();

int rk_hX11GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
void rk_hX11SetMouse(int x, int y, int cursor, int clip);

int rk_hX11EnterFullscreen(int *real_h);
void rk_hX11LeaveFullscreen();
int *rk_hX11FetchModes(int depth, int *count);
int rk_hX11ScreenInfo(int *w, int *h, int *depth, int *rate);
