// The X11 driver's windows: the content, frame and full-screen windows with
// their caption, class, icon, hints, decorations and cursors, and the window
// operations of the driver table.
#include "gfx/drivers/x11_private.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <X11/Xatom.h>
#include <X11/Xresource.h>
#include <X11/cursorfont.h>
#include <X11/xpm.h>

#include "gfx/core/state.h"
#include "rt/rt.h"

static constexpr long kEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                                   EnterWindowMask | LeaveWindowMask | PointerMotionMask | ExposureMask |
                                   StructureNotifyMask | FocusChangeMask;
static_assert(kEventMask == 0x22807F);

// ---- title ---------------------------------------------------------------

// Length of the UTF-8 sequence starting at `p` (shortest forms only, no
// surrogates) and its code point; 0 when it is not one.
static int utf8_sequence(const unsigned char *p, uint32_t *cp)
{
    static constexpr uint32_t min_cp[5] = {0, 0, 0x80, 0x800, 0x10000};
    int n = p[0] < 0x80 ? 1 : (p[0] & 0xE0) == 0xC0 ? 2 : (p[0] & 0xF0) == 0xE0 ? 3 : (p[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0)
        return 0;
    uint32_t v = n == 1 ? p[0] : p[0] & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    if (v < min_cp[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return n;
}

static bool is_utf8(const unsigned char *p)
{
    uint32_t cp;
    for (int n; *p; p += n)
        if (!(n = utf8_sequence(p, &cp)))
            return false;
    return true;
}

static void set_text_property(Display *d, Window win, Atom property, Atom type, const char *text, std::size_t len)
{
    XChangeProperty(d, win, property, type, 8, PropModeReplace, reinterpret_cast<const unsigned char *>(text),
                    static_cast<int>(len));
}

// The caption for window managers and task lists: WM_NAME in Latin-1 and
// _NET_WM_NAME in UTF-8. A title that is valid UTF-8 is taken as such, any
// other as Latin-1; characters that Latin-1 lacks become '?' in WM_NAME.
static void set_title(Display *d, Window win, const char *title)
{
    if (!win)
        return;
    const auto *in = reinterpret_cast<const unsigned char *>(title ? title : "");
    std::size_t len = std::strlen(reinterpret_cast<const char *>(in));
    if (len > 0xFFFF)
        return;  // no caption is that long
    char *latin1 = static_cast<char *>(std::malloc(len + 1));
    char *utf8 = static_cast<char *>(std::malloc(2 * len + 1));
    if (latin1 && utf8) {
        std::size_t nl = 0, nu = 0;
        if (is_utf8(in)) {
            std::memcpy(utf8, in, nu = len);
            uint32_t cp = 0;
            for (std::size_t i = 0; i < len;) {
                i += static_cast<std::size_t>(utf8_sequence(in + i, &cp));
                latin1[nl++] = cp <= 0xFF ? static_cast<char>(cp) : '?';
            }
        } else {
            std::memcpy(latin1, in, nl = len);
            for (std::size_t i = 0; i < len; ++i) {
                if (in[i] < 0x80) {
                    utf8[nu++] = static_cast<char>(in[i]);
                } else {
                    utf8[nu++] = static_cast<char>(0xC0 | (in[i] >> 6));
                    utf8[nu++] = static_cast<char>(0x80 | (in[i] & 0x3F));
                }
            }
        }
        set_text_property(d, win, XA_WM_NAME, XA_STRING, latin1, nl);
        set_text_property(d, win, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), utf8,
                          nu);
    }
    std::free(latin1);
    std::free(utf8);
}

// WM_CLASS of the windows: the program's file name and the same name
// capitalised, as window managers and task lists group programs by it.
static void set_class(Display *d, const char *title)
{
    char name[128] = {};
    const char *exe = rk_hGetExeName(name, sizeof name);
    const char *res = exe && *exe ? exe : title && *title ? title : "rkgfx";
    char res_name[128] = {}, res_class[128] = {};
    std::strncpy(res_name, res, sizeof res_name - 1);
    std::strncpy(res_class, res, sizeof res_class - 1);
    if (res_class[0] >= 'a' && res_class[0] <= 'z')
        res_class[0] = static_cast<char>(res_class[0] - 'a' + 'A');
    XClassHint hint{res_name, res_class};
    for (Window win : {rk_x11.window, rk_x11.wmwindow})
        if (win)
            XSetClassHint(d, win, &hint);
}

// ---- scale ---------------------------------------------------------------

// The factor an environment variable names: exactly one digit 1 to 4, else 0.
static int scale_from_env(const char *name)
{
    const char *v = std::getenv(name);
    return v && v[0] >= '1' && v[0] <= '4' && v[1] == '\0' ? v[0] - '0' : 0;
}

// The factor the desktop's Xft.dpi resource asks for (the one the server
// holds for all clients in RESOURCE_MANAGER); 1 without a usable value.
static int scale_from_dpi(Display *d)
{
    const char *resources = XResourceManagerString(d);
    if (!resources)
        return 1;
    XrmInitialize();
    XrmDatabase db = XrmGetStringDatabase(resources);
    if (!db)
        return 1;
    char *type = nullptr;
    XrmValue value{};
    double dpi = 0;
    if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
        char *end = nullptr;
        dpi = std::strtod(value.addr, &end);
        if (end == value.addr || !std::isfinite(dpi))
            dpi = 0;
    }
    XrmDestroyDatabase(db);
    return dpi >= 288 ? 3 : dpi >= 192 ? 2 : 1;
}

int rk_hX11ChooseScale(Display *d, int w, int h)
{
    int f = scale_from_env("RIVEZ_SCALE");
    if (!f)
        f = scale_from_env("GDK_SCALE");
    if (!f)
        f = scale_from_dpi(d);
    // X sizes are 16-bit; the image's bytes must fit an int as well.
    constexpr int kMaxSide = 16384;
    return w <= kMaxSide / f && h <= kMaxSide / f ? f : 1;
}

// ---- creation ------------------------------------------------------------

static Window create_window(Display *d, bool override)
{
    XSetWindowAttributes a{};
    a.background_pixel = BlackPixel(d, rk_x11.screen);
    a.border_pixel = BlackPixel(d, rk_x11.screen);
    a.backing_store = NotUseful;
    a.event_mask = kEventMask;
    a.colormap = XCreateColormap(d, rk_x11p.root_window, rk_x11.visual, AllocNone);
    a.override_redirect = override ? True : False;
    int f = rk_hX11Scale();
    return XCreateWindow(d, rk_x11p.root_window, 0, 0, static_cast<unsigned>(rk_x11.w * f),
                         static_cast<unsigned>(rk_x11.h * f), 0, rk_x11.depth, InputOutput, rk_x11.visual,
                         CWBackPixel | CWBorderPixel | CWBackingStore | CWEventMask | CWColormap |
                             CWOverrideRedirect,
                         &a);
}

static void set_size_hints(Display *d)
{
    XSizeHints *hints = XAllocSizeHints();
    if (!hints)
        return;
    // The window's size: only a window, never full screen, has a manager
    // that reads the hints.
    int f = std::max(rk_x11p.scale, 1);
    hints->min_width = hints->base_width = rk_x11.w * f;
    hints->min_height = hints->base_height = rk_x11.h * f;
    if (rk_x11.flags & RK_MODE_NO_SWITCH) {
        hints->max_width = hints->min_width;
        hints->max_height = hints->min_height;
    } else {
        hints->max_width = DisplayWidth(d, rk_x11.screen);
        hints->max_height = DisplayHeight(d, rk_x11.screen);
    }
    hints->width_inc = hints->height_inc = 65536;
    hints->flags = PMinSize | PMaxSize | PResizeInc | PBaseSize;
    XSetWMNormalHints(d, rk_x11.window, hints);
    XSetWMNormalHints(d, rk_x11.fswindow, hints);
    hints->max_width = hints->min_width;
    hints->max_height = hints->min_height;
    XSetWMNormalHints(d, rk_x11.wmwindow, hints);
    XFree(hints);
}

// A window without decorations through the first hints atom the window
// manager knows; false when it knows none.
static bool remove_decorations(Display *d)
{
    static const char *const names[] = {"_MOTIF_WM_HINTS", "KWM_WIN_DECORATION", "_WIN_HINTS"};
    for (const char *name : names) {
        Atom a = XInternAtom(d, name, True);
        if (a == None)
            continue;
        rk_x11p.wm_intern_hints = a;
        long motif[5] = {2, 0, 0, 0, 0};
        long zero = 0;
        bool is_motif = name == names[0];
        XChangeProperty(d, rk_x11.window, a, a, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(is_motif ? motif : &zero), is_motif ? 5 : 1);
        return true;
    }
    return false;
}

static void make_cursors(Display *d)
{
    Pixmap pm = XCreatePixmap(d, rk_x11.window, 1, 1, 1);
    XGCValues v;
    v.function = GXcopy;
    v.foreground = 0;
    v.background = 0;
    // Without a GC the pixmap cannot be cleared, and an uncleared mask may
    // show a dot: the window then has no blank cursor and keeps the arrow.
    if (GC gc = XCreateGC(d, pm, GCFunction | GCForeground | GCBackground, &v)) {
        XDrawPoint(d, pm, gc, 0, 0);
        XFreeGC(d, gc);
        XColor black{};
        rk_x11p.blank_cursor = XCreatePixmapCursor(d, pm, pm, &black, &black, 0, 0);
    }
    rk_x11p.arrow_cursor = XCreateFontCursor(d, XC_left_ptr);
    XFreePixmap(d, pm);
}

bool rk_hX11CreateWindows(const char *title, int flags)
{
    Display *d = rk_x11.display;
    rk_x11p.root_window = RootWindow(d, rk_x11.screen);
    rk_x11.window = create_window(d, false);
    if (!rk_x11.window)
        return false;
    rk_x11.wmwindow = create_window(d, false);
    rk_x11.fswindow = create_window(d, true);
    // The caption goes on the content window and on the frame window, which
    // is the one a window manager decorates and lists.
    set_title(d, rk_x11.window, title);
    set_title(d, rk_x11.wmwindow, title);
    set_class(d, title);

    if (__rk_x11_icon) {
        Pixmap icon = None, mask = None;
        if (XpmCreatePixmapFromData(d, rk_x11p.root_window, const_cast<char **>(__rk_x11_icon), &icon, &mask,
                                    nullptr) == XpmSuccess) {
            XWMHints *wm = XAllocWMHints();
            if (wm) {
                wm->icon_pixmap = icon;
                wm->icon_mask = mask;
                wm->flags = IconPixmapHint | (mask ? IconMaskHint : 0);
                XSetWMHints(d, rk_x11.wmwindow, wm);
                XFree(wm);
            }
        }
    }

    set_size_hints(d);
    if ((flags & RK_MODE_NO_FRAME) && !remove_decorations(d))
        return false;
    rk_x11p.wm_delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, rk_x11.wmwindow, &rk_x11p.wm_delete_window, 1);

    if (rk_x11.visual->c_class == PseudoColor) {
        rk_x11p.color_map = XCreateColormap(d, rk_x11p.root_window, rk_x11.visual, AllocAll);
        XSetWindowColormap(d, rk_x11.window, rk_x11p.color_map);
    }
    XClearWindow(d, rk_x11.window);
    make_cursors(d);
    rk_x11.gc = DefaultGC(d, rk_x11.screen);
    XSync(d, False);
    return !rk_x11p.display_lost;
}

