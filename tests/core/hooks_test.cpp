// The screen hook table: each stage runs the modules in table order, the
// open layer's modules first, and a grid hook that fails stops its stage and
// fails the open or undoes the grid change.
#include <string>
#include <vector>

#include "gfx/core/hooks.h"
#include "gfx/core/screen.h"
#include "gfx/open/open.h"
#include "gfx/text/cells.h"
#include "rt/rt.h"
#include "support/screen_fixture.h"

namespace {

std::vector<std::string> events;
bool grid_succeeds = true;

// Each hook notes whether the modules before it in the table have run: every
// console entry is filled, the cells exist, the clear has put the cursor
// home, the cells are gone.
void probe_console(ConsoleHooks *h)
{
    bool filled = h->locate && h->inkey && h->sleep && h->getmouse && h->lineinput && h->printbuffer && h->cls;
    events.push_back(filled ? "console after the modules" : "console too early");
}

bool probe_grid()
{
    events.push_back(__rk_gfx->char_cells ? "grid after the cells" : "grid too early");
    return grid_succeeds;
}

void probe_regrid()
{
    bool cleared = __rk_gfx->cursor_x == 0 && __rk_gfx->cursor_y == 0;
    events.push_back(cleared ? "regrid after the clear" : "regrid too early");
}

void probe_close()
{
    events.push_back(__rk_gfx->char_cells ? "close too early" : "close after the cells");
}

const ScreenHooks probe = {probe_console, probe_grid, probe_regrid, probe_close};

}  // namespace

using ScreenHookTable = NullScreen;

TEST_F(ScreenHookTable, StagesRunInTableOrderAndAFailingGridHookStopsThem)
{
    rk_hOpenRegister();
    ASSERT_TRUE(rk_hScreenHooksAdd(&probe));
    ASSERT_TRUE(rk_hScreenHooksAdd(&probe));  // once in the table

    open(640, 480, 8);
    EXPECT_EQ(events, (std::vector<std::string>{"console after the modules", "grid after the cells"}));

    events.clear();
    rk_GfxLocate(5, 5, -1);
    rk_GfxWidth(80, 30);
    EXPECT_EQ(events, (std::vector<std::string>{"grid after the cells", "regrid after the clear"}));

    events.clear();
    grid_succeeds = false;
    EXPECT_EQ(rk_GfxWidth(80, 60), 80 | (30 << 16));
    EXPECT_EQ(rk_ErrorGetNum(), RK_ERR_MEMORY);
    EXPECT_EQ(__rk_gfx->text_h, 30);
    EXPECT_EQ(events, (std::vector<std::string>{"grid after the cells"}));

    events.clear();
    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(events, (std::vector<std::string>{"close after the cells"}));

    events.clear();
    EXPECT_EQ(rk_GfxScreenRes(320, 200, 8, 0, 0, 0), RK_ERR_STATE);
    EXPECT_EQ(__rk_gfx, nullptr);
    EXPECT_EQ(events,
              (std::vector<std::string>{"console after the modules", "grid after the cells", "close after the cells"}));
}
