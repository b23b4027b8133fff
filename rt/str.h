// Runtime strings: the text runtime's dynamic strings.
#pragma once
#include <cstddef>

// A dynamic string: text (NUL-terminated when not null), length and capacity.
// A temporary is a string handed to an operation that releases it before it
// returns; `temp` marks such strings.
struct RkString {
    char *data;
    int len;
    int size;
    bool temp;
};

// Builds a temporary string holding a copy of `text` (null on allocation failure).
[[nodiscard]] RkString *rk_StrAllocTempDesc(const char *text);
[[nodiscard]] RkString *rk_StrAllocTempBytes(const char *bytes, std::size_t len);
// Releases `s` if it is a temporary; other strings are left alone.
void rk_hStrDelTemp(RkString *s);
// Replaces the contents of `dst` with `len` bytes of `src`; returns 0, or 4
// when the memory could not be allocated (dst is then unchanged).
int rk_StrAssignBytes(RkString *dst, const char *src, std::size_t len);
// Frees the text of a non-temporary string and empties it.
void rk_StrDelete(RkString *s);

// Assigns `src` (released when it is a temporary) to a destination: with
// dst_size -1 an RkString; otherwise a byte buffer of dst_size bytes, either
// zero-terminated (the text cut to fit) or, with `fill`, a fixed-length
// field padded with spaces. Returns 0, or 4 when memory ran out.
int rk_StrAssign(void *dst, int dst_size, RkString *src, int fill);
