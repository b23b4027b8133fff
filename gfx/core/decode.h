// Decoder of the built-in data: 12-bit dictionary codes packed two per three
// bytes, least significant bits first. Codes 0-255 are literal bytes,
// 256-4094 dictionary strings, 4095 ends the stream.
#pragma once
#include <cstdint>

inline constexpr int RK_LZW_END = 0xFFF;
inline constexpr int RK_LZW_LAST_CODE = 4094;

// Decodes src_len bytes into dst; *dst_len holds the capacity on entry and
// the number of bytes written on return. 0 when the end code was reached,
// -1 when the input ends first, the output would exceed the capacity or a
// string is longer than the decoder's buffer. Not reentrant (the dictionary
// is static).
int rk_hDecode(const uint8_t *src, int src_len, uint8_t *dst, int *dst_len);
