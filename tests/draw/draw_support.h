// Test support for the drawing primitives: the dirty-row flags of the open
// screen.
#pragma once
#include <cstring>
#include <utility>

#include "gfx/core/screen.h"

inline void clear_dirty_rows() { std::memset(__rk_gfx->dirty, 0, static_cast<std::size_t>(__rk_gfx->h)); }

// First and last dirty row, (-1, -1) when none is.
inline std::pair<int, int> dirty_rows()
{
    int first = -1, last = -1;
    for (int y = 0; y < __rk_gfx->h; ++y)
        if (__rk_gfx->dirty[y]) {
            if (first < 0)
                first = y;
            last = y;
        }
    return {first, last};
}