void rk_hX11DestroyWindows()
{
    Display *d = rk_x11.display;
    if (rk_x11p.arrow_cursor || rk_x11p.blank_cursor)
        XUndefineCursor(d, rk_x11.window);
    for (Cursor c : {rk_x11p.arrow_cursor, rk_x11p.blank_cursor})
        if (c)
            XFreeCursor(d, c);
    if (rk_x11p.color_map)
        XFreeColormap(d, rk_x11p.color_map);
    if (rk_x11p.wm_intern_hints)
        XDeleteProperty(d, rk_x11.window, rk_x11p.wm_intern_hints);
    for (Window win : {rk_x11.window, rk_x11.fswindow, rk_x11.wmwindow})
        if (win)
            XDestroyWindow(d, win);
}

// ---- window operations ---------------------------------------------------

void rk_hX11InitWindow(int x, int y)
{
    Display *d = rk_x11.display;
    int f = rk_hX11Scale();
    unsigned w = static_cast<unsigned>(rk_x11.w * f), h = static_cast<unsigned>(rk_x11.h * f);
    if (rk_x11.flags & RK_MODE_FULLSCREEN) {
        XMoveResizeWindow(d, rk_x11.fswindow, 0, 0, w, h);
        XMoveResizeWindow(d, rk_x11.window, 0, 0, w, h);
        XReparentWindow(d, rk_x11.window, rk_x11.fswindow, 0, 0);
        XMapRaised(d, rk_x11.fswindow);
        XSync(d, False);
        XMapRaised(d, rk_x11.window);
        XSync(d, False);
    } else {
        XResizeWindow(d, rk_x11.wmwindow, w, h);
        XResizeWindow(d, rk_x11.window, w, h);
        bool frame = !(rk_x11.flags & RK_MODE_NO_FRAME);
        if (frame) {
            XReparentWindow(d, rk_x11.window, rk_x11.wmwindow, 0, 0);
            XMapRaised(d, rk_x11.wmwindow);
            rk_hX11WaitFor(rk_x11.wmwindow, MapNotify);
        }
        XMapRaised(d, rk_x11.window);
        if (!frame)
            XMoveWindow(d, rk_x11.window, x, y);
        rk_hX11WaitFor(rk_x11.window, MapNotify);
    }
    XRaiseWindow(d, rk_x11.window);
    if (rk_x11.flags & RK_MODE_ALWAYS_ON_TOP) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.send_event = True;
        e.xclient.window = rk_x11.wmwindow;
        e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1;
        e.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
        XSendEvent(d, rk_x11p.root_window, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    }
}

