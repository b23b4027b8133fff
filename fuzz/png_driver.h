// Arbitrary bytes made into a PNG that gets past libpng's checksums: the
// signature in front when they lack it, and every chunk's CRC made right,
// so that the fuzz target and the tests reach the decoding behind them.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "gfx/image/png.h"

namespace png_driver {

inline uint32_t crc32(const uint8_t *p, std::size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

inline std::vector<uint8_t> with_checksums(const uint8_t *data, std::size_t size)
{
    const bool signed_ = size >= 8 && std::memcmp(data, kPngSignature, 8) == 0;
    std::vector<uint8_t> png(size + (signed_ ? 0 : 8));
    if (!signed_)
        std::memcpy(png.data(), kPngSignature, 8);
    if (size)
        std::memcpy(png.data() + png.size() - size, data, size);
    // Chunks: 4-byte length, 4-byte type, the data, the CRC of type and data.
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const uint32_t len = (uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        if (len > png.size() - at - 12)
            break;
        const uint32_t crc = crc32(&png[at + 4], len + 4);
        for (int i = 0; i < 4; ++i)
            png[at + 8 + len + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + len;
    }
    return png;
}

}  // namespace png_driver
