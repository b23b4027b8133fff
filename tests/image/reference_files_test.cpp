// Bitmaps written by ImageMagick (see tools/make_image_testdata.py), each
// decoded and compared pixel by pixel with its reference picture.
#include <sstream>

#include "gfx/core/screen.h"
#include "image_files.h"

struct Reference {
    int w = 0, h = 0;
    std::vector<uint32_t> argb;
};

// A PAM file of RGB_ALPHA tuples.
static Reference read_pam(const std::filesystem::path &p)
{
    const Bytes b = read_file(p.string());
    const std::string text(b.begin(), b.end());
    const std::size_t end = text.find("ENDHDR\n");
    Reference r;
    std::istringstream head(text.substr(0, end));
    std::string key;
    while (head >> key)
        if (key == "WIDTH")
            head >> r.w;
        else if (key == "HEIGHT")
            head >> r.h;
    const uint8_t *px = b.data() + end + 7;
    for (int i = 0; i < r.w * r.h; ++i, px += 4)
        r.argb.push_back((uint32_t{px[3]} << 24) | (uint32_t{px[0]} << 16) | (uint32_t{px[1]} << 8) | px[2]);
    return r;
}

struct Case {
    std::string bmp, ref, alpha;
};

static std::vector<Case> manifest()
{
    std::ifstream f(source_dir() / "tests/image/data/manifest.txt");
    std::vector<Case> cases;
    for (Case c; f >> c.bmp >> c.ref >> c.alpha;)
        cases.push_back(c);
    return cases;
}

using ReferenceFiles = ImageFiles;

static uint32_t to565(uint32_t c)
{
    return (((c >> 19) & 31) << 11) | (((c >> 10) & 63) << 5) | ((c >> 3) & 31);
}

TEST_F(ReferenceFiles, EveryPixelMatchesAtEveryScreenDepth)
{
    const std::filesystem::path data = source_dir() / "tests/image/data";
    const std::vector<Case> cases = manifest();
    ASSERT_GE(cases.size(), 24u);
    for (const int depth : {32, 16, 8}) {
        open(64, 48, depth);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.bmp + " at depth " + std::to_string(depth));
            const Reference ref = read_pam(data / c.ref);
            ASSERT_EQ(ref.argb.size(), 37u * 23u);
            void *img = rk_GfxImageCreate(ref.w, ref.h, 0, 0, 0);
            const int result = load((data / c.bmp).string(), img);
            const bool paletted = c.ref.rfind("pal", 0) == 0;
            if (depth == 8 && !paletted) {
                EXPECT_EQ(result, 1);  // true colour has no place in a paletted image
                rk_GfxImageDestroy(img);
                continue;
            }
            ASSERT_EQ(result, 0);
            // 16-bit pixels load opaque whatever their alpha field says.
            const bool opaque = c.alpha == "opaque" || read_file((data / c.bmp).string())[28] <= 16;
            for (int y = 0; y < ref.h; ++y)
                for (int x = 0; x < ref.w; ++x) {
                    uint32_t want = ref.argb[static_cast<std::size_t>(y) * ref.w + x];
                    if (opaque)
                        want |= 0xFF000000u;
                    else if (c.alpha == "zero")
                        want &= 0x00FFFFFFu;
                    uint32_t got = px(img, x, y);
                    if (depth == 16) {
                        want = to565(want);
                    } else if (depth == 8) {
                        // Indices: their device palette colour is the reference's.
                        const uint32_t e = __rk_gfx->device_palette[got];
                        got = 0xFF000000u | ((e & 0xFF) << 16) | (e & 0xFF00) | ((e >> 16) & 0xFF);
                    }
                    ASSERT_EQ(got, want) << "at " << x << "," << y;
                }
            rk_GfxImageDestroy(img);
        }
    }
}
