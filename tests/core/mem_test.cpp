// Page and image buffers: small ones from the heap, large ones mapped in
// whole 2 MiB units (so the kernel may back them with huge pages), both
// freed through the address kept before the buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "gfx/core/mem.h"
#include "support/fail_alloc.h"

namespace {

struct Mapping {
    uintptr_t start = 0, end = 0;
};

// The mapping of this process that holds `p`; zero when none does.
Mapping mapping_of(const void *p)
{
    const auto a = reinterpret_cast<uintptr_t>(p);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long s, e;
        if (std::sscanf(line.c_str(), "%llx-%llx", &s, &e) == 2 && a >= s && a < e)
            return {static_cast<uintptr_t>(s), static_cast<uintptr_t>(e)};
    }
    return {};
}

constexpr uintptr_t kUnit = uintptr_t{2} << 20;

TEST(Buffers, EverySizeIsAlignedAndUsable)
{
    const struct {
        std::size_t size;
        bool mapped;
    } cases[] = {{1, false},           {4096, false},          {(1u << 20) - 1, false}, {1u << 20, true},
                 {800u * 600 * 4, true}, {2u << 20, true}, {(4u << 20) + 1, true}};
    for (const auto &c : cases) {
        for (bool zero : {false, true}) {
            SCOPED_TRACE(std::to_string(c.size) + (zero ? " zeroed" : ""));
            auto *p = static_cast<uint8_t *>(rk_hAlignedAlloc(c.size, zero));
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
            if (zero) {
                bool all_zero = true;
                for (std::size_t i = 0; i < c.size; ++i)
                    all_zero = all_zero && p[i] == 0;
                EXPECT_TRUE(all_zero);
            }
            std::memset(p, 0xA5, c.size);
            EXPECT_EQ(p[c.size - 1], 0xA5);
            const auto at = reinterpret_cast<uintptr_t>(p);
            const uintptr_t units = (c.size + kUnit - 1) / kUnit * kUnit;
            if (c.mapped) {
                // Whole units from a unit boundary where the buffer starts,
                // after a small page of its own.
                EXPECT_EQ(at % kUnit, 0u);
                EXPECT_NE(mapping_of(reinterpret_cast<void *>(at - 4096)).end, 0u);
                EXPECT_NE(mapping_of(reinterpret_cast<void *>(at + units - 1)).end, 0u);
            }
            rk_hAlignedFree(p);
        }
    }
    rk_hAlignedFree(nullptr);
}

// The large buffer freed last serves the next request of its length, zeroed
// when asked; one of another length replaces it.
TEST(Buffers, AFreedLargeBufferServesTheNextOfItsLength)
{
    auto *a = static_cast<uint8_t *>(rk_hAlignedAlloc(800u * 600 * 4, false));
    ASSERT_NE(a, nullptr);
    std::memset(a, 0xA5, 800u * 600 * 4);
    rk_hAlignedFree(a);
    auto *b = static_cast<uint8_t *>(rk_hAlignedAlloc(3u << 19, true));
    EXPECT_EQ(b, a);
    bool all_zero = true;
    for (std::size_t i = 0; i < (3u << 19); ++i)
        all_zero = all_zero && b[i] == 0;
    EXPECT_TRUE(all_zero);
    rk_hAlignedFree(b);
    auto *c = static_cast<uint8_t *>(rk_hAlignedAlloc(5u << 20, false));
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, a);
    // The kept mapping was given back: its addresses are unmapped, or part
    // of the new buffer's.
    const auto inside_c = [c](const uint8_t *q) { return q >= c - 4096 && q < c + (5u << 20); };
    EXPECT_TRUE(mapping_of(a - 4096).end == 0 || inside_c(a - 4096));
    EXPECT_TRUE(mapping_of(a).end == 0 || inside_c(a));
    auto *d = static_cast<uint8_t *>(rk_hAlignedAlloc(5u << 20, false));
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d, c);  // nothing kept: a mapping of its own
    std::memset(c, 1, 5u << 20);
    std::memset(d, 2, 5u << 20);
    rk_hAlignedFree(c);
    rk_hAlignedFree(d);
    EXPECT_NE(mapping_of(c).end, 0u);
    EXPECT_EQ(mapping_of(d).end, 0u) << "only one freed mapping is kept";
}

TEST(Buffers, LargeBufferComesFromTheHeapWhenNoMappingIsGiven)
{
    fail_alloc::arm(1);
    auto *p = static_cast<uint8_t *>(rk_hAlignedAlloc(3u << 20, true));
    fail_alloc::disarm();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fail_alloc::failed(), 1);
    EXPECT_EQ(fail_alloc::live(), 1);
    EXPECT_EQ(p[0] | p[(3u << 20) - 1], 0);
    std::memset(p, 1, 3u << 20);
    rk_hAlignedFree(p);
    EXPECT_EQ(fail_alloc::live(), 0);
    // A size no mapping or heap block can hold fails cleanly.
    EXPECT_EQ(rk_hAlignedAlloc(SIZE_MAX, false), nullptr);
    EXPECT_EQ(rk_hAlignedAlloc(SIZE_MAX - 8, true), nullptr);
}

}  // namespace
