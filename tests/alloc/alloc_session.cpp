// The allocation-failure session: a scripted run of the runtime with the
// Null driver - a screen, images of every kind, every drawing primitive,
// saving, loading, a line typed through the key buffer, closing and opening
// another screen - made once as it normally runs, then once for every
// allocation of that run with just that allocation failing.
//
// Each run is a child process. A run checks every step against what
// happened: a step that reports success must leave the state (pixels, text
// cells and cursor, palette, images, files written, the typed line) exactly
// as the run without failures left it; a step that reports a failure must
// have met the failed allocation, must leave the state unchanged when it
// promises to, and must succeed when tried again. The parent also sees
// crashes, hangs (a timer ends the run) and leaks (blocks allocated by the
// run and still live at its end; under AddressSanitizer also its leak check).
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/clear.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "gfx/input/keys.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/fail_alloc.h"

namespace {

constexpr int kMaxSteps = 128;
constexpr unsigned kRunSeconds = 30;

// What the parent and its runs share (a shared anonymous mapping).
struct Shared {
    int steps;
    uint64_t digest[kMaxSteps];  // the state after each step of the run without failures
    long allocations;            // allocations that run made
    long live_at_end;            // its blocks still live at the end
    char message[512];           // what a run found wrong
};
Shared *shared;
bool reference;  // this run is the one without failures

// ---- the state the script builds -------------------------------------------

enum Image { IMG32, IMG16, COMPACT8, COMPACT16, TALL, LOADED, COPY8, COPY16, NUM_IMAGES };
enum File { BILD_BMP, IMG32_BMP, IMG16_BMP, C8_RAW, C16_RAW, SCREEN_RAW, SCREEN8_BMP, IMG16_PNG, SCREEN8_PNG, NUM_FILES };
constexpr const char *file_names[NUM_FILES] = {"bild.bmp", "i32.bmp",    "i16.bmp", "c8.raw", "c16.raw",
                                               "screen.raw", "s8.bmp", "i16.png", "s8.png"};

struct World {
    void *image[NUM_IMAGES];
    uint64_t file[NUM_FILES];  // digest of each file when it was written
};
World world;
RkString typed;  // the line typed in the session
char dir[256];

[[noreturn]] void fault(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(shared->message, sizeof shared->message, format, args);
    va_end(args);
    std::exit(2);
}

const char *path(File f)
{
    static char buf[2][320];
    static int next;
    char *p = buf[next++ & 1];
    std::snprintf(p, sizeof buf[0], "%s/%s", dir, file_names[f]);
    return p;
}

// ---- digests and snapshots -------------------------------------------------

struct Digest {
    uint64_t h = 0xCBF29CE484222325ull;
    void add(const void *data, std::size_t n)
    {
        auto *p = static_cast<const uint8_t *>(data);
        for (; n >= 8; n -= 8, p += 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h ^ w) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        for (; n; --n, ++p)
            h = (h ^ *p) * 0x100000001B3ull;
    }
    void add_int(long long v) { add(&v, sizeof v); }
};

// Bytes of an image buffer, by its own header.
std::size_t image_bytes(const void *image)
{
    ImageGeometry g;
    rk_hReadImageHeader(image, 4, &g);
    return (g.compact ? 4 : 32) + static_cast<std::size_t>(g.pitch) * static_cast<std::size_t>(g.height);
}

// An image's bytes without the header word that creation leaves unwritten.
void add_image(Digest &d, const void *image)
{
    auto *b = static_cast<const uint8_t *>(image);
    const std::size_t n = image_bytes(image);
    if (b[0] == RK_IMAGE_TYPE && b[1] == 0 && b[2] == 0 && b[3] == 0) {
        d.add(b, 20);
        d.add(b + 24, n - 24);
    } else {
        d.add(b, n);
    }
}

uint64_t state_digest()
{
    Digest d;
    const ScreenState *s = __rk_gfx;
    d.add_int(s != nullptr);
    if (s) {
        const DrawContext *ctx = rk_hGetContext();
        const long long geometry[] = {s->w, s->h, s->bpp, s->num_pages, s->visible_page, ctx->work_page,
                                      s->text_w, s->text_h, s->cursor_x, s->cursor_y,
                                      (s->flags & SCREEN_WRAP_PENDING) != 0};
        d.add(geometry, sizeof geometry);
        for (int p = 0; p < s->num_pages; ++p)
            d.add(s->page[p], static_cast<std::size_t>(s->pitch) * s->h);
        d.add(s->device_palette, 256 * 4);
        d.add_int(s->char_cells != nullptr);
        for (int p = 0; s->char_cells && p < s->num_pages; ++p) {
            d.add_int(s->char_cells[p] != nullptr);
            if (s->char_cells[p])
                d.add(s->char_cells[p], static_cast<std::size_t>(s->text_w) * s->text_h * 12);
        }
    }
    for (void *image : world.image) {
        d.add_int(image != nullptr);
        if (image)
            add_image(d, image);
    }
    d.add(world.file, sizeof world.file);
    d.add_int(typed.len);
    if (typed.data)
        d.add(typed.data, static_cast<std::size_t>(typed.len));
    return d.h;
}

// The state before a step, for trying it again after a reported failure:
// pixels, cells, cursor and palette of the screen, and the images.
struct Snapshot {
    int screen_id;
    int cursor_x, cursor_y;
    uint32_t flags;
    World world;
    std::size_t used;
    uint8_t bytes[1 << 20];
};
Snapshot snap;

void copy_out(const void *p, std::size_t n)
{
    if (snap.used + n > sizeof snap.bytes)
        fault("the snapshot is too small");
    std::memcpy(snap.bytes + snap.used, p, n);
    snap.used += n;
}

void copy_back(void *p, std::size_t n, std::size_t *at)
{
    std::memcpy(p, snap.bytes + *at, n);
    *at += n;
}

void take_snapshot()
{
    const ScreenState *s = __rk_gfx;
    snap.used = 0;
    snap.world = world;
    snap.screen_id = s ? s->id : 0;
    if (s) {
        snap.cursor_x = s->cursor_x;
        snap.cursor_y = s->cursor_y;
        snap.flags = s->flags;
        for (int p = 0; p < s->num_pages; ++p)
            copy_out(s->page[p], static_cast<std::size_t>(s->pitch) * s->h);
        copy_out(s->device_palette, 256 * 4);
        for (int p = 0; s->char_cells && p < s->num_pages; ++p)
            if (s->char_cells[p])
                copy_out(s->char_cells[p], static_cast<std::size_t>(s->text_w) * s->text_h * 12);
    }
    for (void *image : world.image)
        if (image)
            copy_out(image, image_bytes(image));
}

void restore_snapshot()
{
    ScreenState *s = __rk_gfx;
    std::size_t at = 0;
    world = snap.world;
    if (s && s->id == snap.screen_id) {
        s->cursor_x = snap.cursor_x;
        s->cursor_y = snap.cursor_y;
        s->flags = snap.flags;
        for (int p = 0; p < s->num_pages; ++p)
            copy_back(s->page[p], static_cast<std::size_t>(s->pitch) * s->h, &at);
        copy_back(s->device_palette, 256 * 4, &at);
        for (int p = 0; s->char_cells && p < s->num_pages; ++p)
            if (s->char_cells[p])
                copy_back(s->char_cells[p], static_cast<std::size_t>(s->text_w) * s->text_h * 12, &at);
    } else if (snap.screen_id) {
        fault("the screen went away in a failed step");
    }
    for (void *image : world.image)
        if (image)
            copy_back(image, image_bytes(image), &at);
}

uint64_t file_digest(File f)
{
    static uint8_t buf[1 << 16];
    Digest d;
    const int fd = open(path(f), O_RDONLY);
    if (fd < 0)
        fault("%s is missing after a successful save", file_names[f]);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        d.add(buf, static_cast<std::size_t>(n));
    close(fd);
    return d.h;
}

// ---- the steps ---------------------------------------------------------------

// A temporary string; null when it cannot be allocated (the step then
// reports error 4).
RkString *str(const char *text)
{
    return rk_StrAllocTempDesc(text);
}

int made(Image i, void *image)
{
    world.image[i] = image;
    return image ? RK_OK : RK_ERR_MEMORY;
}

int drawn()
{
    return rk_ErrorGetNum();
}

int open_screen(int w, int h, int depth, int pages)
{
    const int r = rk_GfxScreenRes(w, h, depth, pages, 0, 0);
    if (r != RK_OK && __rk_gfx)
        fault("a failed open left a screen");
    return r;
}

int save(File f, const void *source, uint32_t size)
{
    RkString *name = str(path(f));
    if (!name)
        return RK_ERR_MEMORY;
    const int r = rk_GfxBsave(name, source, size, nullptr);
    if (r == RK_OK)
        world.file[f] = file_digest(f);
    return r;
}

int load(File f, void *dest)
{
    RkString *name = str(path(f));
    return name ? rk_GfxBload(name, dest, nullptr) : RK_ERR_MEMORY;
}

int load_copy(File f, Image copy, Image original)
{
    const int r = load(f, world.image[copy]);
    if (r == RK_OK && std::memcmp(world.image[copy], world.image[original], image_bytes(world.image[original])) != 0)
        fault("%s did not load back into its image byte for byte", file_names[f]);
    return r;
}

// Types "bid", Left, "l", End, ".bmp,x" and Enter: the line "bild.bmp,x",
// whose first value is the file name.
int type_file_name()
{
    while (rk_GfxKeyHit())  // what a failed attempt left unread
        rk_GfxGetkey();
    rk_Locate(6, 2, 0);
    RkString *prompt = str("Datei");
    if (!prompt)
        return RK_ERR_MEMORY;
    const int keys[] = {'b', 'i', 'd', RK_KEY_LEFT, 'l', RK_KEY_END, '.', 'b', 'm', 'p', ',', 'x', 13};
    for (int k : keys)
        rk_hPostKey(k);
    int r = rk_ConsoleInput(prompt, 0, -1);
    if (r == RK_OK)
        r = rk_InputString(&typed, -1, 0);
    if (r == RK_OK && (typed.len != 8 || std::memcmp(typed.data, "bild.bmp", 8) != 0))
        fault("the typed line gave \"%.*s\"", typed.len, typed.data ? typed.data : "");
    return r;
}

int load_typed_name()
{
    char name[320];
    std::snprintf(name, sizeof name, "%s/%.*s", dir, typed.len, typed.data);
    RkString *s = str(name);
    return s ? rk_GfxBload(s, world.image[LOADED], nullptr) : RK_ERR_MEMORY;
}

int destroy_images()
{
    for (void *&image : world.image) {
        rk_GfxImageDestroy(image);
        image = nullptr;
    }
    return RK_OK;
}

// A step either changes nothing when it fails (atomic) or may leave part of
// its work behind (a load, the echo of typed keys).
struct Step {
    const char *name;
    bool atomic;
    int (*run)();
};

const Step steps[] = {
    {"open 160x100x32, 2 pages", true, []() -> int { return open_screen(160, 100, 32, 2); }},
    {"colours", true, []() -> int { rk_GfxColor(0xFFFF00, 0x000080, 0); return RK_OK; }},
    {"32-bit image", true, []() -> int { return made(IMG32, rk_GfxImageCreate(40, 30, 0x336699, 0, 0)); }},
    {"16-bit image", true, []() -> int { return made(IMG16, rk_GfxImageCreate(24, 20, 0x123456, 16, 0)); }},
    {"compact 8-bit image", true, []() -> int { return made(COMPACT8, gfx_imagecreate(12, 10, 0x5A, 8, 0, false)); }},
    {"compact 16-bit image", true, []() -> int { return made(COMPACT16, gfx_imagecreate(12, 10, 0x00FF00, 16, 0, false)); }},
    {"image taller than the screen", true, []() -> int { return made(TALL, rk_GfxImageCreate(8, 150, 0xFF0000, 0, 0)); }},
    {"line", true, []() -> int { rk_GfxLine(nullptr, 5, 5, 150, 90, 0xFF00FF, RK_LINE, 0xFFFF, 0); return drawn(); }},
    {"box outline", true, []() -> int { rk_GfxLine(nullptr, 10, 10, 60, 40, 0x00FF00, 1, 0xF0F0, 0); return drawn(); }},
    {"filled box", true, []() -> int { rk_GfxLine(nullptr, 70, 60, 90, 95, 0x00FFFF, RK_LINE_FILLED_BOX, 0xFFFF, 0); return drawn(); }},
    {"line into an image", true, []() -> int { rk_GfxLine(world.image[IMG32], 0, 29, 39, 0, 0xFFFFFF, RK_LINE, 0xFFFF, 0); return drawn(); }},
    {"box into a 16-bit image", true, []() -> int { rk_GfxLine(world.image[IMG16], 2, 2, 20, 15, 0xFF0000, 1, 0xFFFF, 0); return drawn(); }},
    {"line into the tall image", true, []() -> int { rk_GfxLine(world.image[TALL], 0, 0, 7, 149, 0x00FF00, RK_LINE, 0xFFFF, 0); return drawn(); }},
    {"circle", true, []() -> int { rk_GfxEllipse(nullptr, 120, 30, 20, 0xFFFFFF, 0, 0, RK_ELLIPSE_FULL, 0, 0); return drawn(); }},
    {"filled ellipse into an image", true, []() -> int { rk_GfxEllipse(world.image[IMG32], 20, 15, 12, 0xFFAA00, 0.5f, 0, RK_ELLIPSE_FULL, 1, 0); return drawn(); }},
    {"arc with both radii", true, []() -> int { rk_GfxEllipse(nullptr, 40, 70, 15, 0xFF8080, 0, -0.5f, -2.5f, 0, 0); return drawn(); }},
    {"flood fill", true, []() -> int { rk_GfxPaint(nullptr, 30, 20, 0x0000FF, 0x00FF00, nullptr, 0, 0); return drawn(); }},
    {"tiled fill into an image", true, []() -> int {
         uint8_t tile[256];
         for (int i = 0; i < 256; ++i)
             tile[i] = static_cast<uint8_t>(i * 37);
         RkString *t = rk_StrAllocTempBytes(reinterpret_cast<const char *>(tile), sizeof tile);
         if (!t)
             return RK_ERR_MEMORY;
         rk_GfxPaint(world.image[IMG32], 1, 1, 0, 0xFFFFFF, t, 1, 0);
         return drawn();
     }},
    {"put an image", true, []() -> int { rk_GfxPut(nullptr, 100, 50, world.image[IMG32], RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr); return drawn(); }},
    {"put part of the tall image", true, []() -> int { rk_GfxPut(nullptr, 150, 0, world.image[TALL], 0, 20, 7, 119, 0, 0, rk_hPutTrans, 0, 0, nullptr); return drawn(); }},
    {"text", true, []() -> int {
         RkString *t = str("Malwerk");
         return t ? rk_GfxDrawString(nullptr, 2, 90, 0, t, 0xFFFFFF, nullptr, 0, nullptr, 0, nullptr) : RK_ERR_MEMORY;
     }},
    {"text into a 16-bit image", true, []() -> int {
         RkString *t = str("Abc");
         return t ? rk_GfxDrawString(world.image[IMG16], 0, 4, 0, t, 0xFFFF00, nullptr, 0, nullptr, 0, nullptr) : RK_ERR_MEMORY;
     }},
    {"print", true, []() -> int {
         rk_Locate(2, 3, 0);
         rk_PrintBufferEx("Hallo Welt\n\tzwei", 16, RK_PRINT_NEWLINE);
         return RK_OK;
     }},
    {"view with a border", true, []() -> int {
         rk_GfxView(100, 70, 140, 90, 0x202020, 0xFFFFFF, 0);
         rk_GfxView(RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
         return RK_OK;
     }},
    {"save the screen as a bitmap", false, []() -> int { return save(BILD_BMP, nullptr, 0); }},
    {"save an image as a bitmap", false, []() -> int { return save(IMG32_BMP, world.image[IMG32], 0); }},
    {"save a 16-bit image as a bitmap", false, []() -> int { return save(IMG16_BMP, world.image[IMG16], 0); }},
    {"save a compact 8-bit image raw", false, []() -> int { return save(C8_RAW, world.image[COMPACT8], 4 + 12 * 10); }},
    {"save a compact 16-bit image raw", false, []() -> int { return save(C16_RAW, world.image[COMPACT16], 4 + 12 * 10 * 2); }},
    {"save the screen raw", false, []() -> int { return save(SCREEN_RAW, nullptr, 160 * 100 * 4); }},
    {"image for loading", true, []() -> int { return made(LOADED, rk_GfxImageCreate(160, 100, 0, 0, 0)); }},
    {"compact 8-bit copy", true, []() -> int { return made(COPY8, gfx_imagecreate(12, 10, 0, 8, 0, false)); }},
    {"compact 16-bit copy", true, []() -> int { return made(COPY16, gfx_imagecreate(12, 10, 0, 16, 0, false)); }},
    {"save a 16-bit image as PNG", false, []() -> int { return save(IMG16_PNG, world.image[IMG16], 0); }},
    {"load a bitmap into an image", false, []() -> int { return load(BILD_BMP, world.image[LOADED]); }},
    {"load a PNG into an image", true, []() -> int { return load(IMG16_PNG, world.image[LOADED]); }},
    {"load a bitmap onto the screen", false, []() -> int { return load(IMG32_BMP, nullptr); }},
    {"load a 16-bit picture onto the screen", false, []() -> int { return load(IMG16_BMP, nullptr); }},
    {"load a compact 8-bit image raw", false, []() -> int { return load_copy(C8_RAW, COPY8, COMPACT8); }},
    {"load a compact 16-bit image raw", false, []() -> int { return load_copy(C16_RAW, COPY16, COMPACT16); }},
    {"load the screen raw", false, []() -> int { return load(SCREEN_RAW, nullptr); }},
    {"type a file name", false, type_file_name},
    {"load the typed name", false, load_typed_name},
    {"close", true, []() -> int { rk_GfxScreen(0, 0, 0, 0, 0); return __rk_gfx ? RK_ERR_STATE : RK_OK; }},
    {"open 96x64x8", true, []() -> int { return open_screen(96, 64, 8, 1); }},
    {"line into the tall image on the new screen", true, []() -> int { rk_GfxLine(world.image[TALL], 7, 0, 0, 149, 0x0000FF, RK_LINE, 0xFFFF, 0); return drawn(); }},
    {"fill the tall image", true, []() -> int { rk_GfxPaint(world.image[TALL], 4, 140, 0x00FFFF, 0x00FF00, nullptr, 0, 0); return drawn(); }},
    {"8-bit drawing", true, []() -> int {
         rk_GfxLine(nullptr, 0, 0, 95, 63, 12, RK_LINE, 0xFFFF, 0);
         rk_GfxEllipse(nullptr, 48, 32, 20, 9, 0, 0, RK_ELLIPSE_FULL, 0, 0);
         return drawn();
     }},
    {"8-bit flood fill", true, []() -> int { rk_GfxPaint(nullptr, 48, 30, 4, 9, nullptr, 0, 0); return drawn(); }},
    {"8-bit text", true, []() -> int {
         RkString *t = str("8 Bit");
         return t ? rk_GfxDrawString(nullptr, 4, 50, 0, t, 14, nullptr, 0, nullptr, 0, nullptr) : RK_ERR_MEMORY;
     }},
    {"save the 8-bit screen as a bitmap", false, []() -> int { return save(SCREEN8_BMP, nullptr, 0); }},
    {"clear", true, []() -> int { rk_GfxClear(0); return RK_OK; }},
    {"load the 8-bit bitmap", false, []() -> int { return load(SCREEN8_BMP, nullptr); }},
    {"save the 8-bit screen as PNG", false, []() -> int { return save(SCREEN8_PNG, nullptr, 0); }},
    {"clear again", true, []() -> int { rk_GfxClear(0); return RK_OK; }},
    {"load the 8-bit PNG", true, []() -> int { return load(SCREEN8_PNG, nullptr); }},
    {"destroy the images", true, destroy_images},
    {"close again", true, []() -> int { rk_GfxScreen(0, 0, 0, 0, 0); return __rk_gfx ? RK_ERR_STATE : RK_OK; }},
};
constexpr int kSteps = sizeof steps / sizeof steps[0];
static_assert(kSteps <= kMaxSteps);

void run_step(int index)
{
    const Step &step = steps[index];
    for (int attempt = 0; attempt < 2; ++attempt) {
        take_snapshot();
        const uint64_t before = state_digest();
        const long failed = fail_alloc::failed();
        rk_ErrorSetNum(RK_OK);
        const int r = step.run();
        const uint64_t after = state_digest();
        if (r == RK_OK) {
            if (reference)
                shared->digest[index] = after;
            else if (after != shared->digest[index])
                fault("step \"%s\" reported success, but its result differs from the run without failures",
                      step.name);
            return;
        }
        if (fail_alloc::failed() == failed)
            fault("step \"%s\" failed with %d although no allocation failed", step.name, r);
        if (step.atomic && after != before)
            fault("step \"%s\" failed with %d but changed the state", step.name, r);
        restore_snapshot();
    }
    fault("step \"%s\" failed again after the failed allocation", step.name);
}

void run_session(long fail_at, const char *base)
{
    std::snprintf(dir, sizeof dir, "%s/%ld", base, fail_at);
    if (mkdir(dir, 0700) != 0)
        fault("cannot make %s: %s", dir, std::strerror(errno));
    alarm(kRunSeconds);
    fail_alloc::arm(fail_at);
    for (int i = 0; i < kSteps; ++i)
        run_step(i);
    rk_StrDelete(&typed);
    fail_alloc::disarm();
    if (reference) {
        shared->steps = kSteps;
        shared->allocations = fail_alloc::count();
        shared->live_at_end = fail_alloc::live();
    } else if (fail_alloc::failed() != 1) {
        fault("the allocation to fail was never made");
    } else if (fail_alloc::live() > shared->live_at_end) {
        fault("%ld blocks are still allocated at the end, %ld without failures", fail_alloc::live(),
              shared->live_at_end);
    }
}

// Runs the session in a child process; true when it found nothing wrong.
bool run_child(long fail_at, const char *base)
{
    shared->message[0] = '\0';
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return false;
    }
    if (pid == 0) {
        reference = fail_at == 0;
        run_session(fail_at, base);
        std::exit(0);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    std::fprintf(stderr, "allocation %ld failing: ", fail_at);
    if (shared->message[0])
        std::fprintf(stderr, "%s\n", shared->message);
    else if (WIFSIGNALED(status))
        std::fprintf(stderr, "%s\n", WTERMSIG(status) == SIGALRM ? "the run hung" : strsignal(WTERMSIG(status)));
    else
        std::fprintf(stderr, "the run ended with status %d\n", WEXITSTATUS(status));
    return false;
}

}  // namespace

int main()
{
    setenv("RIVEZ", "null", 1);
    void *mem = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    shared = static_cast<Shared *>(mem);
    char base[] = "/tmp/malwerk-alloc-XXXXXX";
    if (!mkdtemp(base)) {
        std::perror("mkdtemp");
        return 1;
    }
    int faults = 0;
    if (!run_child(0, base)) {
        ++faults;
    } else {
        for (long n = 1; n <= shared->allocations; ++n)
            faults += !run_child(n, base);
        std::printf("%d steps, %ld allocations, each made to fail in turn: %d faulty runs\n", shared->steps,
                    shared->allocations, faults);
    }
    std::filesystem::remove_all(base);
    return faults ? 1 : 0;
}
