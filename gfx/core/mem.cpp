#include "gfx/core/mem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Room for the raw-address slot plus the worst-case alignment shift.
static constexpr std::size_t kOverhead = sizeof(void *) + 15;

void *rk_hAlignedAlloc(std::size_t size, bool zero)
{
    if (size > SIZE_MAX - kOverhead)
        return nullptr;
    void *raw = zero ? std::calloc(1, size + kOverhead) : std::malloc(size + kOverhead);
    if (!raw)
        return nullptr;
    auto start = (reinterpret_cast<std::uintptr_t>(raw) + kOverhead) & ~std::uintptr_t{15};
    void *p = reinterpret_cast<void *>(start);
    std::memcpy(static_cast<char *>(p) - sizeof(void *), &raw, sizeof raw);
    return p;
}

void rk_hAlignedFree(void *p)
{
    if (!p)
        return;
    void *raw;
    std::memcpy(&raw, static_cast<char *>(p) - sizeof(void *), sizeof raw);
    std::free(raw);
}

bool rk_hSizeMulAdd(long long a, long long b, long long c, std::size_t *out)
{
    if (a < 0 || b < 0 || c < 0)
        return false;
    unsigned long long prod;
    if (__builtin_mul_overflow(static_cast<unsigned long long>(a), static_cast<unsigned long long>(b), &prod))
        return false;
    unsigned long long sum;
    if (__builtin_add_overflow(prod, static_cast<unsigned long long>(c), &sum) || sum > SIZE_MAX)
        return false;
    *out = static_cast<std::size_t>(sum);
    return true;
}
