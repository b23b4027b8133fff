// Full screen through XRandR: the display size that fits the mode, entering
// and leaving it with pointer and keyboard grabbed, and the mode queries.
#include <cstdlib>

#include "gfx/core/screen.h"
#include "gfx/drivers/x11_private.h"
#include "gfx/drivers/x11_probe.h"

void rk_hX11SetupXRandR(int refresh_rate)
{
    Display *d = rk_x11.display;
    int event_base, error_base, major = 0, minor = 0;
    rk_x11.config = nullptr;
    if (XRRQueryExtension(d, &event_base, &error_base) && XRRQueryVersion(d, &major, &minor) && major > 0) {
        rk_x11.config = XRRGetScreenInfo(d, rk_x11p.root_window);
        if (rk_x11.config) {
            XRRScreenConfiguration *c = rk_x11.config;
            rk_x11p.orig_size = rk_x11p.current_size = XRRConfigCurrentConfiguration(c, &rk_x11p.orig_rotation);
            rk_x11p.orig_rate = XRRConfigCurrentRate(c);

            // The first size of the mode's width and either its height or
            // the next standard height above it.
            int n = 0;
            XRRScreenSize *sizes = XRRConfigSizes(c, &n);
            for (int i = 0; i < n; ++i)
                if (sizes[i].width == rk_x11.w && (sizes[i].height == rk_x11.h || sizes[i].height == rk_x11p.alt_h)) {
                    rk_x11p.target_size = i;
                    rk_x11p.real_h = sizes[i].height;
                    break;
                }
            if (refresh_rate <= 0 || rk_x11p.target_size < 0) {
                rk_x11.refresh_rate = rk_x11p.orig_rate;
            } else {
                int nrates = 0;
                short *rates = XRRConfigRates(c, rk_x11p.target_size, &nrates);
                for (int i = 0; i < nrates; ++i)
                    if (rates[i] == refresh_rate)
                        rk_x11p.target_rate = refresh_rate;
            }
        }
    }
    if (__rk_gfx)
        __rk_gfx->refresh_rate = rk_x11.refresh_rate;
}

static void set_refresh(int rate)
{
    rk_x11.refresh_rate = rate;
    if (__rk_gfx)
        __rk_gfx->refresh_rate = rate;
}

int rk_hX11EnterFullscreen(int *real_h)
{
    if (!rk_x11.config || rk_x11p.target_size < 0 || rk_x11p.display_lost)
        return -1;
    Display *d = rk_x11.display;
    Window root = rk_x11p.root_window;
    Status st;
    if (rk_x11p.target_rate < 0) {
        st = XRRSetScreenConfig(d, rk_x11.config, root, rk_x11p.target_size, rk_x11p.orig_rotation, CurrentTime);
    } else {
        st = XRRSetScreenConfigAndRate(d, rk_x11.config, root, rk_x11p.target_size, rk_x11p.orig_rotation,
                                       static_cast<short>(rk_x11p.target_rate), CurrentTime);
        if (st != RRSetConfigFailed)
            set_refresh(rk_x11p.target_rate);
    }
    if (st == RRSetConfigFailed)
        return -1;
    // From here on the desktop has the new size: a grab that fails below
    // must still lead the leave path to restore it.
    rk_x11p.current_size = rk_x11p.target_size;
    XWarpPointer(d, None, rk_x11.window, 0, 0, 0, 0, rk_x11.w / 2, rk_x11p.real_h / 2);
    XSync(d, False);
    if (!rk_hX11GrabPointer(10000))
        return -1;
    if (XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess)
        return -1;
    *real_h = rk_x11p.real_h;
    return 0;
}

void rk_hX11LeaveFullscreen()
{
    if (!rk_x11.config || rk_x11p.target_size < 0 || rk_x11p.display_lost)
        return;
    Display *d = rk_x11.display;
    Window root = rk_x11p.root_window;
    if (rk_x11p.current_size != rk_x11p.orig_size) {
        Status st = RRSetConfigFailed;
        if (rk_x11p.target_rate > 0)
            st = XRRSetScreenConfigAndRate(d, rk_x11.config, root, rk_x11p.orig_size, rk_x11p.orig_rotation,
                                           static_cast<short>(rk_x11p.orig_rate), CurrentTime);
        if (st == RRSetConfigFailed)
            XRRSetScreenConfig(d, rk_x11.config, root, rk_x11p.orig_size, rk_x11p.orig_rotation, CurrentTime);
        rk_x11p.current_size = rk_x11p.orig_size;
        set_refresh(rk_x11p.orig_rate);
    }
    XUngrabPointer(d, CurrentTime);
    XUngrabKeyboard(d, CurrentTime);
}

int *rk_hX11FetchModes(int depth, int *count)
{
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return nullptr;
    *count = 0;
    bool own = rk_x11.display && !rk_x11p.display_lost;
    if (!own && rk_hX11CheckDisplay() != 0)
        return nullptr;
    Display *d = own ? rk_x11.display : XOpenDisplay(nullptr);
    if (!d)
        return nullptr;
    XRRScreenConfiguration *c = own ? rk_x11.config : nullptr;
    XRRScreenConfiguration *temp = nullptr;
    if (!c)
        c = temp = XRRGetScreenInfo(d, DefaultRootWindow(d));
    int *result = nullptr;
    if (c) {
        int n = 0;
        XRRScreenSize *sizes = XRRConfigSizes(c, &n);
        *count = n;
        if (sizes && n > 0 && (result = static_cast<int *>(std::malloc(sizeof(int) * static_cast<std::size_t>(n)))))
            for (int i = 0; i < n; ++i)
                result[i] = (sizes[i].width << 16) | sizes[i].height;
    }
    if (temp)
        XRRFreeScreenConfigInfo(temp);
    if (!own)
        XCloseDisplay(d);
    return result;
}

int rk_hX11ScreenInfo(int *w, int *h, int *depth, int *rate)
{
    rk_hXlibInit();
    if (rk_hX11CheckDisplay() != 0)
        return -1;
    Display *d = XOpenDisplay(nullptr);
    if (!d)
        return -1;
    int scr = DefaultScreen(d);
    *w = DisplayWidth(d, scr);
    *h = DisplayHeight(d, scr);
    *depth = DefaultDepth(d, scr);
    *rate = 0;
    int event_base, error_base, major = 0, minor = 0;
    if (XRRQueryExtension(d, &event_base, &error_base) && XRRQueryVersion(d, &major, &minor) && major >= 1)
        if (XRRScreenConfiguration *c = XRRGetScreenInfo(d, DefaultRootWindow(d))) {
            *rate = XRRConfigCurrentRate(c);
            XRRFreeScreenConfigInfo(c);
        }
    XCloseDisplay(d);
    return 0;
}
