// Draw targets: the drawing state, image buffers, the coordinate pipeline,
// the clipping view and the emulated VGA palette ports.
#pragma once
#include <cstddef>
#include <cstdint>

struct DrawContext;
using PutPixelFn = void (*)(DrawContext *ctx, int x, int y, uint32_t color);
using GetPixelFn = uint32_t (*)(DrawContext *ctx, int x, int y);
using PixelSetFn = void (*)(void *dst, uint32_t color, std::size_t count);

// The single drawing state of the process (context slot 4).
struct DrawContext {
    int setup_id;          // id of the screen this context was set up for
    int work_page;         // page drawn on when the target is the screen
    uint8_t **line;        // row r of the current target starts at line[r]
    int max_lines;         // capacity of line
    int image_rows;        // leading entries of line last set to an image's rows; the others hold the work page's
    int target_bpp;
    int target_pitch;
    const void *last_target;  // image last prepared; null = the screen
    float last_x, last_y;     // last graphics point, user coordinates
    int view_x, view_y, view_w, view_h;  // clipping view, target pixels
    int saved_view[4];     // the screen's view while an image is the target
    uint32_t fg_color, bg_color;  // pixel values
    PutPixelFn put_pixel;
    GetPixelFn get_pixel;
    PixelSetFn pixel_set;
    const void *trans_putters;  // transparent-put routine table, filled on first use
    uint32_t flags;
};

enum : uint32_t {
    CTX_FRESH = 0x01,        // screen geometry must be loaded at the next screen preparation
    CTX_IMAGE = 0x02,        // an image is the target; the screen's view is saved
    CTX_VIEW_SET = 0x10,     // a view was set with rk_GfxView
    CTX_VIEW_SCREEN = 0x20,  // that view is in screen mode: no origin offset
};

// Flags word of the drawing operations.
inline constexpr uint32_t RK_FLAG_COORD_MASK = 7;
inline constexpr uint32_t RK_FLAG_NO_COLOR2 = 0x40000000;
inline constexpr uint32_t RK_FLAG_NO_COLOR = 0x80000000;
inline constexpr int RK_VIEW_OMITTED = -32768;

// Image buffer, current form: 32-byte header then rows padded to 16 bytes.
// The compact form has a 4-byte header (bits 0-2 bytes per pixel, width in
// bits 3-15, height in the next 16 bits) and unpadded rows.
struct ImageHeader {
    uint32_t type;  // 7 marks the current form
    uint32_t bpp;
    uint32_t width;
    uint32_t height;
    uint32_t pitch;
    uint32_t reserved1;
    uint32_t reserved2[2];
};
static_assert(sizeof(ImageHeader) == 32);
inline constexpr uint32_t RK_IMAGE_TYPE = 7;

// Geometry of an image of either form as the drawing layer reads it.
struct ImageGeometry {
    int bpp, width, height, pitch;
    uint8_t *pixels;
    bool compact;
};
// Reads either header form at any address into `g`; a compact header's
// pixel size of 0 stands for `compact_bpp`. False when the header describes
// no drawable image: pixel sizes other than 1, 2 and 4, sizes beyond the
// 32-bit range, or rows longer than the pitch (`g` is filled all the same).
bool rk_hReadImageHeader(const void *image, int compact_bpp, ImageGeometry *g);
// The geometry of `image` as a draw target: compact images take the open
// screen's pixel size, so they must have been made for pixels at least as
// large (false otherwise, or with no screen open).
bool rk_hImageGeometry(const void *image, ImageGeometry *g);

DrawContext *rk_hGetContext();
// Makes `image` (null: the screen's work page) the current target and
// returns it; null for an image whose row table cannot grow, and the context
// then stays on its previous target.
const void *rk_hPrepareTarget(DrawContext *ctx, const void *image);
// rk_hPrepareTarget for the drawing operations: false, with error 4
// recorded, when the image cannot be made the target (draw nothing then).
[[nodiscard]] bool rk_hSelectTarget(DrawContext *ctx, const void *image);
void rk_hSetPixelTransfer(DrawContext *ctx, uint32_t color);
void rk_hFixRelative(DrawContext *ctx, uint32_t flags, float *x1, float *y1, float *x2, float *y2);
void rk_hTranslateCoord(const DrawContext *ctx, float fx, float fy, int *x, int *y);
void rk_hFixCoordsOrder(int *x1, int *y1, int *x2, int *y2);
// Rounds half away from zero and saturates to the 32-bit range (NaN gives 0).
int rk_hRoundCoord(float v);

// True when the current target's rows are those of the page on display.
bool rk_hTargetIsVisible(const DrawContext *ctx);
// Marks rows first..last (clamped to the screen) of the page on display.
void rk_hMarkDirty(int first, int last);

void rk_GfxView(int x1, int y1, int x2, int y2, uint32_t fill, uint32_t border, uint32_t flags);

// Null for bad arguments, without a screen, or when memory runs out.
void *rk_GfxImageCreate(int width, int height, uint32_t color, int depth, uint32_t flags);
// `current` selects the 32-byte header form; false makes a compact image.
void *gfx_imagecreate(int width, int height, uint32_t color, int depth, uint32_t flags, bool current);
void rk_GfxImageDestroy(void *image);

int rk_GfxIn(unsigned short port);
int rk_GfxOut(unsigned short port, int value);

uint32_t _rk_CpuDetect();
