#include "gfx/image/filecache.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>

// At most this many files, each at most FILE_LIMIT bytes, together at most
// TOTAL_LIMIT bytes: the program's icons and the like.
static constexpr int SLOTS = 32;
static constexpr std::size_t FILE_LIMIT = 64 * 1024, TOTAL_LIMIT = 256 * 1024;
// Files changed less than this many seconds ago are not kept: where times
// count whole seconds (or two, for modification times on FAT), a second
// change in the same tick would leave them as they were.
static constexpr time_t RECENT_SECONDS = 2;

struct FileKey {
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime, ctime;
};

struct CachedFile {
    FileKey key;
    void *bytes;  // null: a free slot
    unsigned long long last_use;
    void *made;  // what a loader keeps beside the bytes, or null
    std::size_t made_size;
};

static struct {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    CachedFile file[SLOTS];
    std::size_t total;
    unsigned long long uses;
} cache;

// A fork() while another thread holds the mutex would leave the child's
// copy locked for good: the child's first load would hang. Taken around
// fork, the mutex is free in both processes after it, and the child's copy
// of the cache is whole.
static void before_fork() { pthread_mutex_lock(&cache.mutex); }
static void after_fork() { pthread_mutex_unlock(&cache.mutex); }

static void lock()
{
    [[maybe_unused]] static const bool handlers = pthread_atfork(before_fork, after_fork, after_fork) == 0;
    pthread_mutex_lock(&cache.mutex);
}

static FileKey key_of(const struct stat &st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

static bool same_time(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

static bool same_key(const FileKey &a, const FileKey &b)
{
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && same_time(a.mtime, b.mtime) &&
           same_time(a.ctime, b.ctime);
}

static bool later_or_same(const timespec &a, const timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

// Call with the mutex held.
static CachedFile *find(const FileKey &key)
{
    for (CachedFile &f : cache.file)
        if (f.bytes && same_key(f.key, key))
            return &f;
    return nullptr;
}

static void drop_made(CachedFile *f)
{
    std::free(f->made);
    f->made = nullptr;
    cache.total -= f->made_size;
    f->made_size = 0;
}

static void drop(CachedFile *f)
{
    drop_made(f);
    std::free(f->bytes);
    f->bytes = nullptr;
    cache.total -= static_cast<std::size_t>(f->key.size);
}

// A malloc'd copy of `n` bytes at `p`; null without memory.
static void *copy_of(const void *p, std::size_t n)
{
    void *c = std::malloc(n ? n : 1);
    if (c)
        std::memcpy(c, p, n);
    return c;
}

void *rk_hFileCacheCopy(const struct stat &st)
{
    const FileKey key = key_of(st);
    void *copy = nullptr;
    if (key.size <= 0 || static_cast<unsigned long long>(key.size) > FILE_LIMIT)
        return nullptr;
    lock();
    if (CachedFile *f = find(key)) {
        if ((copy = copy_of(f->bytes, static_cast<std::size_t>(key.size))))
            f->last_use = ++cache.uses;
    }
    pthread_mutex_unlock(&cache.mutex);
    return copy;
}

bool rk_hFileCacheKeepable(const struct stat &st)
{
    if (!S_ISREG(st.st_mode) || st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) > FILE_LIMIT)
        return false;
    timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    const timespec settled = {now.tv_sec - RECENT_SECONDS, now.tv_nsec};
    return !later_or_same(st.st_mtim, settled) && !later_or_same(st.st_ctim, settled);
}

bool rk_hFileCacheSameFile(const struct stat &a, const struct stat &b)
{
    return same_key(key_of(a), key_of(b));
}

void rk_hFileCacheOffer(const struct stat &st, const void *bytes, std::size_t size)
{
    if (static_cast<unsigned long long>(st.st_size) != size || !rk_hFileCacheKeepable(st))
        return;
    void *kept = copy_of(bytes, size);
    if (!kept)
        return;

    const FileKey key = key_of(st);
    lock();
    if (find(key)) {  // another thread was first
        pthread_mutex_unlock(&cache.mutex);
        std::free(kept);
        return;
    }
    // The least recently used files make room.
    for (;;) {
        CachedFile *free_slot = nullptr, *oldest = nullptr;
        for (CachedFile &f : cache.file) {
            if (!f.bytes)
                free_slot = &f;
            else if (!oldest || f.last_use < oldest->last_use)
                oldest = &f;
        }
        if (free_slot && cache.total + size <= TOTAL_LIMIT) {
            *free_slot = {key, kept, ++cache.uses, nullptr, 0};
            cache.total += size;
            break;
        }
        drop(oldest);
    }
    pthread_mutex_unlock(&cache.mutex);
}

void rk_hFileCacheKeep(const struct stat &st, void *made, std::size_t size)
{
    const FileKey key = key_of(st);
    lock();
    CachedFile *f = size <= FILE_LIMIT ? find(key) : nullptr;
    if (f) {
        drop_made(f);
        if (cache.total + size <= TOTAL_LIMIT) {
            f->made = made;
            f->made_size = size;
            cache.total += size;
            made = nullptr;
        }
    }
    pthread_mutex_unlock(&cache.mutex);
    std::free(made);
}

bool rk_hFileCacheUseKept(const struct stat &st, bool (*use)(const void *made, std::size_t size, void *arg),
                          void *arg)
{
    const FileKey key = key_of(st);
    bool used = false;
    lock();
    CachedFile *f = find(key);
    if (f && f->made) {
        f->last_use = ++cache.uses;
        used = use(f->made, f->made_size, arg);
    }
    pthread_mutex_unlock(&cache.mutex);
    return used;
}
