#include "gfx/image/imagefile.h"

#include <algorithm>
#include <cstring>

#include "gfx/core/target.h"
#include "rt/str.h"

void rk_hConvertPath(char *path)
{
    for (; *path; ++path)
        if (*path == '\\')
            *path = '/';
}

std::FILE *rk_hImageFileOpen(const RkString *name, const char *mode)
{
    char path[1023];
    std::size_t len = 0;
    if (name && name->data && name->len > 0)
        len = std::min<std::size_t>(static_cast<std::size_t>(name->len), sizeof path - 1);
    if (len)
        std::memcpy(path, name->data, len);
    path[len] = '\0';
    rk_hConvertPath(path);
    if (!path[0])
        return nullptr;
    return std::fopen(path, mode);
}

void rk_hImageBufferInfo(const void *buffer, ImageBufferInfo *info)
{
    auto *b = static_cast<const uint8_t *>(buffer);
    ImageHeader h;
    std::memcpy(&h.type, b, 4);
    if (h.type == RK_IMAGE_TYPE) {
        std::memcpy(&h, b, sizeof h);
        info->current = true;
        info->bpp_field = h.bpp;
        info->width = h.width;
        info->height = h.height;
        info->pitch = h.pitch;
        info->pixels = const_cast<uint8_t *>(b) + sizeof(ImageHeader);
        return;
    }
    info->current = false;
    info->bpp_field = b[0] & 7u;
    info->width = static_cast<uint64_t>((b[0] >> 3) | (b[1] << 5));
    info->height = static_cast<uint64_t>(b[2] | (b[3] << 8));
    info->pitch = 0;
    info->pixels = const_cast<uint8_t *>(b) + 4;
}
