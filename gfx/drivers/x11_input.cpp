// X input: keycodes mapped to PC scancodes, key events turned into key
// codes, the held-key table and event records, and the pointer state.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "gfx/core/screen.h"
#include "gfx/drivers/x11_private.h"
#include "gfx/input/keys.h"

const uint32_t rk_keysym_to_scancode[][2] = {
    {XK_Escape, 1},
    {XK_F1, 59}, {XK_F2, 60}, {XK_F3, 61}, {XK_F4, 62}, {XK_F5, 63},
    {XK_F6, 64}, {XK_F7, 65}, {XK_F8, 66}, {XK_F9, 67}, {XK_F10, 68},
    {XK_F11, 87}, {XK_F12, 88}, {XK_Scroll_Lock, 70},
    {XK_grave, 41}, {XK_asciitilde, 41},
    {XK_1, 2}, {XK_2, 3}, {XK_3, 4}, {XK_4, 5}, {XK_5, 6}, {XK_6, 7}, {XK_7, 8}, {XK_8, 9}, {XK_9, 10},
    {XK_0, 11}, {XK_minus, 12}, {XK_equal, 13}, {XK_backslash, 43}, {XK_BackSpace, 14}, {XK_Tab, 15},
    {XK_q, 16}, {XK_w, 17}, {XK_e, 18}, {XK_r, 19}, {XK_t, 20}, {XK_y, 21}, {XK_u, 22}, {XK_i, 23},
    {XK_o, 24}, {XK_p, 25}, {XK_bracketleft, 26}, {XK_bracketright, 27}, {XK_Return, 28},
    {XK_Caps_Lock, 58},
    {XK_a, 30}, {XK_s, 31}, {XK_d, 32}, {XK_f, 33}, {XK_g, 34}, {XK_h, 35}, {XK_j, 36}, {XK_k, 37},
    {XK_l, 38}, {XK_semicolon, 39}, {XK_apostrophe, 40}, {XK_Shift_L, 42},
    {XK_z, 44}, {XK_x, 45}, {XK_c, 46}, {XK_v, 47}, {XK_b, 48}, {XK_n, 49}, {XK_m, 50},
    {XK_comma, 51}, {XK_period, 52}, {XK_slash, 53}, {XK_Shift_R, 54},
    {XK_Control_L, 29}, {XK_Meta_L, 91}, {XK_Alt_L, 56}, {XK_space, 57}, {XK_Alt_R, 56}, {XK_Meta_R, 92},
    {XK_Menu, 93}, {XK_Control_R, 29},
    {XK_Insert, 82}, {XK_Home, 71}, {XK_Prior, 73}, {XK_Delete, 83}, {XK_End, 79}, {XK_Next, 81},
    {XK_Up, 72}, {XK_Left, 75}, {XK_Down, 80}, {XK_Right, 77},
    {XK_Num_Lock, 69}, {XK_KP_Divide, 53}, {XK_KP_Multiply, 55}, {XK_KP_Subtract, 74},
    {XK_KP_Home, 71}, {XK_KP_Up, 72}, {XK_KP_Prior, 73}, {XK_KP_Add, 78}, {XK_KP_Left, 75},
    {XK_KP_Begin, 76}, {XK_KP_Right, 77}, {XK_KP_End, 79}, {XK_KP_Down, 80}, {XK_KP_Next, 81},
    {XK_KP_Enter, 28}, {XK_KP_Insert, 82}, {XK_KP_Delete, 83},
    {0, 0},
};

// The keyboard description keys are translated with: the driver's own copy,
// fetched at start and again after the server reports a mapping change.
// Xlib's own lookups (XLookupString, XkbKeycodeToKeysym) refetch Xlib's
// copy inside the call when a change is pending, and when that round trip
// meets a broken connection, the lookup goes on with no description at all
// and crashes. A fetch of ours is checked before its result is used.
static XkbDescPtr keyboard;
static int xkb_event_base = -1;  // -1: the server has no XKB
static bool keyboard_stale;

static KeySym keysym_of(unsigned keycode)
{
    if (!keyboard || keycode < keyboard->min_key_code || keycode > keyboard->max_key_code ||
        XkbKeyNumSyms(keyboard, keycode) == 0)
        return NoSymbol;
    return XkbKeySymEntry(keyboard, keycode, 0, 0);
}

