// Page and image buffers: small ones from the heap, large ones mapped in
// whole 2 MiB units (so the kernel may back them with huge pages), both
// freed through the address kept before the buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "gfx/core/mem.h"
#include "support/fail_alloc.h"

namespace {

constexpr uintptr_t kUnit = uintptr_t{2} << 20;

// Whether any mapping of this process holds the address `p`.
bool mapped(const void *p)
{
    const auto a = reinterpret_cast<uintptr_t>(p);
    std::ifstream maps("/proc/self/maps");
    unsigned long long s, e;
    for (std::string line; std::getline(maps, line);)
        if (std::sscanf(line.c_str(), "%llx-%llx", &s, &e) == 2 && a >= s && a < e)
            return true;
    return false;
}

bool zeroed(const uint8_t *p, std::size_t n)
{
    return std::all_of(p, p + n, [](uint8_t v) { return v == 0; });
}

TEST(Buffers, EverySizeIsAlignedAndUsable)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{4096}, (std::size_t{1} << 20) - 1, std::size_t{1} << 20,
                             std::size_t{800} * 600 * 4, std::size_t{2} << 20, (std::size_t{4} << 20) + 1})
        for (bool zero : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (zero ? " zeroed" : ""));
            auto *p = static_cast<uint8_t *>(rk_hAlignedAlloc(size, zero));
            ASSERT_NE(p, nullptr);
            const auto at = reinterpret_cast<uintptr_t>(p);
            EXPECT_EQ(at % 16, 0u);
            EXPECT_TRUE(!zero || zeroed(p, size));
            std::memset(p, 0xA5, size);  // every byte is there to write
            if (size >= (1u << 20)) {
                // Whole units from a unit boundary where the buffer starts,
                // after a small page of its own.
                EXPECT_EQ(at % kUnit, 0u);
                EXPECT_TRUE(mapped(p - 4096));
                EXPECT_TRUE(mapped(p + (size + kUnit - 1) / kUnit * kUnit - 1));
            }
            rk_hAlignedFree(p);
        }
    rk_hAlignedFree(nullptr);
    // A size no mapping or heap block can hold fails cleanly.
    EXPECT_EQ(rk_hAlignedAlloc(SIZE_MAX, false), nullptr);
    EXPECT_EQ(rk_hAlignedAlloc(SIZE_MAX - 8, true), nullptr);
}

// The large buffer freed last serves the next request of its length, zeroed
// when asked; one of another length replaces it; only one is kept.
TEST(Buffers, AFreedLargeBufferServesTheNextOfItsLength)
{
    constexpr std::size_t PAGE = 800 * 600 * 4, HALF_UNIT = 3u << 19, LARGE = 5u << 20;
    auto *a = static_cast<uint8_t *>(rk_hAlignedAlloc(PAGE, false));
    ASSERT_NE(a, nullptr);
    std::memset(a, 0xA5, PAGE);
    rk_hAlignedFree(a);
    auto *b = static_cast<uint8_t *>(rk_hAlignedAlloc(HALF_UNIT, true));
    EXPECT_EQ(b, a);
    EXPECT_TRUE(zeroed(b, HALF_UNIT));
    rk_hAlignedFree(b);
    auto *c = static_cast<uint8_t *>(rk_hAlignedAlloc(LARGE, false));
    auto *d = static_cast<uint8_t *>(rk_hAlignedAlloc(LARGE, false));
    ASSERT_TRUE(c && d);
    EXPECT_TRUE(c != a && d != c);
    // The kept mapping was given back: unmapped, or part of the new one.
    for (const uint8_t *q : {a - 4096, a})
        EXPECT_TRUE(!mapped(q) || (q >= c - 4096 && q < c + LARGE));
    std::memset(c, 1, LARGE);
    std::memset(d, 2, LARGE);
    rk_hAlignedFree(c);
    rk_hAlignedFree(d);
    EXPECT_TRUE(mapped(c));
    EXPECT_FALSE(mapped(d)) << "only one freed mapping is kept";
}

TEST(Buffers, LargeBufferComesFromTheHeapWhenNoMappingIsGiven)
{
    fail_alloc::arm(1);
    auto *p = static_cast<uint8_t *>(rk_hAlignedAlloc(3u << 20, true));
    fail_alloc::disarm();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fail_alloc::failed(), 1);
    EXPECT_EQ(fail_alloc::live(), 1);
    EXPECT_TRUE(zeroed(p, 3u << 20));
    rk_hAlignedFree(p);
    EXPECT_EQ(fail_alloc::live(), 0);
}

}  // namespace
