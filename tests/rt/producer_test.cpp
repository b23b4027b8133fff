// The line editor driven the way the paint program meets it: a driver
// thread posts keys under the driver lock while the program's thread edits.
#include <pthread.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gfx/drivers/driver.h"
#include "gfx/input/keys.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/screen_fixture.h"
#include "text/text_support.h"

namespace {
pthread_mutex_t driver_mutex = PTHREAD_MUTEX_INITIALIZER;
void driver_lock() { pthread_mutex_lock(&driver_mutex); }
void driver_unlock() { pthread_mutex_unlock(&driver_mutex); }
int driver_init(const char *, int, int, int, int, int) { return 0; }
const DisplayDriver threaded_driver = {
    .name = "Threaded", .init = driver_init, .lock = driver_lock, .unlock = driver_unlock};

// As a window thread: each key under the driver lock, then its event record.
// Bursts of 8 with a pause between them stay inside the 15-key buffer
// however slowly the editor runs.
void produce(const std::vector<int> &codes)
{
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (i > 0 && i % 8 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        pthread_mutex_lock(&driver_mutex);
        rk_hPostKey(codes[i]);
        pthread_mutex_unlock(&driver_mutex);
        EventRecord e{RK_EVENT_KEY_PRESS, {0, codes[i] < 256 ? codes[i] : 0, 0, 0}};
        rk_hPostEvent(&e);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::vector<int> chars(const std::string &s)
{
    std::vector<int> v;
    for (unsigned char c : s)
        v.push_back(c);
    return v;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
}  // namespace

class ProducerConsumer : public NullScreen {
protected:
    void SetUp() override
    {
        __rk_gfx_driver_name = nullptr;
        __rk_gfx_drivers_list[0] = &threaded_driver;
        open(800, 600, 32);
        install_test_glyphs(__rk_gfx->font);
    }
    void TearDown() override
    {
        NullScreen::TearDown();
        __rk_gfx_drivers_list[0] = nullptr;
    }
    // Runs one input on this thread while `codes` arrive from another.
    static std::string input_while_typing(const std::vector<int> &codes)
    {
        std::thread driver(produce, codes);
        int r = rk_ConsoleInput(rk_StrAllocTempDesc(""), 0, -1);
        RkString file{};
        int s = rk_InputString(&file, -1, 0);
        driver.join();
        EXPECT_EQ(r, 0);
        EXPECT_EQ(s, 0);
        std::string value(file.data ? file.data : "", static_cast<std::size_t>(file.len));
        rk_StrDelete(&file);
        return value;
    }
};

TEST_F(ProducerConsumer, FileNameTypedWhileTheDriverThreadPostsKeys)
{
    rk_Color(0x00000000, 0x00FFFFFF, 0);
    uint32_t fg = rk_hGetContext()->fg_color, bg = rk_hGetContext()->bg_color;
    rk_Locate(2, 20, -1);
    std::memset(__rk_gfx->dirty, 0, 600);
    std::vector<int> codes = chars("malwerk/bilder/") +
                             std::vector<int>{RK_KEY_LEFT, RK_KEY_LEFT, RK_KEY_LEFT, 8, 'X', RK_KEY_END} +
                             chars("urlaub_2024.bmp") + std::vector<int>{RK_KEY_CLOSE, 13};
    std::string want = "malwerk/bilXer/urlaub_2024.bmp";
    EXPECT_EQ(input_while_typing(codes), want);

    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_TRUE(cell_shows(19 + static_cast<int>(i), 1, static_cast<unsigned char>(want[i]), fg, bg)) << i;
    EXPECT_TRUE(cell_shows(19 + static_cast<int>(want.size()), 1, ' ', fg, bg));
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 3);
    for (int y = 8; y < 16; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], 1) << y;
    EXPECT_EQ(__rk_gfx->lock_count, 0);

    // Every key also became an event record, in order.
    ScreenState *s = __rk_gfx;
    int held = (s->event_tail - s->event_head + RK_EVENT_QUEUE_SIZE) % RK_EVENT_QUEUE_SIZE;
    ASSERT_EQ(held, static_cast<int>(codes.size()));
    for (int k = 0; k < held; ++k) {
        const int32_t *r = s->event_queue + 5 * ((s->event_head + k) % RK_EVENT_QUEUE_SIZE);
        EXPECT_EQ(r[0], RK_EVENT_KEY_PRESS);
        EXPECT_EQ(r[2], codes[k] < 256 ? codes[k] : 0);
    }
}

TEST_F(ProducerConsumer, WrappedLineAndSecondInput)
{
    open(160, 120, 32);  // 20 x 15 cells
    install_test_glyphs(__rk_gfx->font);
    rk_Color(0x0000FF00, 0x00200000, 0);
    uint32_t fg = rk_hGetContext()->fg_color, bg = rk_hGetContext()->bg_color;
    rk_Locate(5, 15, -1);
    // Up from the end of the second row lands one row above in the text.
    std::vector<int> codes = chars("abcdefghijklmnopqrstuvwxy") + std::vector<int>{RK_KEY_UP, RK_KEY_LEFT, 'Z', 13};
    std::string want = "abcdZefghijklmnopqrstuvwxy";
    EXPECT_EQ(input_while_typing(codes), want);
    EXPECT_EQ(cell_text(4, 14, 20), want.substr(0, 6));
    EXPECT_EQ(cell_text(5, 0, 20), want.substr(6));
    EXPECT_TRUE(cell_shows(18, 4, 'Z', fg, bg));
    EXPECT_TRUE(cell_shows(0, 5, 'f', fg, bg));
    EXPECT_TRUE(cell_shows(19, 5, 'y', fg, bg));
    EXPECT_EQ(rk_GfxGetY(), 8);

    EXPECT_EQ(input_while_typing(chars("a,b") + std::vector<int>{13}), "a");
    EXPECT_EQ(cell_text(7, 0, 3), "a,b");
}
