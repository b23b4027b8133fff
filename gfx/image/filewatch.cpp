#include "gfx/image/filewatch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "gfx/image/filecache.h"

// Files watched at most, directories above a watched file at most, and the
// longest path watched.
static constexpr int SLOTS = 32, MAX_DIRS = 24;
static constexpr std::size_t MAX_PATH = 1024;

// Everything that changes the file's bytes or status. A name on the path
// can only come to stand for another file or directory when the one it
// stood for is renamed (a move of itself), removed or renamed over (a
// change of its link count, an attribute event) or mounted over (the mount
// table), so the directories need only their own events.
static constexpr uint32_t FILE_EVENTS = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
static constexpr uint32_t DIR_EVENTS = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

struct Watched {
    char *path;  // malloc'd; null: a free slot
    struct stat st;
    int dirs;  // wd[0..dirs-1]: "/" and the directories below it; wd[dirs]: the file
    int wd[MAX_DIRS + 1];
    unsigned long long last_use;
};

struct WatchRef {
    int wd, refs;  // refs 0: a free entry
};

static struct {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    bool started;           // the watch descriptors were asked for (or found unavailable)
    int inotify = -1;       // -1: no watching in this process
    int mounts = -1;        // /proc/self/mountinfo: ready with a mount change
    int ready = -1;         // epoll of both: one cheap look tells of either
    Watched file[SLOTS];
    // The hash of each watched file's path, 0 for a free slot: a look finds
    // its slot without reading the other slots' paths.
    uint64_t hash[SLOTS];
    WatchRef ref[SLOTS * (MAX_DIRS + 1)];
    unsigned long long uses;
} watch;

// Call with the mutex held, as every function below but the entry points.
static void unref(int wd)
{
    for (WatchRef &r : watch.ref)
        if (r.refs && r.wd == wd) {
            if (--r.refs == 0)
                inotify_rm_watch(watch.inotify, wd);
            return;
        }
}

static bool ref(int wd)
{
    WatchRef *free_ref = nullptr;
    for (WatchRef &r : watch.ref) {
        if (r.refs && r.wd == wd) {
            ++r.refs;
            return true;
        }
        if (!r.refs && !free_ref)
            free_ref = &r;
    }
    if (!free_ref)
        return false;
    *free_ref = {wd, 1};
    return true;
}

static void release(Watched *w)
{
    for (int i = 0; i <= w->dirs; ++i)
        unref(w->wd[i]);
    std::free(w->path);
    w->path = nullptr;
    watch.hash[w - watch.file] = 0;
}

static void release_all()
{
    for (Watched &w : watch.file)
        if (w.path)
            release(&w);
}

// Closes the descriptors; no file is watched after.
static void stop()
{
    for (int fd : {watch.inotify, watch.mounts, watch.ready})
        if (fd >= 0)
            close(fd);
    watch.inotify = watch.mounts = watch.ready = -1;
}

// A child shares the parent's inotify descriptor: the events one of them
// reads the other would never see. The child drops what it inherited and
// starts afresh if it loads files itself.
static void before_fork() { pthread_mutex_lock(&watch.mutex); }
static void after_fork_parent() { pthread_mutex_unlock(&watch.mutex); }
static void after_fork_child()
{
    // Not release(): removing the watches from the shared descriptor would
    // remove the parent's.
    for (Watched &w : watch.file) {
        std::free(w.path);
        w.path = nullptr;
    }
    std::memset(watch.hash, 0, sizeof watch.hash);
    std::memset(watch.ref, 0, sizeof watch.ref);
    stop();
    watch.started = false;
    pthread_mutex_unlock(&watch.mutex);
}

static bool add_ready(int fd, uint32_t events)
{
    epoll_event ev = {};
    ev.events = events;
    ev.data.fd = fd;
    return epoll_ctl(watch.ready, EPOLL_CTL_ADD, fd, &ev) == 0;
}

static void start()
{
    static bool fork_handlers = false;
    watch.started = true;
    if (!fork_handlers && pthread_atfork(before_fork, after_fork_parent, after_fork_child) != 0)
        return;
    fork_handlers = true;
    // Without the mount table nothing would tell of a file system mounted
    // over a watched directory.
    watch.ready = epoll_create1(EPOLL_CLOEXEC);
    watch.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watch.mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (watch.ready < 0 || watch.inotify < 0 || watch.mounts < 0 || !add_ready(watch.inotify, EPOLLIN) ||
        !add_ready(watch.mounts, EPOLLPRI))
        stop();
}

// Whether every change to `name` goes through this kernel and so raises its
// events: local disk and memory file systems, and overlays of them. Network
// and user-space file systems can change without a word.
static bool local_file_system(const char *name)
{
    struct statfs fs;
    if (statfs(name, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// Ends the watch of every file that an event of `wd` concerns.
static void apply(int wd, uint32_t mask)
{
    if (mask & IN_Q_OVERFLOW) {
        release_all();
        return;
    }
    for (Watched &w : watch.file)
        if (w.path && std::find(w.wd, w.wd + w.dirs + 1, wd) != w.wd + w.dirs + 1)
            release(&w);
}

// Reads what happened since the last call: every watched file that it
// concerns is watched no longer. Looking at the mount table takes its
// change: the next look waits for the next one.
static void take_events()
{
    epoll_event ev[2];
    const int ready = epoll_wait(watch.ready, ev, 2, 0);
    if (ready == 0)
        return;
    bool events = false;
    for (int i = 0; i < ready; ++i) {
        if (ev[i].data.fd == watch.mounts || (ev[i].events & EPOLLERR))
            release_all();  // a mount changed
        events = events || (ev[i].data.fd == watch.inotify && (ev[i].events & EPOLLIN));
    }
    if (ready < 0)
        release_all();  // nothing can be told
    if (!events)
        return;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = read(watch.inotify, buf, sizeof buf)) > 0)
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
            apply(e->wd, e->mask);
            at += static_cast<ssize_t>(sizeof *e + e->len);
        }
}

