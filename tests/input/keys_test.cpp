#include <chrono>
#include <string>

#include "gfx/input/keys.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/fail_alloc.h"
#include "support/screen_fixture.h"

using Keys = NullScreen;

// The bytes of the next rk_Inkey string (the temporary is released).
static std::string inkey()
{
    RkString *s = rk_Inkey();
    std::string r(s->data, static_cast<std::size_t>(s->len));
    rk_hStrDelTemp(s);
    return r;
}

static std::string two(int second)
{
    return std::string{'\xFF', static_cast<char>(second)};
}

TEST_F(Keys, FullBufferKeepsTheNewestFifteenOldestFirst)
{
    open(64, 64, 8);
    for (int i = 1; i <= 20; ++i)
        rk_hPostKey('a' + i);
    for (int i = 6; i <= 20; ++i)
        ASSERT_EQ(rk_GfxGetkey(), 'a' + i);
    EXPECT_EQ(rk_GfxKeyHit(), 0);
    EXPECT_EQ(inkey(), "");
}

TEST_F(Keys, KeyHitLeavesTheKeyForInkey)
{
    open(64, 64, 8);
    EXPECT_EQ(rk_KeyHit(), 0);
    rk_hPostKey('x');
    EXPECT_EQ(rk_KeyHit(), 1);
    EXPECT_EQ(rk_KeyHit(), 1);
    EXPECT_EQ(inkey(), "x");
    EXPECT_EQ(rk_KeyHit(), 0);
}

TEST_F(Keys, CloseAndNamedKeysAsCodesAndStrings)
{
    open(64, 64, 8);
    rk_hPostKey(RK_KEY_CLOSE);
    EXPECT_EQ(rk_Getkey(), 256);
    rk_hPostKey(RK_KEY_UP);
    EXPECT_EQ(rk_Getkey(), 257);

    const int codes[] = {RK_KEY_CLOSE, RK_KEY_UP,   RK_KEY_DOWN, RK_KEY_LEFT,      RK_KEY_RIGHT,
                         RK_KEY_INSERT, RK_KEY_DELETE, RK_KEY_HOME, RK_KEY_END, RK_KEY_PAGE_UP,
                         RK_KEY_PAGE_DOWN, RK_KEY_F1, RK_KEY_F10};
    const char seconds[] = {'k', 'H', 'P', 'K', 'M', 'R', 'S', 'G', 'O', 'I', 'Q', ';', 'D'};
    for (std::size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        rk_hPostKey(codes[i]);
        EXPECT_EQ(inkey(), two(seconds[i])) << codes[i];
    }
    // F5 in the middle of the function keys.
    rk_hPostKey(RK_KEY_F1 + 4);
    EXPECT_EQ(inkey(), two('?'));
    // Extended keys carry their scan code; unknown codes read as 68.
    rk_hPostKey((0x57 << 8) | 0xFF);
    EXPECT_EQ(inkey(), two(0x57));
    rk_hPostKey((0x57 << 8) | 0xFF);
    EXPECT_EQ(rk_GfxGetkey(), 0x57FF);
    rk_hPostKey(300);
    EXPECT_EQ(inkey(), two(68));
    rk_hPostKey(255);
    EXPECT_EQ(inkey(), "\xFF");
}

