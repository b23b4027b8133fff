// Pieces shared by the image-file operations: file names and the two forms
// of image buffer they read and write.
#pragma once
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

struct RkString;

// Turns every backslash in `path` into a slash.
void rk_hConvertPath(char *path);

// File names keep at most 1022 characters, and backslashes become slashes.
// Only regular files are opened, and an open never waits: a FIFO, a device,
// a directory, a file that cannot be opened and a null `name` all fail.

// Creates (or truncates) the file named by `name` for binary writing; null
// when it cannot.
std::FILE *rk_hImageFileCreate(const RkString *name);

// A file opened for reading. Small regular files are read whole with one
// read and then served from memory, so that a loader's many small reads
// and seeks cost no system calls (one unchanged since an earlier read is
// copied from the cache of gfx/image/filecache.h); others are read as
// streams.
struct ImageFileReader {
    std::FILE *f;
    void *bytes;     // the contents of a small file, or null
    long long size;  // bytes in the file
    struct stat st;  // the file's status as it was read
};
// Opens the file named by `name` for reading; false when it cannot.
bool rk_hImageFileOpenRead(const RkString *name, ImageFileReader *r);
void rk_hImageFileClose(ImageFileReader *r);

// The status of the regular file named by `name` (without opening it);
// false when there is none.
bool rk_hImageFileStat(const RkString *name, struct stat *st);

// The header of an image buffer as stored, without any screen's defaults:
// the current form (type 7, 32-byte header) or the compact 4-byte form.
struct ImageBufferInfo {
    bool current;
    uint32_t bpp_field;  // the current form's bpp, or bits 0-2 of the compact header
    uint64_t width, height;
    uint64_t pitch;  // current form only
    uint8_t *pixels;
};
void rk_hImageBufferInfo(const void *buffer, ImageBufferInfo *info);