static void build_scancode_table()
{
    std::memset(rk_x11.keymap, 0, sizeof rk_x11.keymap);
    if (!keyboard)
        return;
    for (int kc = keyboard->min_key_code; kc <= keyboard->max_key_code; ++kc) {
        KeySym sym = keysym_of(static_cast<unsigned>(kc));
        if (sym == NoSymbol)
            continue;
        for (const auto *row = rk_keysym_to_scancode; row[0][1]; ++row)
            if (row[0][0] == sym) {
                rk_x11.keymap[kc] = static_cast<uint8_t>(row[0][1]);
                break;
            }
    }
}

// Fetches the keyboard description; the one held so far stays when the fetch
// fails. False when the connection broke meanwhile.
static bool fetch_keyboard()
{
    XkbDescPtr fresh = XkbGetMap(rk_x11.display, XkbAllClientInfoMask, XkbUseCoreKbd);
    if (rk_x11p.display_lost) {
        if (fresh)
            XkbFreeKeyboard(fresh, 0, True);
        return false;
    }
    if (!fresh)
        return true;
    if (keyboard)
        XkbFreeKeyboard(keyboard, 0, True);
    keyboard = fresh;
    keyboard_stale = false;
    build_scancode_table();
    return true;
}

void rk_hX11LoadKeyboard()
{
    rk_hX11FreeKeyboard();
    Display *d = rk_x11.display;
    int opcode, error_base, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(d, &opcode, &xkb_event_base, &error_base, &major, &minor)) {
        constexpr unsigned long kChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(d, XkbUseCoreKbd, kChanges, kChanges);
    } else {
        xkb_event_base = -1;
    }
    build_scancode_table();  // empty until a description arrives
    keyboard_stale = xkb_event_base >= 0;  // until a fetch succeeds
    if (keyboard_stale)
        fetch_keyboard();
}

void rk_hX11FreeKeyboard()
{
    if (keyboard)
        XkbFreeKeyboard(keyboard, 0, True);
    keyboard = nullptr;
    keyboard_stale = false;
    xkb_event_base = -1;
}

// True when keys can be translated: the description is brought up to date
// first if the mapping changed. False once the connection has broken.
static bool keyboard_current()
{
    if (keyboard_stale && !fetch_keyboard())
        return false;
    return !rk_x11p.display_lost;
}

// Named keys as the layer's extended codes. Both Delete keys type the DEL
// byte as well; the line editor needs their named code instead.
static const struct {
    KeySym sym;
    int code;
} extended_keys[] = {
    {XK_Up, 0x101},      {XK_Down, 0x102},      {XK_Left, 0x103}, {XK_Right, 0x104}, {XK_Insert, 0x105},
    {XK_Delete, 0x106},  {XK_KP_Delete, 0x106}, {XK_Home, 0x107}, {XK_End, 0x108},   {XK_Prior, 0x109},
    {XK_Next, 0x10A},    {XK_F1, 0x10B},        {XK_F2, 0x10C},   {XK_F3, 0x10D},    {XK_F4, 0x10E},
    {XK_F5, 0x10F},      {XK_F6, 0x110},        {XK_F7, 0x111},   {XK_F8, 0x112},    {XK_F9, 0x113},
    {XK_F10, 0x114},
};

static int extended_code(KeySym sym)
{
    for (const auto &k : extended_keys)
        if (k.sym == sym)
            return k.code;
    return 0;
}

// The keysym after modifiers decides first, so keypad Delete with Num Lock
// on stays the decimal point it types.
int rk_hX11TranslateKey(XKeyEvent *event)
{
    char buf[8];
    KeySym sym = NoSymbol;
    int n = 0;
    if (keyboard) {
        unsigned consumed = 0;
        if (XkbTranslateKeyCode(keyboard, static_cast<KeyCode>(event->keycode), event->state, &consumed, &sym))
            n = XkbTranslateKeySym(event->display, &sym, event->state & ~consumed, buf, sizeof buf, nullptr);
    } else {
        // Without a description (a server without XKB): Xlib's lookup.
        n = XLookupString(event, buf, sizeof buf, &sym, nullptr);
    }
    if (int code = extended_code(sym))
        return code;
    if (n == 1)
        return static_cast<unsigned char>(buf[0]);
    return extended_code(keysym_of(event->keycode));
}

