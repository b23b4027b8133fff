#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#include <unistd.h>

#include "gfx/core/builtin.h"
#include "gfx/core/decode.h"

static std::vector<uint8_t> decode_all(const std::vector<uint8_t> &src, int capacity, int *result)
{
    std::vector<uint8_t> out(static_cast<std::size_t>(capacity));
    int len = capacity;
    *result = rk_hDecode(src.data(), static_cast<int>(src.size()), out.data(), &len);
    out.resize(static_cast<std::size_t>(len));
    return out;
}

TEST(Decode, CodeNotYetDefinedRepeatsThePreviousString)
{
    // Codes 0x41, 0x100, 0xFFF: 0x100 is defined only by its own use.
    int rc;
    auto out = decode_all({0x41, 0x00, 0x10, 0xFF, 0x0F}, 16, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x41, 0x41, 0x41}));
}

TEST(Decode, RefusesShortInputAndSmallOutput)
{
    int rc;
    // The stream stops before the end code.
    auto out = decode_all({0x41, 0x20, 0x04}, 16, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x41, 0x42}));
    // A lone byte cannot hold a code.
    decode_all({0x41}, 16, &rc);
    EXPECT_EQ(rc, -1);
    // Three bytes of output do not fit in two.
    out = decode_all({0x41, 0x00, 0x10, 0xFF, 0x0F}, 2, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_LE(out.size(), 2u);
    decode_all({0x41, 0xF0, 0xFF}, 0, &rc);
    EXPECT_EQ(rc, -1);
}

TEST(Decode, SelfReferencingChainFails)
{
    // Codes 0x41, 0x100, 0x102, 0x102, 0x102, end: the second 0x102 arrives
    // while it is the next free code and old is 0x102 itself, so the entry
    // becomes its own prefix; the third must end in an error, not a hang.
    int rc;
    decode_all({0x41, 0x00, 0x10, 0x02, 0x21, 0x10, 0x02, 0xF1, 0xFF}, 1 << 16, &rc);
    EXPECT_EQ(rc, -1);
}

static std::vector<uint8_t> decode_builtin(int *rc)
{
    std::vector<uint8_t> src(compressed_data, compressed_data + compressed_data_size);
    return decode_all(src, RK_INTERNAL_DATA_SIZE + 100, rc);
}

