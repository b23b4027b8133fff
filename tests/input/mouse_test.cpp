#include "gfx/drivers/driver.h"
#include "gfx/input/mouse.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "support/screen_fixture.h"

// A driver with a pointer: reports `state` (or no state) and records the
// last set_mouse call; it checks that the screen lock is held around it.
namespace {
struct Pointer {
    bool has_state = true;
    int x = 10, y = 20, wheel = 3, buttons = 0, clip = 0;
    int set[4] = {};
    int sets = 0;
    bool locked = false;
    bool called_unlocked = false;
};
Pointer pointer;

void lock() { pointer.locked = true; }
void unlock() { pointer.locked = false; }
int init(const char *, int, int, int, int, int) { return 0; }
int get_mouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    pointer.called_unlocked |= !pointer.locked;
    if (!pointer.has_state)
        return 1;
    *x = pointer.x;
    *y = pointer.y;
    *wheel = pointer.wheel;
    *buttons = pointer.buttons;
    *clip = pointer.clip;
    return 0;
}
void set_mouse(int x, int y, int cursor, int clip)
{
    pointer.called_unlocked |= !pointer.locked;
    pointer.set[0] = x;
    pointer.set[1] = y;
    pointer.set[2] = cursor;
    pointer.set[3] = clip;
    ++pointer.sets;
}
const DisplayDriver pointer_driver = {.name = "Pointer",
                                      .init = init,
                                      .lock = lock,
                                      .unlock = unlock,
                                      .get_mouse = get_mouse,
                                      .set_mouse = set_mouse};
}  // namespace

class Mouse : public NullScreen {
protected:
    void open_pointer_screen()
    {
        __rk_gfx_driver_name = nullptr;
        __rk_gfx_drivers_list[0] = &pointer_driver;
        open(800, 600, 32);
    }
    void TearDown() override
    {
        NullScreen::TearDown();
        __rk_gfx_drivers_list[0] = nullptr;
    }
};

static void expect_no_state(int r, int x, int y, int wheel, int buttons, int clip)
{
    EXPECT_EQ(r, 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, -1);
    EXPECT_EQ(wheel, -1);
    EXPECT_EQ(buttons, -1);
    EXPECT_EQ(clip, -1);
}

TEST_F(Mouse, WithoutAScreenThereIsNoState)
{
    int x = 5, y = 5, wheel = 5, buttons = 5, clip = 5;
    int r = rk_GfxGetMouse(&x, &y, &wheel, &buttons, &clip);
    expect_no_state(r, x, y, wheel, buttons, clip);
    x = y = wheel = buttons = clip = 5;
    r = rk_GetMouse(&x, &y, &wheel, &buttons, &clip);
    expect_no_state(r, x, y, wheel, buttons, clip);
    EXPECT_EQ(rk_GfxSetMouse(1, 1, 1, 1), 1);
    EXPECT_EQ(rk_SetMouse(1, 1, 1, 1), 1);
}

TEST_F(Mouse, DriverWithoutPointerGivesNoState)
{
    open(64, 64, 8);
    int x = 5, y = 5, wheel = 5, buttons = 5, clip = 5;
    int r = rk_GetMouse(&x, &y, &wheel, &buttons, &clip);
    expect_no_state(r, x, y, wheel, buttons, clip);
    EXPECT_EQ(rk_SetMouse(1, 1, 1, 1), 1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Mouse, ReadsThePointerUnderTheScreenLock)
{
    open_pointer_screen();
    pointer.buttons = 3;
    int x = 0, y = 0, wheel = 0, buttons = 0, clip = 9;
    rk_ErrorSetNum(7);
    EXPECT_EQ(rk_GetMouse(&x, &y, &wheel, &buttons, &clip), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(wheel, 3);
    EXPECT_EQ(buttons, 3);
    EXPECT_EQ(clip, 0);
    EXPECT_FALSE(pointer.called_unlocked);
    EXPECT_FALSE(pointer.locked);

    // Wheel and clip may be left out.
    x = y = buttons = 0;
    EXPECT_EQ(rk_GfxGetMouse(&x, &y, nullptr, &buttons, nullptr), 0);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(buttons, 3);

    // The pointer outside the window: the driver has no state.
    pointer.has_state = false;
    int r = rk_GetMouse(&x, &y, &wheel, &buttons, &clip);
    expect_no_state(r, x, y, wheel, buttons, clip);
    EXPECT_EQ(rk_GfxGetMouse(&x, &y, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(x, -1);
}

TEST_F(Mouse, SetMouseReachesTheDriver)
{
    open_pointer_screen();
    rk_ErrorSetNum(7);
    EXPECT_EQ(rk_SetMouse(100, 50, 0, -1), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(pointer.sets, 1);
    EXPECT_EQ(pointer.set[0], 100);
    EXPECT_EQ(pointer.set[1], 50);
    EXPECT_EQ(pointer.set[2], 0);
    EXPECT_EQ(pointer.set[3], -1);
    EXPECT_FALSE(pointer.called_unlocked);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}
