// The runtime's loader for libraries opened by name at run time (the GL
// library, the X library of the X-terminal keyboard).
#pragma once

// Opens a library and resolves the null-terminated list `names` into
// `funcs` (one pointer each, in order). When the first name is already
// defined in the running program itself, the program is used instead of
// `path`, so a program (or a test) can stand in for the library. Any
// missing name closes the library again: null. Otherwise the handle.
void *rk_hDynLoad(const char *path, const char *const *names, void **funcs);

// Resolves `count` further names from an open handle. -1 at the first
// missing one (the entries before it are filled), else 0.
int rk_hDynLoadAlso(void *handle, const char *const *names, void **funcs, int count);

// Closes a handle returned by rk_hDynLoad and clears it; a null handle is
// left alone.
void rk_hDynUnload(void **handle);