static void post(int type, int a = 0, int b = 0, int c = 0, int d = 0)
{
    EventRecord r{type, {a, b, c, d}};
    rk_hPostEvent(&r);
}

static uint8_t *key_state()
{
    return __rk_gfx ? __rk_gfx->key_state : nullptr;
}

// ---- per event type ------------------------------------------------------

static void on_key_press(XEvent *e)
{
    if (!rk_x11p.has_focus || !keyboard_current())
        return;
    uint8_t *ks = key_state();
    int s = rk_x11.keymap[e->xkey.keycode & 0xFF];
    if (ks)
        ks[s & 0x7F] = 1;
    int k = 0;
    if (ks && ks[0x1C] && ks[0x38] && !(rk_x11.flags & RK_MODE_NO_SWITCH)) {
        rk_hX11Toggle();
    } else {
        k = rk_hX11TranslateKey(&e->xkey);
        if (k)
            rk_hPostKey(k);
    }
    post(1, s, k);
}

// A release followed at once (0 or 1 ms later) by a press of the same key
// is the server's auto-repeat: the key stays down.
static void on_key_release(XEvent *e)
{
    if (!rk_x11p.has_focus || !keyboard_current())
        return;
    Display *d = rk_x11.display;
    uint8_t *ks = key_state();
    int s = rk_x11.keymap[e->xkey.keycode & 0xFF];
    int k = rk_hX11TranslateKey(&e->xkey);
    if (XPending(d)) {
        XEvent next;
        XPeekEvent(d, &next);
        if (next.type == KeyPress && next.xkey.keycode == e->xkey.keycode &&
            next.xkey.time - e->xkey.time <= 1) {
            XNextEvent(d, &next);
            if (k)
                rk_hPostKey(k);
            post(3, s, k);
            return;
        }
    }
    if (ks)
        ks[s & 0x7F] = 0;
    post(2, s, k);
}

// The runtime's button bit of an X button (1 left, 2 right, 4 middle); 0
// for the wheel and the buttons beyond it.
static int button_bit(unsigned button)
{
    static constexpr int bits[4] = {0, 1, 4, 2};
    return button < 4 ? bits[button] : 0;
}

static void on_button_press(XEvent *e)
{
    unsigned button = e->xbutton.button;
    if (button == 4 || button == 5) {
        rk_x11p.mouse_wheel += button == 4 ? 1 : -1;
        post(8, rk_x11p.mouse_wheel);
        return;
    }
    int bit = button_bit(button);
    if (!bit)
        return;
    rk_x11p.mouse_buttons |= bit;
    unsigned long t = e->xbutton.time;
    bool dbl = static_cast<uint32_t>(t - rk_x11p.last_click_time) < 250;
    rk_x11p.last_click_time = t;
    post(dbl ? 7 : 5, bit);
}

static void on_button_release(XEvent *e)
{
    int bit = button_bit(e->xbutton.button);
    if (!bit)
        return;
    rk_x11p.mouse_buttons &= ~bit;
    post(6, bit);
}

// A window coordinate as a framebuffer coordinate: divided by the scale,
// rounded down so that a position left of or above the window stays outside.
static int unscale(int v, int f)
{
    return v >= 0 ? v / f : -((f - 1 - v) / f);
}

// The movement is the change of the root position in framebuffer pixels,
// so that the moves of a scaled window add up to its positions.
static void on_motion(XEvent *e)
{
    int f = rk_hX11Scale();
    int dx = 0, dy = 0;
    if (rk_x11p.mouse_x_root != -1) {
        dx = unscale(e->xmotion.x_root, f) - unscale(rk_x11p.mouse_x_root, f);
        dy = unscale(e->xmotion.y_root, f) - unscale(rk_x11p.mouse_y_root, f);
    }
    rk_x11p.mouse_x_root = e->xmotion.x_root;
    rk_x11p.mouse_y_root = e->xmotion.y_root;
    rk_x11p.mouse_x = unscale(e->xmotion.x, f);
    rk_x11p.mouse_y = unscale(e->xmotion.y, f) - rk_x11.display_offset;
    rk_x11p.mouse_on = rk_x11p.mouse_x >= 0 && rk_x11p.mouse_x < rk_x11.w && rk_x11p.mouse_y >= 0 &&
                       rk_x11p.mouse_y < rk_x11.h;
    if (rk_x11p.has_focus)
        post(4, rk_x11p.mouse_x, rk_x11p.mouse_y, dx, dy);
}

