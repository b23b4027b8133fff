#include "gfx/core/decode.h"

struct LzwEntry {
    uint16_t prefix;
    uint8_t byte;
};
static LzwEntry rk_lzw_entry[RK_LZW_LAST_CODE + 1];

// Code k sits at byte 3 * (k / 2): the even one in the low 12 bits of the
// group, the odd one in the high 12. -1 when the group is cut short.
static int read_code(const uint8_t *src, int src_len, long long k)
{
    long long at = 3 * (k / 2);
    if (k % 2 == 0)
        return at + 1 < src_len ? src[at] | ((src[at + 1] & 0x0F) << 8) : -1;
    return at + 2 < src_len ? (src[at + 1] >> 4) | (src[at + 2] << 4) : -1;
}

int rk_hDecode(const uint8_t *src, int src_len, uint8_t *dst, int *dst_len)
{
    static constexpr int STRING_BUFFER = 4096;
    uint8_t stack[STRING_BUFFER];
    int capacity = *dst_len, count = 0;
    *dst_len = 0;

    int old = read_code(src, src_len, 0);
    if (old < 0 || capacity < 1)
        return -1;
    uint8_t last = static_cast<uint8_t>(old);
    dst[count++] = last;
    auto finish = [&](int result) {
        *dst_len = count;
        return result;
    };

    int next = 256;
    for (long long k = 1;; ++k) {
        int code = read_code(src, src_len, k);
        if (code < 0)
            return finish(-1);
        if (code == RK_LZW_END)
            return finish(0);
        // The string is built backwards at the end of the buffer; a code not
        // yet in the dictionary stands for old's string followed by last.
        int top = STRING_BUFFER;
        int walk = code;
        if (code >= next) {
            stack[--top] = last;
            walk = old;
        }
        while (walk >= 256) {
            if (top == 0)
                return finish(-1);
            stack[--top] = rk_lzw_entry[walk].byte;
            walk = rk_lzw_entry[walk].prefix;
        }
        if (top == 0)
            return finish(-1);
        stack[--top] = static_cast<uint8_t>(walk);

        int len = STRING_BUFFER - top;
        if (len > capacity - count)
            return finish(-1);
        for (int i = 0; i < len; ++i)
            dst[count++] = stack[top + i];
        last = stack[top];
        if (next <= RK_LZW_LAST_CODE) {
            rk_lzw_entry[next].prefix = static_cast<uint16_t>(old);
            rk_lzw_entry[next].byte = last;
            ++next;
        }
        old = code;
    }
}