void rk_hX11SetPalette(int index, int r, int g, int b)
{
    if (!rk_x11p.color_map || !rk_hX11Alive())  // true colour: nothing to send, and often asked
        return;
    XColor c{};
    c.pixel = static_cast<unsigned long>(index);
    c.red = static_cast<unsigned short>(r * 257);
    c.green = static_cast<unsigned short>(g * 257);
    c.blue = static_cast<unsigned short>(b * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    XStoreColors(rk_x11.display, rk_x11p.color_map, &c, 1);
}

bool rk_hX11PaletteShown()
{
    return rk_x11p.color_map != 0;
}

void rk_hX11SetWindowTitle(const char *title)
{
    if (!rk_hX11Alive())
        return;
    set_title(rk_x11.display, rk_x11.window, title);
    set_title(rk_x11.display, rk_x11.wmwindow, title);
    XFlush(rk_x11.display);
}

int rk_hGetWindowHandle()
{
    return rk_x11.display ? static_cast<int>(rk_x11.window) : 0;
}

int rk_hX11SetWindowPos(int x, int y)
{
    if ((rk_x11.flags & RK_MODE_FULLSCREEN) || !rk_hX11Alive())
        return 0;
    rk_hX11Lock();
    Display *d = rk_x11.display;
    Window top = rk_x11.window;
    int off_x = 0, off_y = 0;
    for (;;) {
        Window root, parent, *children = nullptr;
        unsigned n;
        if (!XQueryTree(d, top, &root, &parent, &children, &n))
            break;
        if (children)
            XFree(children);
        if (parent == rk_x11p.root_window || parent == 0)
            break;
        XWindowAttributes a;
        XGetWindowAttributes(d, top, &a);
        off_x += a.x;
        off_y += a.y;
        top = parent;
    }
    XWindowAttributes ta{};
    XGetWindowAttributes(d, top, &ta);
    int nx = x == static_cast<int>(0x80000000u) ? ta.x : x - off_x;
    int ny = y == static_cast<int>(0x80000000u) ? ta.y : y - off_y;
    XSetWindowAttributes sa{};
    sa.override_redirect = True;
    XChangeWindowAttributes(d, top, CWOverrideRedirect, &sa);
    XMoveWindow(d, top, nx, ny);
    sa.override_redirect = False;
    XChangeWindowAttributes(d, top, CWOverrideRedirect, &sa);
    XClearWindow(d, rk_x11.wmwindow);
    XEvent e;
    while (XCheckWindowEvent(d, rk_x11.window, PointerMotionMask, &e)) {
    }
    rk_x11p.pointer_known = false;
    rk_hX11Unlock();
    return ((ta.y + off_y) << 16) | ((ta.x + off_x) & 0xFFFF);
}
