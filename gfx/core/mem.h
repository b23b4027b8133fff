// 16-byte aligned buffers that keep the address of their raw allocation in
// the pointer-sized slot just before their start (pages and image buffers).
#pragma once
#include <cstddef>

// Allocates at least `size` usable bytes starting on a 16-byte boundary
// (zeroed when `zero`); null on overflow or allocation failure.
[[nodiscard]] void *rk_hAlignedAlloc(std::size_t size, bool zero);
// Frees a buffer from rk_hAlignedAlloc through its stored raw address.
void rk_hAlignedFree(void *p);

// a * b + c without overflow; false when the result does not fit size_t or
// any factor is negative.
[[nodiscard]] bool rk_hSizeMulAdd(long long a, long long b, long long c, std::size_t *out);