static void on_enter(XEvent *)
{
    if (!rk_x11p.has_focus)
        return;
    rk_x11p.mouse_on = 1;
    post(9);
}

static void on_leave(XEvent *)
{
    if (!rk_x11p.has_focus)
        return;
    rk_x11p.mouse_on = 0;
    post(10);
}

static void on_focus_in(XEvent *)
{
    if (!rk_x11p.has_focus) {
        rk_x11p.has_focus = 1;
        post(11);
    }
    rk_hX11DirtyAll();
}

static void on_expose(XEvent *)
{
    rk_hX11DirtyAll();
}

static void on_focus_out(XEvent *)
{
    if (uint8_t *ks = key_state())
        std::memset(ks, 0, 128);
    rk_x11p.mouse_on = 0;
    rk_x11p.has_focus = 0;
    post(12);
}

// A size other than the mode's is the window manager resizing the window:
// taken as a request to switch to full screen or back.
static void on_configure(XEvent *e)
{
    // The scaled window's own size counts too: its notice may still be
    // queued when a toggle has switched to full screen.
    int w = e->xconfigure.width, h = e->xconfigure.height;
    int f = std::max(rk_x11p.scale, 1);
    if ((w == rk_x11.w && (h == rk_x11.h || h == rk_x11p.real_h)) || (w == rk_x11.w * f && h == rk_x11.h * f))
        return;
    if (rk_x11p.has_focus && !(rk_x11.flags & RK_MODE_NO_SWITCH))
        rk_hX11Toggle();
}

static void on_client_message(XEvent *e)
{
    if (static_cast<Atom>(e->xclient.data.l[0]) != rk_x11p.wm_delete_window)
        return;
    rk_hPostKey(0x100);
    post(13);
}

using EventHandler = void (*)(XEvent *);
struct HandlerTable {
    EventHandler by_type[LASTEvent];
};
static constexpr HandlerTable handlers = [] {
    HandlerTable t{};
    t.by_type[KeyPress] = on_key_press;
    t.by_type[KeyRelease] = on_key_release;
    t.by_type[ButtonPress] = on_button_press;
    t.by_type[ButtonRelease] = on_button_release;
    t.by_type[MotionNotify] = on_motion;
    t.by_type[EnterNotify] = on_enter;
    t.by_type[LeaveNotify] = on_leave;
    t.by_type[FocusIn] = on_focus_in;
    t.by_type[FocusOut] = on_focus_out;
    t.by_type[Expose] = on_expose;
    t.by_type[MapNotify] = on_focus_in;
    t.by_type[ConfigureNotify] = on_configure;
    t.by_type[ClientMessage] = on_client_message;
    return t;
}();

// A changed key or modifier mapping, or a new keyboard: the description is
// fetched again before the next key is translated.
static bool is_keyboard_change(const XEvent *event)
{
    if (event->type == MappingNotify)
        return event->xmapping.request != MappingPointer;
    return xkb_event_base >= 0 && event->type == xkb_event_base;
}

void rk_hX11HandleEvent(XEvent *event)
{
    if (is_keyboard_change(event)) {
        keyboard_stale = xkb_event_base >= 0;
        return;
    }
    if (event->type >= 0 && event->type < LASTEvent && handlers.by_type[event->type])
        handlers.by_type[event->type](event);
}

// ---- mouse entries -------------------------------------------------------

// A window moved under a resting pointer sends no event; the position it
// reports is at most this old.
static constexpr long long kPointerMaxAgeNs = 500'000'000;

