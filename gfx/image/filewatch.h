// stat() for the small picture files a program loads again and again, such
// as a toolbar's icons drawn every frame. The first stat of such a file
// (regular, at most 64 KB, unchanged for two seconds, named by a plain
// absolute path on a local file system) puts inotify watches on the file
// and on every directory above it. Until one of them reports a change, or
// a mount changes, later calls answer with the status found then, after a
// single epoll_wait() that shows no event: on a virtual machine that is
// several times cheaper than walking the path again. Any write, truncation, change
// of times, permissions or links of the file, and any rename or removal of
// it or of a directory on its path ends the watch, so the next call reads
// the file's status afresh.
// Every other path is stat()ed as usual. Safe to use from several threads;
// a child made by fork() starts with no watches of its own.
#pragma once
#include <sys/stat.h>

// As stat(path, st) == 0.
[[nodiscard]] bool rk_hFileWatchStat(const char *path, struct stat *st);

// How many files are watched now.
int rk_hFileWatchCount();