// A file whose bytes the cache would keep, named by an absolute path
// without empty, "." or ".." parts and with few enough directories. The
// cache's rule that the file be unchanged for two seconds matters here too:
// where times count whole seconds, a change between the first stat and the
// watch would not show in the status taken after the watch is set.
static bool worth_watching(const char *path, const struct stat &st)
{
    if (path[0] != '/' || !rk_hFileCacheKeepable(st))
        return false;
    int dirs = 0;
    for (const char *part = path + 1;; ++dirs) {
        const std::size_t len = std::strcspn(part, "/");
        if (len == 0 || (len == 1 && part[0] == '.') || (len == 2 && part[0] == '.' && part[1] == '.'))
            return false;
        if (!part[len])
            break;
        part += len + 1;
    }
    return dirs < MAX_DIRS && std::strlen(path) < MAX_PATH;
}

// Watches "/", each directory below it on the way to the file, then the
// file, each only when it is what the path names now (no symbolic link) and
// on a local file system. From the top down: a part replaced after its watch
// was set raises an event, and one replaced before is watched as it is now,
// as the directories below it are. The status taken last, which later calls
// answer with, must match the one that made the file worth watching.
static void start_watching(const char *path, uint64_t hash, const struct stat &first)
{
    Watched w = {};
    char name[MAX_PATH];
    std::strcpy(name, path);
    std::size_t slash[MAX_DIRS];
    for (std::size_t at = 0; path[at]; ++at)
        if (path[at] == '/')
            slash[w.dirs++] = at;
    int added = 0;
    for (; added <= w.dirs; ++added) {
        const bool is_file = added == w.dirs;
        // "/" itself, or the path up to the slash before the next name.
        const std::size_t cut = is_file ? std::strlen(name) : std::max<std::size_t>(slash[added], 1);
        const char kept = name[cut];
        name[cut] = '\0';
        const uint32_t mask = is_file ? FILE_EVENTS | IN_DONT_FOLLOW : DIR_EVENTS | IN_ONLYDIR | IN_DONT_FOLLOW;
        const int wd = local_file_system(name) ? inotify_add_watch(watch.inotify, name, mask) : -1;
        name[cut] = kept;
        if (wd < 0 || !ref(wd))
            break;
        w.wd[added] = wd;
    }
    struct stat last;
    const std::size_t size = std::strlen(path) + 1;
    if (added <= w.dirs || lstat(path, &last) != 0 || !S_ISREG(last.st_mode) ||
        !rk_hFileCacheSameFile(first, last) ||
        !(w.path = static_cast<char *>(std::malloc(size)))) {
        for (int i = 0; i < added; ++i)
            unref(w.wd[i]);
        return;
    }
    std::memcpy(w.path, path, size);
    w.st = last;
    w.last_use = ++watch.uses;
    // The least recently used file makes room.
    Watched *slot = &watch.file[0];
    for (Watched &f : watch.file)
        if (!f.path || (slot->path && f.last_use < slot->last_use))
            slot = &f;
    if (slot->path)
        release(slot);
    *slot = w;
    watch.hash[slot - watch.file] = hash;
}

// FNV-1a, never 0.
static uint64_t hash_of(const char *path)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (const char *c = path; *c; ++c)
        h = (h ^ static_cast<unsigned char>(*c)) * 0x100000001B3ull;
    return h ? h : 1;
}

static Watched *find(const char *path, uint64_t hash)
{
    for (int i = 0; i < SLOTS; ++i)
        if (watch.hash[i] == hash && std::strcmp(watch.file[i].path, path) == 0)
            return &watch.file[i];
    return nullptr;
}

bool rk_hFileWatchStat(const char *path, struct stat *st)
{
    const uint64_t hash = hash_of(path);
    pthread_mutex_lock(&watch.mutex);
    if (Watched *w = find(path, hash)) {
        take_events();
        if (w->path) {
            *st = w->st;
            w->last_use = ++watch.uses;
            pthread_mutex_unlock(&watch.mutex);
            return true;
        }
    }
    pthread_mutex_unlock(&watch.mutex);
    if (stat(path, st) != 0)
        return false;
    if (worth_watching(path, *st)) {
        pthread_mutex_lock(&watch.mutex);
        if (!watch.started)
            start();
        if (watch.inotify >= 0 && !find(path, hash))
            start_watching(path, hash, *st);
        pthread_mutex_unlock(&watch.mutex);
    }
    return true;
}

int rk_hFileWatchCount()
{
    pthread_mutex_lock(&watch.mutex);
    int n = 0;
    for (const Watched &w : watch.file)
        n += w.path != nullptr;
    pthread_mutex_unlock(&watch.mutex);
    return n;
}
