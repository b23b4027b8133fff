// Pieces shared by the image-file operations: file names and the two forms
// of image buffer they read and write.
#pragma once
#include <cstdint>
#include <cstdio>

struct RkString;

// Turns every backslash in `path` into a slash.
void rk_hConvertPath(char *path);

// Opens the file named by `name` with fopen mode `mode`. At most 1022
// characters of the name are kept and backslashes become slashes. Null when
// the file cannot be opened (or `name` is null).
std::FILE *rk_hImageFileOpen(const RkString *name, const char *mode);

// A file opened for reading. Small regular files are read whole with one
// read and then served from memory, so that a loader's many small reads
// and seeks cost no system calls; others are read as streams.
struct ImageFileReader {
    std::FILE *f;
    void *bytes;     // the contents of a small file, or null
    long long size;  // bytes in a regular file; 0 for other kinds
};
// Opens the file named by `name` (as rk_hImageFileOpen does); false when it
// cannot be opened.
bool rk_hImageFileOpenRead(const RkString *name, ImageFileReader *r);
void rk_hImageFileClose(ImageFileReader *r);

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
