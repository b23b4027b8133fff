// Line fingerprints: the AES-instruction and plain versions agree at every
// length, and no change within one 16-byte block goes unseen.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gfx/core/fingerprint.h"

TEST(LineFingerprint, FastAndPlainAgreeAtEveryLength)
{
    std::mt19937 rng(5);
    std::vector<uint8_t> line(7000);
    for (auto &b : line)
        b = static_cast<uint8_t>(rng());
    for (std::size_t size : {0, 1, 15, 16, 17, 127, 128, 129, 1000, 3200, 3201, 7000}) {
        EXPECT_EQ(rk_hLineFingerprint(line.data(), size), rk_hLineFingerprintPlain(line.data(), size)) << size;
        // The bytes after the line do not count.
        std::vector<uint8_t> copy(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(size));
        copy.push_back(0xA5);
        EXPECT_EQ(rk_hLineFingerprint(copy.data(), size), rk_hLineFingerprint(line.data(), size)) << size;
    }
    // A line of zeros is told from a longer one: the length goes in.
    std::vector<uint8_t> zeros(200);
    EXPECT_NE(rk_hLineFingerprint(zeros.data(), 100), rk_hLineFingerprint(zeros.data(), 101));
    EXPECT_NE(rk_hLineFingerprint(zeros.data(), 128), rk_hLineFingerprint(zeros.data(), 0));
}

TEST(LineFingerprint, EveryChangeWithinOneBlockIsSeen)
{
    // An 800-pixel line of one colour, as a cleared page has, and one of
    // noise; every byte changed in turn by several patterns, and whole
    // pixels and blocks swapped for others.
    std::mt19937 rng(9);
    std::vector<uint8_t> flat(3200, 0xE6), noise(3208);
    for (auto &b : noise)
        b = static_cast<uint8_t>(rng());
    for (std::vector<uint8_t> *line : {&flat, &noise}) {
        const LineFingerprint before = rk_hLineFingerprint(line->data(), line->size());
        int missed = 0;
        for (std::size_t i = 0; i < line->size(); ++i)
            for (uint8_t change : {0x01, 0x80, 0xFF, 0x5A}) {
                (*line)[i] ^= change;
                missed += rk_hLineFingerprint(line->data(), line->size()) == before;
                (*line)[i] ^= change;
            }
        for (std::size_t block = 0; block < line->size() / 16; ++block) {
            std::vector<uint8_t> other = *line;
            for (int k = 0; k < 16; ++k)
                other[16 * block + k] = static_cast<uint8_t>(rng());
            missed += other != *line && rk_hLineFingerprint(other.data(), other.size()) == before;
        }
        EXPECT_EQ(missed, 0);
        // Two blocks exchanged: the order counts.
        std::vector<uint8_t> swapped = *line;
        std::swap_ranges(swapped.begin(), swapped.begin() + 16, swapped.begin() + 128);
        EXPECT_TRUE(swapped == *line || rk_hLineFingerprint(swapped.data(), swapped.size()) != before);
    }
}
