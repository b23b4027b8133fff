#include "gfx/image/imagefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gfx/core/target.h"
#include "gfx/image/filecache.h"
#include "gfx/image/filewatch.h"
#include "rt/str.h"

void rk_hConvertPath(char *path)
{
    for (; *path; ++path)
        if (*path == '\\')
            *path = '/';
}

// The path of `name`: at most 1022 characters, slashes for backslashes;
// empty for no name.
static void file_path(const RkString *name, char (&path)[1023])
{
    std::size_t len = 0;
    if (name && name->data && name->len > 0)
        len = std::min<std::size_t>(static_cast<std::size_t>(name->len), sizeof path - 1);
    if (len)
        std::memcpy(path, name->data, len);
    path[len] = '\0';
    rk_hConvertPath(path);
}

// A descriptor of the regular file at `path`, opened for reading or
// for writing (created, and truncated once it is known to be regular), with
// its status in `st`; -1 otherwise. The open never waits: a FIFO without a
// peer or a device would block the program in open() or in the first read,
// so they are refused. A regular file's reads do not wait on O_NONBLOCK on
// local file systems, so the small-file path keeps the flag (one system call
// less per icon) and drops it only if a read ever answers EAGAIN; every
// descriptor handed to stdio loses it first.
static int open_regular(const char *path, bool write, struct stat *st)
{
    const int flags = (write ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const int fd = open(path, flags, 0666);
    if (fd < 0)
        return -1;
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) ||
        (write && (fcntl(fd, F_SETFL, 0) != 0 || ftruncate(fd, 0) != 0))) {
        close(fd);
        return -1;
    }
    return fd;
}

std::FILE *rk_hImageFileCreate(const RkString *name)
{
    char path[1023];
    file_path(name, path);
    struct stat st;
    const int fd = path[0] ? open_regular(path, true, &st) : -1;
    if (fd < 0)
        return nullptr;
    std::FILE *f = fdopen(fd, "wb");
    if (!f)
        close(fd);
    return f;
}

// Files up to this size are read whole: icons and other small pictures.
static constexpr off_t SMALL_FILE = 64 * 1024;

bool rk_hImageFileOpenRead(const RkString *name, ImageFileReader *r)
{
    *r = {};
    char path[1023];
    file_path(name, path);
    if (!path[0])
        return false;
    // A small file read before and unchanged since comes from the cache.
    struct stat &st = r->st;
    if (rk_hFileWatchStat(path, &st) && S_ISREG(st.st_mode) && (r->bytes = rk_hFileCacheCopy(st))) {
        if ((r->f = fmemopen(r->bytes, static_cast<std::size_t>(st.st_size), "rb"))) {
            r->size = st.st_size;
            return true;
        }
        std::free(r->bytes);
        r->bytes = nullptr;
    }
    int fd = open_regular(path, false, &st);
    if (fd < 0)
        return false;
    r->size = st.st_size;
    if (r->size > 0 && r->size <= SMALL_FILE) {
        auto size = static_cast<std::size_t>(r->size);
        std::size_t got = 0;
        if ((r->bytes = std::malloc(size))) {
            while (got < size) {
                ssize_t n = read(fd, static_cast<char *>(r->bytes) + got, size - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno == EAGAIN && fcntl(fd, F_SETFL, 0) == 0)
                    continue;
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            // A file that shrank meanwhile is taken as far as it was read.
            if (got > 0 && (r->f = fmemopen(r->bytes, got, "rb"))) {
                close(fd);
                rk_hFileCacheOffer(st, r->bytes, got);
                r->size = static_cast<long long>(got);
                return true;
            }
            std::free(r->bytes);
            r->bytes = nullptr;
            if (lseek(fd, 0, SEEK_SET) != 0) {
                close(fd);
                return false;
            }
        }
    }
    if (fcntl(fd, F_SETFL, 0) != 0 || !(r->f = fdopen(fd, "rb")))
        close(fd);
    return r->f != nullptr;
}

void rk_hImageFileClose(ImageFileReader *r)
{
    if (r->f)
        std::fclose(r->f);
    std::free(r->bytes);
    *r = {};
}

bool rk_hImageFileStat(const RkString *name, struct stat *st)
{
    char path[1023];
    file_path(name, path);
    return path[0] && rk_hFileWatchStat(path, st) && S_ISREG(st->st_mode);
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
