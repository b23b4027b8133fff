#include "app/GUI.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/Malwerk.h"
#include "gfx/core/target.h"
#include "gfx/draw/line.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"
#include "gfx/image/bload.h"
#include "rt/console.h"
#include "rt/str.h"

namespace GUI {
using namespace Malwerk;

static constexpr uint32_t BAR = 0xE6DDD5, FRAME = 0xB4A291, FIELD = 0xFFFFFF, INK = 0x23102B,
                          OUTLINE = 0xAB9D92, PRESSED = 0xDDC3B4;

static void BOX(void *target, float x1, float y1, float x2, float y2, uint32_t color, bool filled)
{
    rk_GfxLine(target, x1, y1, x2, y2, color, filled ? 2 : 1, 0xFFFF, 0);
}

static void LINIE(void *target, float x1, float y1, float x2, float y2, uint32_t color)
{
    rk_GfxLine(target, x1, y1, x2, y2, color, 0, 0xFFFF, 0);
}

// Text in the current foreground colour with the built-in font.
static void SCHRIFT(void *target, float x, float y, const char *text)
{
    rk_GfxDrawString(target, x, y, RK_FLAG_NO_COLOR, rk_StrAllocTempDesc(text), 0, nullptr, 0, nullptr, 0, nullptr);
}

static void TRANSPUT(void *target, float x, float y, const void *image)
{
    rk_GfxPut(target, x, y, image, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
}

// One look of a button: fill, outline without its corner pixels, caption
// and icon.
static void ZEICHNE(void *gfx, int TEXTZ, uint32_t fill, const char *TEXT, const void *IMG2)
{
    float w = static_cast<float>(TEXTZ);
    BOX(gfx, 1, 1, w - 1, 19, fill, true);
    LINIE(gfx, 1, 0, w - 1, 0, OUTLINE);
    LINIE(gfx, 0, 1, 0, 18, OUTLINE);
    LINIE(gfx, 1, 19, w - 1, 19, OUTLINE);
    LINIE(gfx, w, 1, w, 18, OUTLINE);
    SCHRIFT(gfx, 8, 6, TEXT);
    if (IMG2)
        TRANSPUT(gfx, 1, 1, IMG2);
}

// The directory of the running executable, with a trailing slash; empty when
// it cannot be read.
static const std::string &PROGRAMMORDNER()
{
    static const std::string ordner = [] {
        char pfad[4096];
        ssize_t n = readlink("/proc/self/exe", pfad, sizeof pfad - 1);
        if (n <= 0)
            return std::string();
        std::string s(pfad, static_cast<size_t>(n));
        return s.substr(0, s.rfind('/') + 1);
    }();
    return ordner;
}

// Where an icon named "gfx/N.bmp" is read from. The directory is chosen
// once per run, by the first icon asked for: the current directory first (a
// source tree or an unpacked archive), then the data directory of the
// installation the executable belongs to, then the executable's directory.
// When none has it the current directory stays, and a button whose icon
// cannot be read shows none.
static std::string ICONDATEI(const char *IMG)
{
    static const std::string ordner = [IMG] {
        if (access(IMG, R_OK) == 0 || PROGRAMMORDNER().empty())
            return std::string();
        for (const std::string &o : {PROGRAMMORDNER() + MALWERK_DATA_FROM_BIN + "/", PROGRAMMORDNER()})
            if (access((o + IMG).c_str(), R_OK) == 0)
                return o;
        return std::string();
    }();
    return ordner + IMG;
}

void BUTTON(int ANFANGX, int ANFANGY, const char *TEXT, int NUM, uint32_t FARBEB, const char *IMG)
{
    int TEXTZ = 10 * static_cast<int>(std::strlen(TEXT));
    void *BUTTONGFX = rk_GfxImageCreate(TEXTZ + 1, 20, 0, 0, RK_FLAG_NO_COLOR);
    void *BUTTONGFX2 = rk_GfxImageCreate(TEXTZ + 1, 20, 0, 0, RK_FLAG_NO_COLOR);
    void *IMG2 = rk_GfxImageCreate(20, 22, 0, 0, RK_FLAG_NO_COLOR);
    if (IMG2 && *IMG)
        rk_GfxBload(rk_StrAllocTempDesc(ICONDATEI(IMG).c_str()), IMG2, nullptr);
    if (BUTTONGFX && BUTTONGFX2) {
        ZEICHNE(BUTTONGFX, TEXTZ, FARBEB, TEXT, IMG2);
        ZEICHNE(BUTTONGFX2, TEXTZ, PRESSED, TEXT, IMG2);
        TRANSPUT(nullptr, static_cast<float>(ANFANGX), static_cast<float>(ANFANGY), BUTTONGFX);
        bool inside = MX > ANFANGX && MX < ANFANGX + TEXTZ && MY > ANFANGY && MY < ANFANGY + 20;
        if (inside && BUTTONS == 0) {
            TRANSPUT(nullptr, static_cast<float>(ANFANGX), static_cast<float>(ANFANGY), BUTTONGFX2);
        } else if (inside && BUTTONS == 1) {
            TRANSPUT(nullptr, static_cast<float>(ANFANGX), static_cast<float>(ANFANGY), BUTTONGFX2);
            NUM2 = NUM;
        }
    }
    rk_GfxImageDestroy(IMG2);
    rk_GfxImageDestroy(BUTTONGFX);
    rk_GfxImageDestroy(BUTTONGFX2);
}

int BUTTONPRESSED(int N)
{
    return N == NUM2 ? N : 0;
}

struct Knopf {
    int NUM, ANFANGX, ANFANGY;
    const char *TEXT, *IMG;
    uint32_t FARBEB;
};

// The buttons in drawing order: 18 colours, the tools, Save, Load, Exit and
// the text tool (which shows the rectangle's icon).
static constexpr Knopf KNOEPFE[] = {
    {1, 5, 50, "  ", "", 0xFFFFFF},     {2, 28, 50, "  ", "", 0xBBBBBB},    {3, 51, 50, "  ", "", 0x000000},
    {4, 5, 71, "  ", "", 0xFF0000},     {5, 28, 71, "  ", "", 0xCD0000},    {6, 51, 71, "  ", "", 0x800000},
    {7, 5, 92, "  ", "", 0x0000FF},     {8, 28, 92, "  ", "", 0x0054A8},    {9, 51, 92, "  ", "", 0x000080},
    {10, 5, 113, "  ", "", 0x00FF00},   {11, 28, 113, "  ", "", 0x008D00},  {12, 51, 113, "  ", "", 0x008080},
    {13, 5, 134, "  ", "", 0xFFFF00},   {14, 28, 134, "  ", "", 0xCDCD00},  {15, 51, 134, "  ", "", 0x808000},
    {16, 5, 155, "  ", "", 0xFF00F1},   {17, 28, 155, "  ", "", 0x800080},  {18, 51, 155, "  ", "", 0x4E004E},
    {19, 5, 300, "  ", "gfx/1.bmp", BAR}, {20, 28, 300, "  ", "gfx/2.bmp", BAR}, {21, 51, 300, "  ", "gfx/3.bmp", BAR},
    {25, 5, 321, "  ", "gfx/4.bmp", BAR}, {26, 28, 321, "  ", "gfx/5.bmp", BAR}, {27, 51, 321, "  ", "gfx/6.bmp", BAR},
    {22, 5, 2, " Save ", "", BAR},      {23, 75, 2, " Load ", "", BAR},     {24, 735, 2, " Exit ", "", BAR},
    {28, 5, 342, "  ", "gfx/6.bmp", BAR},
};

void MACHBILD()
{
    BOX(nullptr, 0, 0, 800, 25, BAR, true);
    BOX(nullptr, 0, 0, 80, 600, BAR, true);
    BOX(nullptr, 0, 580, 800, 600, BAR, true);
    BOX(nullptr, 80, 25, 801, 579, FRAME, false);
    BOX(nullptr, 145, 2, 350, 22, FIELD, true);
    BOX(nullptr, 145, 2, 350, 22, FRAME, false);
    rk_Color(INK, 0, 2);
    char text[64];
    std::snprintf(text, sizeof text, "X:%d", MX - 81);
    SCHRIFT(nullptr, 700, 585, text);
    std::snprintf(text, sizeof text, "Y:%d", MY - 26);
    SCHRIFT(nullptr, 745, 585, text);
    std::string status = std::string("Werkzeug: ") + (WERKZEUG.data ? WERKZEUG.data : "");
    SCHRIFT(nullptr, 100, 585, status.c_str());
    SCHRIFT(nullptr, 152, 8, Malwerk::FILE.data ? Malwerk::FILE.data : "");
    for (const Knopf &k : KNOEPFE)
        BUTTON(k.ANFANGX, k.ANFANGY, k.TEXT, k.NUM, k.FARBEB, k.IMG);
}
}  // namespace GUI
