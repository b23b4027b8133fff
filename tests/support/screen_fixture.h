// Test support: screens opened with the Null driver, closed after the test.
#pragma once
#include <gtest/gtest.h>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"

class NullScreen : public ::testing::Test {
protected:
    void SetUp() override { __rk_gfx_driver_name = "null"; }
    void TearDown() override
    {
        rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gfx_driver_name = nullptr;
    }
    // Opens a custom-resolution screen; fails the test when it cannot.
    static void open(int w, int h, int depth, int pages = 0, int flags = 0)
    {
        ASSERT_EQ(rk_GfxScreenRes(w, h, depth, pages, flags, 0), 0);
    }
    // Reads a pixel of the screen's work page.
    static uint32_t pixel(int x, int y)
    {
        DrawContext *ctx = rk_hGetContext();
        rk_hPrepareTarget(ctx, nullptr);
        return rk_hGetPixel(ctx, x, y);
    }
};
