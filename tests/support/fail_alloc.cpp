#include "support/fail_alloc.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/types.h>

extern "C" {
void *__real_malloc(std::size_t size);
void *__real_calloc(std::size_t n, std::size_t size);
void *__real_realloc(void *p, std::size_t size);
void __real_free(void *p);
void *__real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void **p, std::size_t alignment, std::size_t size);
std::FILE *__real_fopen(const char *path, const char *mode);
std::FILE *__real_fdopen(int fd, const char *mode);
std::FILE *__real_fmemopen(void *buf, std::size_t size, const char *mode);
ssize_t __real_getline(char **line, std::size_t *cap, std::FILE *f);
ssize_t __real___getdelim(char **line, std::size_t *cap, int delim, std::FILE *f);
void *__real_mmap(void *addr, std::size_t len, int prot, int flags, int fd, off_t offset);
}

namespace {

std::atomic<bool> armed;
pthread_t owner;
long counted, fail_at, injected;

// The blocks allocated while armed: an open-addressed set of addresses
// (0 free, 1 deleted), guarded by a mutex because any thread may free.
constexpr std::size_t kSlots = 1 << 16;
uintptr_t slots[kSlots];
std::atomic<long> tracked;
pthread_mutex_t slots_mutex = PTHREAD_MUTEX_INITIALIZER;

std::size_t slot_of(uintptr_t a)
{
    return static_cast<std::size_t>((a >> 4) * 0x9E3779B97F4A7C15ull) & (kSlots - 1);
}

bool on_owner()
{
    return armed.load(std::memory_order_acquire) && pthread_equal(owner, pthread_self());
}

// Counts one allocation of the armed thread; true when it is the one to fail.
bool inject()
{
    if (!on_owner())
        return false;
    if (++counted != fail_at)
        return false;
    ++injected;
    errno = ENOMEM;
    return true;
}

void track(void *p)
{
    if (!p || !on_owner())
        return;
    pthread_mutex_lock(&slots_mutex);
    // A full set stops tracking rather than loop; no test comes near it.
    if (tracked.load() < static_cast<long>(kSlots / 2)) {
        auto a = reinterpret_cast<uintptr_t>(p);
        std::size_t i = slot_of(a);
        while (slots[i] > 1)
            i = (i + 1) & (kSlots - 1);
        slots[i] = a;
        ++tracked;
    }
    pthread_mutex_unlock(&slots_mutex);
}

void untrack(void *p)
{
    if (!p || tracked.load() == 0)
        return;
    pthread_mutex_lock(&slots_mutex);
    auto a = reinterpret_cast<uintptr_t>(p);
    for (std::size_t i = slot_of(a); slots[i] != 0; i = (i + 1) & (kSlots - 1))
        if (slots[i] == a) {
            slots[i] = 1;
            --tracked;
            break;
        }
    pthread_mutex_unlock(&slots_mutex);
}

}  // namespace

namespace fail_alloc {

void arm(long n)
{
    disarm();
    pthread_mutex_lock(&slots_mutex);
    for (uintptr_t &s : slots)
        s = 0;
    tracked = 0;
    pthread_mutex_unlock(&slots_mutex);
    counted = injected = 0;
    fail_at = n;
    owner = pthread_self();
    armed.store(true, std::memory_order_release);
}

void disarm()
{
    armed.store(false, std::memory_order_release);
}

long count() { return counted; }
long failed() { return injected; }
long live() { return tracked.load(); }

}  // namespace fail_alloc

extern "C" {

void *__wrap_malloc(std::size_t size)
{
    if (inject())
        return nullptr;
    void *p = __real_malloc(size);
    track(p);
    return p;
}

void *__wrap_calloc(std::size_t n, std::size_t size)
{
    if (inject())
        return nullptr;
    void *p = __real_calloc(n, size);
    track(p);
    return p;
}

void *__wrap_realloc(void *p, std::size_t size)
{
    if (inject())
        return nullptr;
    void *q = __real_realloc(p, size);
    if (q || size == 0) {
        untrack(p);
        track(q);
    }
    return q;
}

void __wrap_free(void *p)
{
    untrack(p);
    __real_free(p);
}

void *__wrap_aligned_alloc(std::size_t alignment, std::size_t size)
{
    if (inject())
        return nullptr;
    void *p = __real_aligned_alloc(alignment, size);
    track(p);
    return p;
}

int __wrap_posix_memalign(void **p, std::size_t alignment, std::size_t size)
{
    if (inject())
        return ENOMEM;
    int r = __real_posix_memalign(p, alignment, size);
    if (r == 0)
        track(*p);
    return r;
}

// A stream is freed by fclose inside the C library, so it is counted but not
// tracked.
std::FILE *__wrap_fopen(const char *path, const char *mode)
{
    return inject() ? nullptr : __real_fopen(path, mode);
}

std::FILE *__wrap_fdopen(int fd, const char *mode)
{
    return inject() ? nullptr : __real_fdopen(fd, mode);
}

std::FILE *__wrap_fmemopen(void *buf, std::size_t size, const char *mode)
{
    return inject() ? nullptr : __real_fmemopen(buf, size, mode);
}

ssize_t __wrap_getline(char **line, std::size_t *cap, std::FILE *f)
{
    return inject() ? -1 : __real_getline(line, cap, f);
}

ssize_t __wrap___getdelim(char **line, std::size_t *cap, int delim, std::FILE *f)
{
    return inject() ? -1 : __real___getdelim(line, cap, delim, f);
}

// Large buffers are mappings of their own; counted, not tracked.
void *__wrap_mmap(void *addr, std::size_t len, int prot, int flags, int fd, off_t offset)
{
    if (inject()) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return __real_mmap(addr, len, prot, flags, fd, offset);
}

}  // extern "C"
