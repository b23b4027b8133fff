// Malwerk: the paint program's main module.
#include <csignal>
#include <cstdio>

#include "gfx/core/screen.h"
#include "gfx/draw/clear.h"
#include "rt/console.h"
#include "rt/rt.h"

static volatile std::sig_atomic_t ENDE;

static void STOPP(int)
{
    ENDE = 1;
}

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0) {
        std::fprintf(stderr,
                     "malwerk: no display could be opened (an X display or a framebuffer device is needed)\n");
        return 1;
    }
    std::signal(SIGINT, STOPP);
    std::signal(SIGTERM, STOPP);
    while (!ENDE) {
        rk_GfxLock();
        rk_Cls();
        rk_GfxUnlock(-1, -1);
        rk_Sleep(10);
    }
    rk_End(0);
}
