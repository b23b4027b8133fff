// The bytes of recently read small picture files, kept so that loading an
// unchanged file again costs one status check (gfx/image/filewatch.h) and a
// copy instead of an open, a read and a close. A file is known by its
// device, inode, size and its modification and change times to the
// nanosecond: any write, truncation, replacement, rename over it or change
// of its permissions gives a new key. Beside a file's bytes a loader may
// keep one thing it made of them (a decoded picture), which goes with them.
// Safe to use from several threads, and in a child made by fork().
#pragma once
#include <cstddef>
#include <sys/stat.h>

// Whether the file described by `st` is one whose bytes are kept: regular,
// of 1 byte to 64 KB, and unchanged for two seconds.
bool rk_hFileCacheKeepable(const struct stat &st);

// Whether `a` and `b` describe the same file in the same state (device,
// inode, size, and modification and change times to the nanosecond).
bool rk_hFileCacheSameFile(const struct stat &a, const struct stat &b);

// A copy of the kept bytes of the file described by `st` (malloc'd; st_size
// bytes), or null when none are kept or no memory is left for the copy.
void *rk_hFileCacheCopy(const struct stat &st);

// Offers the `size` bytes read from the file described by `st`, as it was
// before the read. Kept only when they are the whole file, small enough,
// and the file had not changed recently: a change within the timestamp
// granularity of some file systems would not show in its times. Older
// entries make room; without memory nothing is kept.
void rk_hFileCacheOffer(const struct stat &st, const void *bytes, std::size_t size);

// Keeps the `size` bytes `made` of the file described by `st` (malloc'd;
// the cache owns them from then on) beside its bytes, in place of what was
// kept there before; they are freed at once unless the file's bytes are
// kept and room allows.
void rk_hFileCacheKeep(const struct stat &st, void *made, std::size_t size);

// Hands what is kept beside the file described by `st` to `use` (with
// `arg`), which may read it until it returns and must not call into the
// cache; false when nothing is kept, else what `use` returned.
bool rk_hFileCacheUseKept(const struct stat &st, bool (*use)(const void *made, std::size_t size, void *arg),
                          void *arg);
