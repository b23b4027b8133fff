#include "gfx/core/mem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

// Room for the raw-address slot plus the worst-case alignment shift.
static constexpr std::size_t kOverhead = sizeof(void *) + 15;

// Buffers of a screen page's size or more are mapped on their own, in whole
// 2 MiB units from a unit boundary, which the kernel may back with huge
// pages: a frame that clears and copies megabytes every few milliseconds then
// costs far fewer TLB misses (a page clear took about half the time on a
// virtual machine). One small page before the units holds the mapping's
// length and, at its end, the slot; the slot of such a buffer holds the
// mapping's address with its lowest bit set (a heap address is 16-byte
// aligned, a mapping page-aligned).
static constexpr std::size_t kHugeFrom = std::size_t{1} << 20, kHugeUnit = std::size_t{2} << 20, kHeadPage = 4096;

// The mapping of the large buffer freed last, kept for the next request of
// the same length: a program that makes and drops a large image every frame
// then costs no mapping, no page faults and no unmapping.
static std::atomic<std::uintptr_t> spare;

static std::size_t mapping_length(std::uintptr_t head)
{
    std::size_t length;
    std::memcpy(&length, reinterpret_cast<void *>(head), sizeof length);
    return length;
}

static void *map_large(std::size_t size, bool zero)
{
    if (size > SIZE_MAX - kHeadPage - 2 * kHugeUnit)
        return nullptr;
    const std::size_t units = (size + kHugeUnit - 1) & ~(kHugeUnit - 1), length = kHeadPage + units;
    if (const std::uintptr_t kept = spare.exchange(0)) {
        if (mapping_length(kept) == length) {
            auto *p = reinterpret_cast<char *>(kept + kHeadPage);
            if (zero)
                std::memset(p, 0, size);
            return p;
        }
        munmap(reinterpret_cast<void *>(kept), mapping_length(kept));
    }
    // Mapped with one unit to spare, so that a unit boundary can start the
    // buffer; the rest is given back.
    const std::size_t mapped = length + kHugeUnit;
    void *m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED)
        return nullptr;
    const auto at = reinterpret_cast<std::uintptr_t>(m);
    const std::uintptr_t start = (at + kHeadPage + kHugeUnit - 1) & ~std::uintptr_t{kHugeUnit - 1},
                         head = start - kHeadPage;
    if (head > at)
        munmap(m, head - at);
    if (at + mapped > head + length)
        munmap(reinterpret_cast<void *>(head + length), at + mapped - (head + length));
    auto *p = reinterpret_cast<char *>(start);
    madvise(p, units, MADV_HUGEPAGE);  // advice only: without huge pages the buffer works the same
    std::memcpy(reinterpret_cast<void *>(head), &length, sizeof length);
    const std::uintptr_t tagged = head | 1u;
    std::memcpy(p - sizeof(void *), &tagged, sizeof tagged);
    return p;
}

void *rk_hAlignedAlloc(std::size_t size, bool zero)
{
    if (size >= kHugeFrom)
        if (void *p = map_large(size, zero))
            return p;
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
    std::uintptr_t raw;
    std::memcpy(&raw, static_cast<char *>(p) - sizeof(void *), sizeof raw);
    if (raw & 1u) {
        const std::uintptr_t head = raw & ~std::uintptr_t{1};
        std::uintptr_t none = 0;
        if (!spare.compare_exchange_strong(none, head))
            munmap(reinterpret_cast<void *>(head), mapping_length(head));
        return;
    }
    std::free(reinterpret_cast<void *>(raw));
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
