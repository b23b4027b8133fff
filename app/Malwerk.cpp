// Malwerk: a small paint program. The window is redrawn whole in every pass
// of the frame loop: toolbar and status line, then the canvas BILD; between
// redraws the mouse is read and the chosen tool is applied to the canvas.
#include "app/Malwerk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/GUI.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/rt.h"
#include "rt/str.h"

namespace Malwerk {
using namespace GUI;

static int FARBE, W;
static float ALTEPOS_X, ALTEPOS_Y;
// Whether ALTEPOS holds a position read inside the window: pen segments
// join only two such positions.
static bool ALTEPOS_GUELTIG;

static constexpr int LINKS = 81, OBEN = 26;  // where the canvas lies on the window

static void SETZE_WERKZEUG(int w, const char *name)
{
    W = w;
    rk_StrAssignBytes(&WERKZEUG, name, std::strlen(name));
}

static bool IM_FENSTER(int x, int y)
{
    return x >= 0 && y >= 0 && x < 800 && y < 600;
}

static void LEINWAND_ZEIGEN()
{
    rk_GfxPut(nullptr, LINKS, OBEN, BILD, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
}

// One frame: the window cleared, the toolbar, the canvas; every line is
// marked for the display.
void BILD_AUFBAUEN()
{
    rk_GfxLock();
    rk_Cls();
    MACHBILD();
    LEINWAND_ZEIGEN();
    rk_GfxUnlock(-1, -1);
}

// The button actions, by button number (1..28); colour buttons set FARBE.
static constexpr int FARBEN[19] = {0,        0xFFFFFF, 0xBBBBBB, 0x000000, 0xFF0000, 0xCD0000, 0x800000,
                                   0x0000FF, 0x0054A8, 0x000080, 0x00FF00, 0x008D00, 0x008080, 0xFFFF00,
                                   0xCDCD00, 0x808000, 0xFF00F1, 0x800080, 0x4E004E};

static void AKTION(int I)
{
    switch (I) {
    case 19: SETZE_WERKZEUG(1, "Stift"); break;
    case 20: SETZE_WERKZEUG(2, "Pinsel"); break;
    case 21: SETZE_WERKZEUG(3, "Farbeimer"); break;
    case 22:
        rk_GfxBsave(rk_StrAllocTempDesc(FILE.data ? FILE.data : ""), BILD, 0, nullptr);
        NUM2 = 0;
        break;
    case 23:
        rk_GfxBload(rk_StrAllocTempDesc(FILE.data ? FILE.data : ""), BILD, nullptr);
        NUM2 = 0;
        break;
    case 24:
        rk_GfxImageDestroy(BILD);
        rk_End(0);
    case 25: SETZE_WERKZEUG(4, "Linien"); break;
    case 26: SETZE_WERKZEUG(5, "gestrichelte Linien"); break;
    case 27: SETZE_WERKZEUG(6, "Rechteck"); break;
    case 28: SETZE_WERKZEUG(7, "Text"); break;
    default:
        if (I >= 1 && I <= 18)
            FARBE = FARBEN[I];
    }
}

static void MAUS_LESEN()
{
    int wheel, clip;
    rk_GetMouse(&MX, &MY, &wheel, &BUTTONS, &clip);
}

// Line tool: while the left button is held the window shows the canvas with
// the current line over it; on release exactly one line goes on the canvas,
// to the last position the pointer had inside the window.
static void LINIEN_ZIEHEN()
{
    float start_x = static_cast<float>(MX), start_y = static_cast<float>(MY);
    float ende_x = start_x, ende_y = start_y;
    while (BUTTONS == 1) {
        MAUS_LESEN();
        if (BUTTONS == 1 && IM_FENSTER(MX, MY)) {
            ende_x = static_cast<float>(MX);
            ende_y = static_cast<float>(MY);
        }
        BILD_AUFBAUEN();
        rk_GfxLine(nullptr, start_x, start_y, ende_x, ende_y, static_cast<uint32_t>(FARBE), 0, 0xFFFF, 0);
        rk_Sleep(1);
    }
    rk_GfxLine(BILD, start_x - LINKS, start_y - OBEN, ende_x - LINKS, ende_y - OBEN, static_cast<uint32_t>(FARBE), 0,
               0xFFFF, 0);
}

static void DATEINAME_LESEN()
{
    rk_Color(0x23102B, 0xFFFFFF, 0);
    rk_Locate(2, 20, -1);
    rk_ConsoleInput(rk_StrAllocTempDesc(""), 0, 1);
    rk_InputString(&FILE, -1, 0);
}

static void WERKZEUG_ANWENDEN()
{
    if (BUTTONS != 1)
        return;
    float MAUS_X = static_cast<float>(MX - LINKS), MAUS_Y = static_cast<float>(MY - OBEN);
    uint32_t farbe = static_cast<uint32_t>(FARBE);
    switch (W) {
    case 1:
        if (ALTEPOS_GUELTIG && IM_FENSTER(MX, MY))
            rk_GfxLine(BILD, MAUS_X, MAUS_Y, ALTEPOS_X, ALTEPOS_Y, farbe, 0, 0xFFFF, 0);
        break;
    case 2:
        rk_GfxEllipse(BILD, MAUS_X, MAUS_Y, 10, farbe, 0, 0, RK_ELLIPSE_FULL, -1, 4);
        break;
    case 3:
        if (MX > LINKS && MY > OBEN)
            rk_GfxPaint(BILD, MAUS_X, MAUS_Y, farbe, 0, rk_StrAllocTempDesc(""), 0, RK_FLAG_NO_COLOR2);
        break;
    case 4:
        LINIEN_ZIEHEN();
        break;
    default:
        break;
    }
}

bool STARTZUSTAND()
{
    FARBE = 0;
    SETZE_WERKZEUG(1, "Stift");
    BILD = rk_GfxImageCreate(719, 553, 0, 0, RK_FLAG_NO_COLOR);
    if (!BILD)
        return false;
    // The box is clipped to the image: the whole canvas turns white.
    rk_GfxLine(BILD, 0, 0, 800, 600, 0xFFFFFF, 2, 0xFFFF, 0);
    return true;
}

int HAUPTPROGRAMM(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0) {
        std::fprintf(stderr,
                     "malwerk: no display could be opened (an X display or a framebuffer device is needed)\n");
        return 1;
    }
    if (!STARTZUSTAND()) {
        std::fprintf(stderr, "malwerk: no memory for the canvas\n");
        return 1;
    }

    for (;;) {
        BILD_AUFBAUEN();

        for (int I = 1; I <= 28; ++I)
            if (BUTTONPRESSED(I) == I) {
                AKTION(I);
                break;
            }
        if (MX > 145 && MX < 350 && MY < 22 && BUTTONS == 1)
            DATEINAME_LESEN();

        MAUS_LESEN();
        WERKZEUG_ANWENDEN();
        rk_Sleep(10);
        ALTEPOS_X = static_cast<float>(MX - LINKS);
        ALTEPOS_Y = static_cast<float>(MY - OBEN);
        ALTEPOS_GUELTIG = IM_FENSTER(MX, MY);
    }
}
}  // namespace Malwerk