// Whether the pointer must be asked for again (see X11Private). An event
// that came after the last answer is still unread on the connection, or in
// Xlib's queue, or taken from it by the window thread; one that a round
// trip of some other call read meanwhile is counted when the window thread
// takes it. Looking costs no round trip and no read of the connection.
static bool pointer_query_due()
{
    if (!rk_x11p.pointer_known || rk_hX11Now() - rk_x11p.pointer_time_ns >= kPointerMaxAgeNs)
        return true;
    int unread = 0;
    if (ioctl(ConnectionNumber(rk_x11.display), FIONREAD, &unread) != 0 || unread > 0)
        return true;
    return rk_x11p.events_taken + static_cast<unsigned long>(QLength(rk_x11.display)) != rk_x11p.pointer_events;
}

int rk_hX11GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    if (!rk_x11p.mouse_on || !rk_x11p.has_focus || rk_x11p.display_lost)
        return -1;
    *wheel = rk_x11p.mouse_wheel;
    if (pointer_query_due()) {
        Window root, child;
        int rx, ry;
        rk_x11p.pointer_known = XQueryPointer(rk_x11.display, rk_x11.window, &root, &child, &rx, &ry,
                                              &rk_x11p.pointer_x, &rk_x11p.pointer_y, &rk_x11p.pointer_mask);
        // Events that came before the answer are in the queue now.
        rk_x11p.pointer_events = rk_x11p.events_taken + static_cast<unsigned long>(QLength(rk_x11.display));
        rk_x11p.pointer_time_ns = rk_hX11Now();
    }
    if (rk_x11p.pointer_known) {
        int f = rk_hX11Scale();
        unsigned mask = rk_x11p.pointer_mask;
        *x = unscale(rk_x11p.pointer_x, f);
        *y = unscale(rk_x11p.pointer_y, f) - rk_x11.display_offset;
        *buttons = ((mask & Button1Mask) ? 1 : 0) | ((mask & Button3Mask) ? 2 : 0) | ((mask & Button2Mask) ? 4 : 0);
    } else {
        *x = rk_x11p.mouse_x;
        *y = rk_x11p.mouse_y;
        *buttons = rk_x11p.mouse_buttons;
    }
    *clip = rk_x11.mouse_clip;
    return 0;
}

bool rk_hX11GrabPointer(unsigned interval_us)
{
    // A window that is not viewable can never be grabbed: give up after
    // about two seconds rather than hang the caller.
    unsigned tries = 2000000u / interval_us;
    for (unsigned i = 0; i <= tries && !rk_x11p.display_lost; ++i) {
        if (XGrabPointer(rk_x11.display, rk_x11.window, True, 0, GrabModeAsync, GrabModeAsync, rk_x11.window, None,
                         CurrentTime) == GrabSuccess)
            return true;
        if (i < tries)
            usleep(interval_us);
    }
    return false;
}

void rk_hX11SetMouse(int x, int y, int cursor, int clip)
{
    if (!rk_x11.display || rk_x11p.display_lost)
        return;
    Display *d = rk_x11.display;
    if (x >= 0 && rk_x11p.has_focus) {
        rk_x11p.mouse_on = 1;
        x = x < rk_x11.w ? x : rk_x11.w - 1;
        y = y < 0 ? 0 : y < rk_x11.h ? y : rk_x11.h - 1;
        rk_x11p.mouse_x = x;
        rk_x11p.mouse_y = y;
        int f = rk_hX11Scale();
        XWarpPointer(d, None, rk_x11.window, 0, 0, 0, 0, x * f, y * f + rk_x11.display_offset);
        rk_x11p.pointer_known = false;
    }
    // Without a blank cursor (its set-up failed) the arrow stays.
    if (cursor == 0 && rk_x11p.cursor_shown && rk_x11p.blank_cursor) {
        XUndefineCursor(d, rk_x11.window);
        XDefineCursor(d, rk_x11.window, rk_x11p.blank_cursor);
        rk_x11p.cursor_shown = 0;
    } else if (cursor > 0 && !rk_x11p.cursor_shown) {
        XUndefineCursor(d, rk_x11.window);
        XDefineCursor(d, rk_x11.window, rk_x11p.arrow_cursor);
        rk_x11p.cursor_shown = 1;
    }
    if (clip == 0) {
        rk_x11.mouse_clip = 0;
        XUngrabPointer(d, CurrentTime);
    } else if (clip > 0) {
        rk_x11.mouse_clip = rk_hX11GrabPointer(100000) ? 1 : 0;
    }
    XFlush(d);
}
