#include "gfx/drivers/driver.h"

#include "gfx/drivers/fbdev.h"
#include "gfx/drivers/opengl.h"
#include "gfx/drivers/x11.h"
#include "gfx/drivers/x11_probe.h"

#include <cstdlib>
#include <strings.h>

static void driver_dummy() {}

const DisplayDriver __rk_gfxDriverNull = {
    "Null", nullptr, nullptr, driver_dummy, driver_dummy, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

const DisplayDriver *__rk_gfx_drivers_list[RK_MAX_DRIVERS + 1] = {&rk_gfxDriverX11, &rk_gfxDriverOpenGL,
                                                                   &rk_gfxDriverFBDev};
const char *__rk_gfx_driver_name = nullptr;

static bool name_is(const DisplayDriver *d, const char *name)
{
    return name && d->name && strcasecmp(d->name, name) == 0;
}

// One attempt: init, and exit again when it fails so the next attempt
// starts clean.
static bool try_init(const DisplayDriver *d, const char *title, int w, int h, int depth, int refresh,
                     int flags)
{
    if (!d->init)
        return false;
    if (d->init(title, w, h, depth, refresh, flags) == 0)
        return true;
    if (d->exit)
        d->exit();
    return false;
}

static const DisplayDriver *select_driver(const char *wanted, const char *title, int w, int h, int depth,
                                          int refresh, int flags)
{
    struct Pass {
        bool only_wanted;
        bool invert_fullscreen;
    };
    static constexpr Pass unnamed[] = {{false, false}, {false, true}};
    static constexpr Pass named[] = {{true, false}, {false, false}, {true, true}, {false, true}};
    const Pass *passes = wanted ? named : unnamed;
    int num_passes = wanted ? 4 : 2;

    for (int p = 0; p < num_passes; ++p) {
        int pass_flags = passes[p].invert_fullscreen ? flags ^ 0x01 : flags;
        for (const DisplayDriver *const *it = __rk_gfx_drivers_list; *it; ++it) {
            const DisplayDriver *d = *it;
            if (passes[p].only_wanted && !name_is(d, wanted))
                continue;
            if (try_init(d, title, w, h, depth, refresh, pass_flags) ||
                try_init(d, title, w, h, depth, 0, pass_flags))
                return d;
        }
    }
    return nullptr;
}

const DisplayDriver *rk_hSelectDriver(const char *title, int w, int h, int depth, int refresh, int flags)
{
    const char *wanted = __rk_gfx_driver_name ? __rk_gfx_driver_name : std::getenv("RIVEZ");
    if (wanted && !*wanted)
        wanted = nullptr;
    if (flags == -1 || (wanted && strcasecmp(wanted, "null") == 0))
        return &__rk_gfxDriverNull;
    // The X drivers open the display on every pass and try: a display that
    // does not answer costs the wait once.
    rk_hX11CheckBegin();
    const DisplayDriver *d = select_driver(wanted, title, w, h, depth, refresh, flags);
    rk_hX11CheckEnd();
    return d;
}

void rk_hScreenInfo(int *w, int *h, int *depth, int *refresh)
{
    int v[4] = {0, 0, 0, 0};
    const DisplayDriver *const *it = __rk_gfx_drivers_list;
    while (*it && (!(*it)->screen_info || (*it)->screen_info(&v[0], &v[1], &v[2], &v[3]) != 0))
        ++it;
    if (!*it)
        v[0] = v[1] = v[2] = v[3] = 0;
    int *out[4] = {w, h, depth, refresh};
    for (int i = 0; i < 4; ++i)
        if (out[i])
            *out[i] = v[i];
}
