// The X11 driver's images: the framebuffer's image in shared memory or in
// plain memory, the shape mask of a shaped window, and the window thread's
// start and stop hooks that make and free them.
#include "gfx/drivers/x11_private.h"

#include <cstdlib>
#include <cstring>

#include "gfx/core/mem.h"
#include "gfx/core/state.h"

static int floor_half(int v)
{
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

// ---- shape masks ---------------------------------------------------------

// One bit per window pixel, least significant bit first; the pixels a
// framebuffer pixel of the transparent colour is shown with clear their
// bits. `first` and `rows` count window rows; a row inside the block of one
// display line copies the row above it.
template <int Bpp>
static void update_mask(const uint8_t *, uint8_t *mask, int first, int rows)
{
    const ScreenState *s = __rk_gfx;
    int f = rk_hX11Scale();
    int bpl = rk_x11p.shape_image->bytes_per_line;
    auto row_bytes = static_cast<std::size_t>((rk_x11.w * f + 7) / 8);
    for (int r = first; r < first + rows; ++r) {
        uint8_t *out = mask + static_cast<std::size_t>(r) * bpl;
        if (r % f && r > first) {
            std::memcpy(out, out - bpl, row_bytes);
            continue;
        }
        const uint8_t *src = s->framebuffer + static_cast<std::size_t>(r / f / s->scanline_size) * s->pitch;
        std::memset(out, 0, row_bytes);
        for (int x = 0; x < rk_x11.w; ++x) {
            bool opaque;
            if constexpr (Bpp == 1) {
                opaque = src[x] != 0;
            } else if constexpr (Bpp == 2) {
                uint16_t p;
                std::memcpy(&p, src + 2 * x, 2);
                opaque = p != 0xF81F;
            } else {
                uint32_t p;
                std::memcpy(&p, src + 4 * x, 4);
                opaque = (p & 0xFFFFFF) != 0xFF00FF;
            }
            if (opaque)
                for (int b = x * f; b < x * f + f; ++b)
                    out[b >> 3] |= static_cast<uint8_t>(1u << (b & 7));
        }
    }
}

// ---- image ---------------------------------------------------------------

static void free_shm_segment()
{
    if (rk_x11p.shm_info.shmaddr && rk_x11p.shm_info.shmaddr != reinterpret_cast<char *>(-1))
        shmdt(rk_x11p.shm_info.shmaddr);
    if (rk_x11p.shm_info.shmid >= 0)
        shmctl(rk_x11p.shm_info.shmid, IPC_RMID, nullptr);
    rk_x11p.shm_info.shmaddr = nullptr;
    rk_x11p.shm_info.shmid = -1;
}

// The image in a shared-memory segment only this user can read or write.
// The segment is marked for removal as soon as the server has attached it,
// so it goes away with the last detach even if the program dies.
static bool create_shm_image()
{
    Display *d = rk_x11.display;
    int f = rk_hX11Scale();
    XImage *img = XShmCreateImage(d, rk_x11.visual, static_cast<unsigned>(DefaultDepth(d, rk_x11.screen)), ZPixmap,
                                  nullptr, &rk_x11p.shm_info, static_cast<unsigned>(rk_x11.w * f),
                                  static_cast<unsigned>(rk_x11.h * f));
    if (!img)
        return false;
    std::size_t size = static_cast<std::size_t>(img->bytes_per_line) * static_cast<std::size_t>(img->height);
    rk_x11p.shm_info.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    rk_x11p.shm_info.shmaddr = nullptr;
    if (rk_x11p.shm_info.shmid >= 0) {
        void *addr = shmat(rk_x11p.shm_info.shmid, nullptr, 0);
        if (addr != reinterpret_cast<void *>(-1)) {
            rk_x11p.shm_info.shmaddr = img->data = static_cast<char *>(addr);
            rk_x11p.shm_info.readOnly = False;
            rk_x11p.last_error = 0;
            if (XShmAttach(d, &rk_x11p.shm_info)) {
                XSync(d, False);
                if (rk_x11p.last_error == 0 && !rk_x11p.display_lost) {
                    shmctl(rk_x11p.shm_info.shmid, IPC_RMID, nullptr);
                    rk_x11p.image = img;
                    return true;
                }
            }
        }
    }
    free_shm_segment();
    img->data = nullptr;
    XDestroyImage(img);
    return false;
}

static bool create_plain_image()
{
    Display *d = rk_x11.display;
    int f = rk_hX11Scale();
    XImage *img = XCreateImage(d, rk_x11.visual, static_cast<unsigned>(DefaultDepth(d, rk_x11.screen)), ZPixmap, 0,
                               nullptr, static_cast<unsigned>(rk_x11.w * f), static_cast<unsigned>(rk_x11.h * f), 32,
                               0);
    if (!img)
        return false;
    img->data = static_cast<char *>(
        std::calloc(static_cast<std::size_t>(img->bytes_per_line) * static_cast<std::size_t>(img->height), 1));
    if (!img->data) {
        XDestroyImage(img);
        return false;
    }
    rk_x11p.image = img;
    return true;
}

// ---- the window thread's start and stop ----------------------------------

int rk_hX11WindowStart()
{
    Display *d = rk_x11.display;
    rk_x11p.image = rk_x11p.shape_image = nullptr;
    rk_x11p.pointer_known = false;
    rk_x11p.shape_pixmap = None;
    rk_x11p.shape_gc = nullptr;
    rk_x11p.is_shm = false;
    // Without room for the fingerprints every dirty line is sent, as it is
    // anyway in the first pass into a new window.
    std::free(rk_x11p.sent);
    rk_x11p.sent = nullptr;
    if (const ScreenState *s = __rk_gfx)
        rk_x11p.sent =
            static_cast<LineFingerprint *>(std::calloc(static_cast<std::size_t>(s->h), sizeof(LineFingerprint)));
    rk_x11p.resend = true;
    std::free(rk_x11p.staging);
    rk_x11p.staging = nullptr;

    unsigned long red = rk_x11.visual->red_mask;
    bool red_low = false;
    if (rk_x11.pixel_format == 24 || rk_x11.pixel_format == 32)
        red_low = red == 0xFF || red == 0x1F;
    else if (rk_x11.pixel_format == 15 || rk_x11.pixel_format == 16)
        red_low = red == 0x1F;
    rk_x11p.blitter = rk_hGetBlitter(rk_x11.pixel_format, red_low);
    if (!rk_x11p.blitter)
        return -1;

    // A scaled window converts into the staging lines first (unless the
    // conversion is a copy); the blitters write `pitch` bytes a line at most.
    int f = rk_hX11Scale();
    if (f > 1 && rk_hBlitScaledStages(rk_x11p.blitter)) {
        const ScreenState *s = __rk_gfx;
        int line = (rk_x11.w * ((rk_x11.pixel_format + 7) / 8) + 3) & ~3;
        rk_x11p.staging_pitch = s && s->pitch > line ? s->pitch : line;
        rk_x11p.staging =
            static_cast<uint8_t *>(std::calloc(static_cast<std::size_t>(rk_x11p.staging_pitch) * rk_x11.h, 1));
        if (!rk_x11p.staging)
            return -1;
    }
    int win_w = rk_x11.w * f, win_h = rk_x11.h * f;

    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    int x = 0, y = 0;
    if (!fullscreen) {
        x = floor_half(DisplayWidth(d, rk_x11.screen) - win_w);
        y = floor_half(DisplayHeight(d, rk_x11.screen) - win_h);
    }
    rk_hX11InitWindow(x, y);

    if (rk_x11.flags & RK_MODE_SHAPED) {
        int bpl = (win_w + 7) / 8;
        char *data = static_cast<char *>(std::calloc(static_cast<std::size_t>(bpl) * win_h, 1));
        if (!data)
            return -1;
        rk_x11p.shape_image = XCreateImage(d, rk_x11.visual, 1, XYBitmap, 0, data, static_cast<unsigned>(win_w),
                                           static_cast<unsigned>(win_h), 8, bpl);
        if (!rk_x11p.shape_image) {
            std::free(data);
            return -1;
        }
        rk_x11p.shape_image->bitmap_bit_order = LSBFirst;
        rk_x11p.shape_image->byte_order = LSBFirst;
        rk_x11p.shape_pixmap = XCreateBitmapFromData(d, rk_x11.window, data, static_cast<unsigned>(win_w),
                                                     static_cast<unsigned>(win_h));
        XGCValues v;
        v.foreground = 1;
        v.background = 0;
        if (!rk_x11p.shape_pixmap)
            return -1;
        rk_x11p.shape_gc = XCreateGC(d, rk_x11p.shape_pixmap, GCForeground | GCBackground, &v);
        if (!rk_x11p.shape_gc)
            return -1;
        int bpp = __rk_gfx ? __rk_gfx->bpp : 4;
        rk_x11p.update_mask = bpp == 1 ? update_mask<1> : bpp == 2 ? update_mask<2> : update_mask<4>;
    }

    rk_x11.display_offset = 0;
    int event_base, error_base;
    bool local = rk_hX11DisplayIsLocal();
    if (local && XShmQueryExtension(d)) {
        (void)event_base;
        (void)error_base;
        if (fullscreen) {
            int real_h;
            if (rk_hX11EnterFullscreen(&real_h) != 0) {
                rk_hX11LeaveFullscreen();
                return -1;
            }
            XReparentWindow(d, rk_x11.window, rk_x11.fswindow, 0, 0);
            XResizeWindow(d, rk_x11.fswindow, static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(real_h));
            XResizeWindow(d, rk_x11.window, static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(real_h));
            rk_x11.display_offset = (real_h - rk_x11.h) / 2;
        }
        rk_x11p.is_shm = true;
        if (create_shm_image())
            return 0;
        rk_x11p.is_shm = false;
    } else if (fullscreen) {
        return -1;
    }
    return create_plain_image() ? 0 : -1;
}

void rk_hX11WindowStop()
{
    Display *d = rk_x11.display;
    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    if (rk_hX11Alive()) {
        if (fullscreen)
            rk_hX11LeaveFullscreen();
        rk_hX11UnmapAndWait(rk_x11.window);
        if (fullscreen) {
            XUnmapWindow(d, rk_x11.fswindow);
            XSync(d, False);
        } else if (!(rk_x11.flags & RK_MODE_NO_FRAME)) {
            rk_hX11UnmapAndWait(rk_x11.wmwindow);
        }
    }
    if (XImage *img = rk_x11p.image) {
        if (rk_x11p.is_shm) {
            if (rk_hX11Alive())
                XShmDetach(d, &rk_x11p.shm_info);
            img->data = nullptr;
            free_shm_segment();
        }
        XDestroyImage(img);
        rk_x11p.image = nullptr;
    }
    std::free(rk_x11p.sent);
    rk_x11p.sent = nullptr;
    std::free(rk_x11p.staging);
    rk_x11p.staging = nullptr;
    if (rk_x11p.shape_image) {
        XDestroyImage(rk_x11p.shape_image);
        rk_x11p.shape_image = nullptr;
    }
    if (rk_hX11Alive() && rk_x11p.shape_pixmap)
        XFreePixmap(d, rk_x11p.shape_pixmap);
    if (rk_hX11Alive() && rk_x11p.shape_gc)
        XFreeGC(d, rk_x11p.shape_gc);
    rk_x11p.shape_pixmap = None;
    rk_x11p.shape_gc = nullptr;
}
