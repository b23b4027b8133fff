#include "rt/str.h"

#include <cstdlib>
#include <cstring>

RkString *rk_StrAllocTempBytes(const char *bytes, std::size_t len)
{
    if (len > 0x7FFFFFF0u)
        return nullptr;
    auto *s = static_cast<RkString *>(std::malloc(sizeof(RkString)));
    if (!s)
        return nullptr;
    s->data = static_cast<char *>(std::malloc(len + 1));
    if (!s->data) {
        std::free(s);
        return nullptr;
    }
    if (len)
        std::memcpy(s->data, bytes, len);
    s->data[len] = '\0';
    s->len = static_cast<int>(len);
    s->size = static_cast<int>(len + 1);
    s->temp = true;
    return s;
}

RkString *rk_StrAllocTempDesc(const char *text)
{
    return rk_StrAllocTempBytes(text ? text : "", text ? std::strlen(text) : 0);
}

void rk_hStrDelTemp(RkString *s)
{
    if (!s || !s->temp)
        return;
    std::free(s->data);
    std::free(s);
}

int rk_StrAssignBytes(RkString *dst, const char *src, std::size_t len)
{
    if (len > 0x7FFFFFF0u)
        return 4;
    if (static_cast<std::size_t>(dst->size) < len + 1) {
        auto *p = static_cast<char *>(std::realloc(dst->data, len + 1));
        if (!p)
            return 4;
        dst->data = p;
        dst->size = static_cast<int>(len + 1);
    }
    if (len)
        std::memmove(dst->data, src, len);
    dst->data[len] = '\0';
    dst->len = static_cast<int>(len);
    return 0;
}

void rk_StrDelete(RkString *s)
{
    if (!s)
        return;
    std::free(s->data);
    s->data = nullptr;
    s->len = 0;
    s->size = 0;
}

int rk_StrAssign(void *dst, int dst_size, RkString *src, int fill)
{
    const char *text = src && src->data ? src->data : "";
    std::size_t len = src && src->data ? static_cast<std::size_t>(src->len) : 0;
    int r = 0;
    if (dst_size == -1) {
        r = rk_StrAssignBytes(static_cast<RkString *>(dst), text, len);
    } else if (dst_size > 0) {
        auto *d = static_cast<char *>(dst);
        auto size = static_cast<std::size_t>(dst_size);
        if (fill) {
            std::size_t n = len < size ? len : size;
            std::memmove(d, text, n);
            std::memset(d + n, ' ', size - n);
        } else {
            std::size_t n = len < size - 1 ? len : size - 1;
            std::memmove(d, text, n);
            d[n] = '\0';
        }
    }
    rk_hStrDelTemp(src);
    return r;
}
