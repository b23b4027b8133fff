#include "gfx/drivers/driver.h"
#include "gfx/input/mouse.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "support/screen_fixture.h"

// A driver with a pointer: reports its state (or none) and records the last
// set_mouse call; both must run with the screen lock held.
namespace {
struct Pointer {
    bool has_state = true, locked = false, called_unlocked = false;
    int state[5] = {10, 20, 3, 3, 0};  // x, y, wheel, buttons (left + right), clip
    int set[4] = {};
};
Pointer pointer;

void lock() { pointer.locked = true; }
void unlock() { pointer.locked = false; }
int init(const char *, int, int, int, int, int) { return 0; }
int get_mouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    pointer.called_unlocked |= !pointer.locked;
    int *out[5] = {x, y, wheel, buttons, clip};
    for (int i = 0; pointer.has_state && i < 5; ++i)
        *out[i] = pointer.state[i];
    return pointer.has_state ? 0 : 1;
}
void set_mouse(int x, int y, int cursor, int clip)
{
    pointer.called_unlocked |= !pointer.locked;
    pointer.set[0] = x;
    pointer.set[1] = y;
    pointer.set[2] = cursor;
    pointer.set[3] = clip;
}
const DisplayDriver pointer_driver = {
    .name = "Pointer", .init = init, .lock = lock, .unlock = unlock, .get_mouse = get_mouse, .set_mouse = set_mouse};
}  // namespace

class Mouse : public NullScreen {
protected:
    void TearDown() override
    {
        NullScreen::TearDown();
        __rk_gfx_drivers_list[0] = nullptr;
    }
    // rk_GetMouse into v (x, y, wheel, buttons, clip) after filling it with 5.
    static int get(int v[5])
    {
        for (int i = 0; i < 5; ++i)
            v[i] = 5;
        return rk_GetMouse(&v[0], &v[1], &v[2], &v[3], &v[4]);
    }
    static void expect_no_state(int r, const int v[5])
    {
        EXPECT_EQ(r, 1);
        EXPECT_EQ(rk_ErrorGetNum(), 1);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(v[i], -1) << i;
    }
};

TEST_F(Mouse, NoStateWithoutAScreenOrWithoutAPointer)
{
    int v[5];
    int r = get(v);
    expect_no_state(r, v);
    for (int i = 0; i < 5; ++i)
        v[i] = 5;
    r = rk_GfxGetMouse(&v[0], &v[1], &v[2], &v[3], &v[4]);
    expect_no_state(r, v);
    EXPECT_EQ(rk_GfxSetMouse(1, 1, 1, 1), 1);
    EXPECT_EQ(rk_SetMouse(1, 1, 1, 1), 1);

    // The Null driver has no pointer.
    open(64, 64, 8);
    r = get(v);
    expect_no_state(r, v);
    EXPECT_EQ(rk_GfxGetMouse(nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(rk_SetMouse(1, 1, 1, 1), 1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Mouse, ReadsAndSetsThePointerUnderTheScreenLock)
{
    __rk_gfx_driver_name = nullptr;
    __rk_gfx_drivers_list[0] = &pointer_driver;
    open(800, 600, 32);
    int v[5];
    rk_ErrorSetNum(7);
    EXPECT_EQ(get(v), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(v[i], pointer.state[i]) << i;

    // Any address may be left out; the others still get their values, with
    // a state and without one.
    for (bool has_state : {true, false}) {
        pointer.has_state = has_state;
        for (int omitted = 0; omitted < 32; ++omitted) {
            int w[5] = {5, 5, 5, 5, 5};
            int *p[5];
            for (int i = 0; i < 5; ++i)
                p[i] = omitted & (1 << i) ? nullptr : &w[i];
            EXPECT_EQ(rk_GfxGetMouse(p[0], p[1], p[2], p[3], p[4]), has_state ? 0 : 1) << omitted;
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(w[i], omitted & (1 << i) ? 5 : has_state ? pointer.state[i] : -1) << omitted << " " << i;
        }
    }
    pointer.has_state = true;

    EXPECT_EQ(rk_SetMouse(100, 50, 0, -1), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(pointer.set[0], 100);
    EXPECT_EQ(pointer.set[1], 50);
    EXPECT_EQ(pointer.set[2], 0);
    EXPECT_EQ(pointer.set[3], -1);

    // The pointer outside the window: the driver has no state.
    pointer.has_state = false;
    int r = get(v);
    expect_no_state(r, v);
    EXPECT_FALSE(pointer.called_unlocked);
    EXPECT_FALSE(pointer.locked);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}