static void expect_rgb(const uint8_t *p, uint32_t rgb, const char *what, int index)
{
    uint32_t got = (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
    EXPECT_EQ(got, rgb) << what << " colour " << index;
}

TEST(BuiltinData, DecodesToTheFontsAndPalettes)
{
    int rc;
    auto block = decode_builtin(&rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(block.size(), static_cast<std::size_t>(RK_INTERNAL_DATA_SIZE));

    const uint8_t *p2 = block.data() + 9728, *p16 = block.data() + 9734, *p64 = block.data() + 9782,
                  *p256 = block.data() + 9974;
    expect_rgb(p2, 0x000000, "2", 0);
    expect_rgb(p2 + 3, 0xFFFFFF, "2", 1);
    static constexpr uint32_t cga[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                         0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                         0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
    for (int i = 0; i < 16; ++i) {
        expect_rgb(p16 + 3 * i, cga[i], "16", i);
        expect_rgb(p256 + 3 * i, cga[i], "256", i);
    }
    for (int i = 0; i < 64; ++i) {
        auto level = [&](int bit) { return ((i >> bit) & 1 ? 0xAAu : 0u) + ((i >> (bit + 3)) & 1 ? 0x55u : 0u); };
        expect_rgb(p64 + 3 * i, (level(2) << 16) | (level(1) << 8) | level(0), "64", i);
    }
    expect_rgb(p256 + 3 * 16, 0x000000, "256", 16);
    expect_rgb(p256 + 3 * 17, 0x141414, "256", 17);
    expect_rgb(p256 + 3 * 18, 0x202020, "256", 18);
    expect_rgb(p256 + 3 * 19, 0x2C2C2C, "256", 19);
    expect_rgb(p256 + 3 * 30, 0xE2E2E2, "256", 30);
    expect_rgb(p256 + 3 * 31, 0xFFFFFF, "256", 31);
    expect_rgb(p256 + 3 * 32, 0x0000FF, "256", 32);  // first hue: full blue
    expect_rgb(p256 + 3 * 40, 0xFF0000, "256", 40);  // a third round: full red
    for (int i = 248; i < 256; ++i)
        expect_rgb(p256 + 3 * i, 0, "256", i);

    // Glyphs: 'A' of the 8x8 set, bit 0 leftmost; the full block and the
    // empty glyphs in all three; the lower half block is empty rows over
    // full ones.
    static constexpr uint8_t a8[8] = {0x1C, 0x36, 0x63, 0x7F, 0x63, 0x63, 0x63, 0x00};
    EXPECT_EQ(std::memcmp(block.data() + 'A' * 8, a8, 8), 0);
    for (int f = 0; f < 3; ++f) {
        static constexpr int offset[3] = {0, 2048, 5632}, height[3] = {8, 14, 16};
        const uint8_t *font = block.data() + offset[f];
        int h = height[f];
        for (int r = 0; r < h; ++r) {
            EXPECT_EQ(font[0xDB * h + r], 0xFF) << h << " row " << r;
            EXPECT_EQ(font[0x00 * h + r], 0x00) << h << " row " << r;
            EXPECT_EQ(font[' ' * h + r], 0x00) << h << " row " << r;
            uint8_t lower = font[0xDC * h + r];
            EXPECT_TRUE(lower == 0 || lower == 0xFF) << h << " row " << r;
            if (r > 0) {
                EXPECT_GE(lower, font[0xDC * h + r - 1]) << h << " row " << r;
            }
            // The left half block sets columns 0-3, that is bits 0-3.
            EXPECT_EQ(font[0xDD * h + r], 0x0F) << h << " row " << r;
        }
        EXPECT_EQ(font[0xDC * h], 0x00);
        EXPECT_EQ(font[0xDC * h + h - 1], 0xFF);
        // The vertical box line is the same in every row.
        for (int r = 1; r < h; ++r)
            EXPECT_EQ(font[0xB3 * h + r], font[0xB3 * h]) << h;
        EXPECT_NE(font[0xB3 * h], 0);
    }
}

TEST(BuiltinData, SetupDecodesOnce)
{
    rk_hSetupData();
    int rc;
    auto block = decode_builtin(&rc);
    ASSERT_EQ(std::memcmp(internal_data, block.data(), RK_INTERNAL_DATA_SIZE), 0);
    EXPECT_EQ(rk_font_8x16.data, internal_data + 5632);
    EXPECT_EQ(rk_palette_256.colors, 256);
    // A second call must not decode again over a changed byte.
    internal_data[0] ^= 0x5A;
    rk_hSetupData();
    EXPECT_EQ(internal_data[0], block[0] ^ 0x5A);
    internal_data[0] = block[0];
}

// Runs the generator's encoder on `raw`; false when it cannot be run.
static bool run_encoder(const std::vector<uint8_t> &raw, std::vector<uint8_t> *packed)
{
    // The source tree: from the environment, or three levels above this file.
    std::string root = std::getenv("MALWERK_SOURCE_DIR") ? std::getenv("MALWERK_SOURCE_DIR") : __FILE__;
    if (!std::getenv("MALWERK_SOURCE_DIR"))
        for (int up = 0; up < 3; ++up)
            root.erase(root.find_last_of('/'));
    // Tests run in parallel processes: the files carry the process id.
    std::string stem = testing::TempDir() + "builtin_" + std::to_string(getpid());
    std::string in = stem + ".raw", out = stem + ".packed";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(raw.data()),
                                              static_cast<std::streamsize>(raw.size()));
    std::string cmd = "python3 '" + root + "/tools/mkbuiltin.py' --encode '" + in + "' '" + out + "'";
    if (std::system(cmd.c_str()) != 0)
        return false;
    std::ifstream f(out, std::ios::binary);
    packed->assign(std::istreambuf_iterator<char>(f), {});
    std::remove(in.c_str());
    std::remove(out.c_str());
    return true;
}

TEST(BuiltinData, GeneratorReproducesTheCommittedBlock)
{
    int rc;
    auto block = decode_builtin(&rc);
    std::vector<uint8_t> packed;
    ASSERT_TRUE(run_encoder(block, &packed)) << "tools/mkbuiltin.py could not run";
    EXPECT_EQ(packed, std::vector<uint8_t>(compressed_data, compressed_data + compressed_data_size));
}

TEST(BuiltinData, GeneratorAndDecoderAgreeWhenTheDictionaryFills)
{
    // Poorly compressible data uses up all 3839 dictionary codes early.
    std::mt19937 rng(7);
    std::vector<uint8_t> raw(60000);
    for (auto &b : raw)
        b = static_cast<uint8_t>(rng() % 40);
    std::vector<uint8_t> packed;
    ASSERT_TRUE(run_encoder(raw, &packed));
    ASSERT_GT(packed.size() / 3 * 2, 4096u);
    int rc;
    auto out = decode_all(packed, static_cast<int>(raw.size()), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, raw);
}