TEST_F(Keys, AFailedInkeyLeavesTheKeyWaiting)
{
    open(64, 64, 8);
    // Each of the string's two allocations fails in turn, for a character
    // and for a named key; the key is read whole afterwards.
    const std::pair<int, std::string> keys[] = {{'x', "x"}, {RK_KEY_UP, two('H')}};
    for (const auto &[code, text] : keys)
        for (long n : {1L, 2L}) {
            rk_hPostKey(code);
            rk_hPostKey('z');
            fail_alloc::arm(n);
            RkString *s = rk_GfxInkey();
            fail_alloc::disarm();
            EXPECT_EQ(fail_alloc::failed(), 1);
            EXPECT_EQ(s, nullptr);
            EXPECT_EQ(rk_ErrorGetNum(), 4);
            EXPECT_EQ(rk_GfxKeyHit(), 1);
            EXPECT_EQ(inkey(), text) << code << " " << n;
            EXPECT_EQ(rk_ErrorGetNum(), 0);
            EXPECT_EQ(inkey(), "z");
        }
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Keys, WithoutAScreenNothingIsReadAndNothingWaits)
{
    rk_hPostKey('k');
    RkString *s = rk_GfxInkey();
    EXPECT_EQ(s->len, 0);
    rk_hStrDelTemp(s);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(rk_GfxGetkey(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(15));
    EXPECT_EQ(rk_GfxKeyHit(), 0);
    EXPECT_EQ(rk_GfxMultikey(1), 0);
    // The buffer is the process's, not the screen's: the key is still there.
    open(64, 64, 8);
    EXPECT_EQ(rk_GfxGetkey(), 'k');
}

TEST_F(Keys, KeysSurviveAModeChange)
{
    open(64, 64, 8);
    rk_hPostKey('1');
    rk_hPostKey('2');
    open(128, 64, 32);
    EXPECT_EQ(inkey(), "1");
    EXPECT_EQ(inkey(), "2");
}

TEST_F(Keys, ReadingClearsTheChangedFlag)
{
    open(64, 64, 8);
    rk_hPostKey('a');
    rk_hPostKey('b');
    EXPECT_EQ(inkey(), "a");
    // The read cleared the flag although a key is still waiting.
    EXPECT_EQ(rk_hGfxInputBufferChanged(), 0);
    rk_hPostKey('c');
    EXPECT_EQ(rk_hGfxInputBufferChanged(), 1);
    EXPECT_EQ(rk_hGfxInputBufferChanged(), 0);
}

TEST_F(Keys, MultikeyReadsTheHeldKeyTable)
{
    open(64, 64, 8);
    __rk_gfx->key_state[0x1E] = 1;
    __rk_gfx->key_state[127] = 1;
    EXPECT_EQ(rk_GfxMultikey(0x1E), -1);
    EXPECT_EQ(rk_GfxMultikey(127), -1);
    EXPECT_EQ(rk_GfxMultikey(0x1F), 0);
    EXPECT_EQ(rk_GfxMultikey(128), 0);
    EXPECT_EQ(rk_GfxMultikey(-1), 0);
    EXPECT_EQ(__rk_ctx.hooks.multikey(0x1E), -1);
    // A new mode starts with nothing held.
    open(64, 64, 8);
    EXPECT_EQ(rk_GfxMultikey(0x1E), 0);
    EXPECT_EQ(rk_GfxIsRedir(1), 0);
    EXPECT_EQ(rk_IsRedirected(1), 0);
}

TEST_F(Keys, EventQueueKeepsTheNewest127)
{
    open(64, 64, 8);
    for (int i = 0; i < 200; ++i) {
        EventRecord e{RK_EVENT_MOUSE_MOVE, {i, -i, 1, 2}};
        rk_hPostEvent(&e);
    }
    ScreenState *s = __rk_gfx;
    int held = (s->event_tail - s->event_head + RK_EVENT_QUEUE_SIZE) % RK_EVENT_QUEUE_SIZE;
    EXPECT_EQ(held, 127);
    for (int k = 0; k < held; ++k) {
        const int32_t *r = s->event_queue + 5 * ((s->event_head + k) % RK_EVENT_QUEUE_SIZE);
        ASSERT_EQ(r[0], RK_EVENT_MOUSE_MOVE);
        ASSERT_EQ(r[1], 73 + k);
        ASSERT_EQ(r[2], -(73 + k));
    }
    // Without a screen there is no queue: posting is harmless.
    rk_GfxScreen(0, 0, 0, 0, 0);
    EventRecord e{RK_EVENT_WINDOW_CLOSE, {}};
    rk_hPostEvent(&e);
}
