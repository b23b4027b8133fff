#include "gfx/core/builtin.h"

#include "gfx/core/decode.h"

uint8_t internal_data[RK_INTERNAL_DATA_SIZE];

const FontDesc rk_font_8x8{8, 8, internal_data + 0};
const FontDesc rk_font_8x14{8, 14, internal_data + 2048};
const FontDesc rk_font_8x16{8, 16, internal_data + 5632};
const PaletteDesc rk_palette_2{2, internal_data + 9728};
const PaletteDesc rk_palette_16{16, internal_data + 9734};
const PaletteDesc rk_palette_64{64, internal_data + 9782};
const PaletteDesc rk_palette_256{256, internal_data + 9974};

void rk_hSetupData()
{
    static bool inited;
    if (inited)
        return;
    inited = true;
    // The block is generated and checked by the tests, so the result needs
    // no handling here.
    int size = RK_INTERNAL_DATA_SIZE;
    rk_hDecode(compressed_data, compressed_data_size, internal_data, &size);
}
