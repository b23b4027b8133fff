// Malwerk: a small paint program. The window is redrawn whole in every pass
// of the frame loop: toolbar and status line, then the canvas BILD; between
// redraws the mouse is read. A press of the left button on the canvas starts
// a stroke of the chosen tool, which lasts until the button is released; a
// press on a button (or the file-name field) acts when it is released over
// the same button.
#include "app/Malwerk.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/GUI.h"
#include "app/Verlauf.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "gfx/input/keys.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"

namespace Malwerk {
using namespace GUI;

static float ALTEPOS_X, ALTEPOS_Y;
// Whether ALTEPOS holds a position read inside the window: pen segments
// join only two such positions.
static bool ALTEPOS_GUELTIG;

static bool IM_FENSTER(int x, int y)
{
    return x >= 0 && y >= 0 && x < 800 && y < 600;
}

// ---- tools -------------------------------------------------------------------

// The passes of one stroke: the press, each later pass while the button is
// held, and the release.
enum class Phase { DRUCK, ZUG, ENDE };

// A tool: its name in the status line, its step in every pass of a stroke
// on the canvas, and what it shows over the canvas while it is in use
// (drawn on the window in every frame, clipped to the canvas).
struct Werkzeug {
    const char *name;
    void (*schritt)(Phase phase);
    void (*vorschau)();
};

static void STIFT(Phase phase)
{
    if (phase == Phase::ENDE)
        return;
    float MAUS_X = static_cast<float>(MX - LINKS), MAUS_Y = static_cast<float>(MY - OBEN);
    // The press may have come before the pointer moved on within the same
    // pass: the stroke then starts at the previous position, but only when
    // that lies on the canvas too.
    if (phase == Phase::DRUCK && !(ALTEPOS_GUELTIG && TREFFER(static_cast<int>(ALTEPOS_X) + LINKS,
                                                              static_cast<int>(ALTEPOS_Y) + OBEN) == LEINWAND)) {
        ALTEPOS_X = MAUS_X;
        ALTEPOS_Y = MAUS_Y;
        ALTEPOS_GUELTIG = true;
    }
    if (ALTEPOS_GUELTIG && IM_FENSTER(MX, MY))
        rk_GfxLine(BILD, MAUS_X, MAUS_Y, ALTEPOS_X, ALTEPOS_Y, static_cast<uint32_t>(FARBE), 0, 0xFFFF, 0);
}

static void PINSEL(Phase phase)
{
    if (phase != Phase::ENDE)
        rk_GfxEllipse(BILD, static_cast<float>(MX - LINKS), static_cast<float>(MY - OBEN), 10,
                      static_cast<uint32_t>(FARBE), 0, 0, RK_ELLIPSE_FULL, -1, 4);
}

static void FARBEIMER(Phase phase)
{
    if (phase != Phase::ENDE && TREFFER(MX, MY) == LEINWAND)
        rk_GfxPaint(BILD, static_cast<float>(MX - LINKS), static_cast<float>(MY - OBEN), static_cast<uint32_t>(FARBE),
                    0, rk_StrAllocTempDesc(""), 0, RK_FLAG_NO_COLOR2);
}

// The tools that are dragged: from the press to the last position the
// pointer had inside the window while the button was held; exactly one
// shape goes on the canvas, on release, and the window shows it meanwhile.
static float ZUG_X1, ZUG_Y1, ZUG_X2, ZUG_Y2;

// The shapes, from (x1, y1) to (x2, y2) on `ziel` (null: the window).
static void LINIE(void *ziel, float x1, float y1, float x2, float y2)
{
    rk_GfxLine(ziel, x1, y1, x2, y2, static_cast<uint32_t>(FARBE), 0, 0xFFFF, 0);
}

static void STRICHLINIE(void *ziel, float x1, float y1, float x2, float y2)
{
    rk_GfxLine(ziel, x1, y1, x2, y2, static_cast<uint32_t>(FARBE), 0, 0xF0F0, 0);
}

static void RECHTECK(void *ziel, float x1, float y1, float x2, float y2)
{
    rk_GfxLine(ziel, x1, y1, x2, y2, static_cast<uint32_t>(FARBE), 1, 0xFFFF, 0);
}

static void ZIEHEN(Phase phase, void (*form)(void *, float, float, float, float))
{
    float x = static_cast<float>(MX), y = static_cast<float>(MY);
    if (phase == Phase::DRUCK) {
        ZUG_X1 = ZUG_X2 = x;
        ZUG_Y1 = ZUG_Y2 = y;
    } else if (phase == Phase::ZUG && IM_FENSTER(MX, MY)) {
        ZUG_X2 = x;
        ZUG_Y2 = y;
    } else if (phase == Phase::ENDE) {
        form(BILD, ZUG_X1 - LINKS, ZUG_Y1 - OBEN, ZUG_X2 - LINKS, ZUG_Y2 - OBEN);
    }
}

static void ZIEHEN_ZEIGEN(void (*form)(void *, float, float, float, float))
{
    if (GEDRUECKT == LEINWAND)
        form(nullptr, ZUG_X1, ZUG_Y1, ZUG_X2, ZUG_Y2);
}

static void LINIEN(Phase phase) { ZIEHEN(phase, LINIE); }
static void LINIEN_ZEIGEN() { ZIEHEN_ZEIGEN(LINIE); }
static void STRICHLINIEN(Phase phase) { ZIEHEN(phase, STRICHLINIE); }
static void STRICHLINIEN_ZEIGEN() { ZIEHEN_ZEIGEN(STRICHLINIE); }
static void RECHTECKE(Phase phase) { ZIEHEN(phase, RECHTECK); }
static void RECHTECKE_ZEIGEN() { ZIEHEN_ZEIGEN(RECHTECK); }

// Text tool: a press sets where the text starts (its top left); the typed
// characters stand on the canvas from then on, redrawn over the rows as
// they were before at every key, until the text ends.
static struct {
    bool offen;
    float x, y;
    std::u32string zeichen;
} TEXT;

// What fits on the canvas's width.
static constexpr std::size_t TEXT_ZEICHEN = BREITE / 8 + 1;

static void TEXT_ZEICHNEN()
{
    int y = static_cast<int>(TEXT.y);
    Verlauf::ZEILEN_ZURUECK(y, y + 7);
    rk_GfxDrawString(BILD, TEXT.x, TEXT.y, 0, rk_StrAllocTempDesc(GLYPHEN(TEXT.zeichen).c_str()),
                     static_cast<uint32_t>(FARBE), nullptr, 0, nullptr, 0, nullptr);
}

static void TEXTWERKZEUG(Phase phase)
{
    if (phase == Phase::DRUCK)
        TEXT = {true, static_cast<float>(MX - LINKS), static_cast<float>(MY - OBEN), {}};
}

// The insertion point under the next character's cell.
static void TEXT_ZEIGEN()
{
    if (!TEXT.offen)
        return;
    float x = LINKS + TEXT.x + 8.0f * static_cast<float>(TEXT.zeichen.size()), y = OBEN + TEXT.y + 8;
    rk_GfxLine(nullptr, x, y, x + 7, y, static_cast<uint32_t>(FARBE), 0, 0xFFFF, 0);
}

// By tool number W - 1.
static constexpr Werkzeug WERKZEUGE[] = {
    {"Stift", STIFT, nullptr},
    {"Pinsel", PINSEL, nullptr},
    {"Farbeimer", FARBEIMER, nullptr},
    {"Linien", LINIEN, LINIEN_ZEIGEN},
    {"gestrichelte Linien", STRICHLINIEN, STRICHLINIEN_ZEIGEN},
    {"Rechteck", RECHTECKE, RECHTECKE_ZEIGEN},
    {"Text", TEXTWERKZEUG, TEXT_ZEIGEN},
};

static void SETZE_WERKZEUG(int w)
{
    W = w;
    WERKZEUG = WERKZEUGE[w - 1].name;
}

static void LEINWAND_ZEIGEN()
{
    rk_GfxPut(nullptr, LINKS, OBEN, BILD, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
    if (WERKZEUGE[W - 1].vorschau) {
        rk_GfxView(LINKS, OBEN, LINKS + BREITE - 1, OBEN + HOEHE - 1, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
        WERKZEUGE[W - 1].vorschau();
        rk_GfxView(RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, 0, 0, 0);
    }
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

// ---- Save and Load -------------------------------------------------------------

// The picture files the program writes and reads: the name ending Save
// writes the kind by, and the bytes a file of that kind starts with.
struct Bildformat {
    const char *endung, *kennung;
};
static constexpr Bildformat FORMATE[] = {{".bmp", "BM"}, {".png", "\x89PNG\r\n\x1A\n"}};

static bool ENDET_AUF(const std::string &name, const char *endung)
{
    std::size_t n = std::strlen(endung);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, endung) == 0;
}

// "nur .bmp, .png möglich", from the table.
static std::string NUR_ENDUNGEN()
{
    std::string text = "nur ";
    for (const Bildformat &f : FORMATE)
        text += std::string(&f == FORMATE ? "" : ", ") + f.endung;
    return text + " möglich";
}

// Why a name cannot be used at all; null when it can. The runtime turns
// backslashes into slashes and keeps 1022 bytes of a name: either would
// make it use another file than the one named.
static const char *NAMENSFEHLER(const std::string &name)
{
    if (name.empty())
        return "kein Dateiname";
    if (name.find('\\') != std::string::npos)
        return "\\ im Namen nicht möglich";
    if (name.size() > 1022)
        return "Name zu lang";
    return nullptr;
}

// Why the file `name` could not be opened for reading or created for
// writing, found out afterwards from the file system.
static const char *DATEIFEHLER(const std::string &name, bool schreiben)
{
    struct stat st;
    if (stat(name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return "ist ein Ordner";
        if (!S_ISREG(st.st_mode))
            return "keine normale Datei";
        return schreiben ? "keine Schreibrechte" : "keine Leserechte";
    }
    if (errno == EACCES)
        return "keine Zugriffsrechte";
    if (errno == ENAMETOOLONG)
        return "Name zu lang";
    std::size_t schnitt = name.rfind('/');
    std::string ordner = schnitt == std::string::npos ? "." : name.substr(0, schnitt == 0 ? 1 : schnitt);
    if (stat(ordner.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "Ordner nicht gefunden";
    return schreiben ? "keine Schreibrechte" : "Datei nicht gefunden";
}

// Why a runtime result code other than 0 failed.
static const char *GRUND(int code, const std::string &name, bool schreiben)
{
    switch (code) {
    case 2: return DATEIFEHLER(name, schreiben);
    case 3: return schreiben ? "Fehler beim Schreiben" : "Bilddatei beschädigt";
    case 4: return "kein Speicher";
    default: return "nicht möglich";
    }
}

// The history's state of the picture last saved or loaded: Exit asks
// before it ends the program in any other.
static unsigned long GESPEICHERT;

static void SPEICHERN()
{
    bool bekannt = false;
    for (const Bildformat &f : FORMATE)
        bekannt = bekannt || ENDET_AUF(FILE, f.endung);
    const char *fehler = NAMENSFEHLER(FILE);
    if (fehler || !bekannt)
        return MELDEN("Nicht gespeichert", fehler ? fehler : NUR_ENDUNGEN());
    RkString *name = rk_StrAllocTempDesc(FILE.c_str());
    int code = name ? rk_GfxBsave(name, BILD, 0, nullptr) : 4;
    if (code != 0)
        return MELDEN("Nicht gespeichert", GRUND(code, FILE, true));
    MELDEN("Gespeichert", FILE);
    GESPEICHERT = Verlauf::STAND();
}

// Why the file is no picture the program reads; null when it starts like
// one. A FIFO or device is not opened (that could wait).
static const char *KEIN_BILD(const std::string &name)
{
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return DATEIFEHLER(name, false);
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return DATEIFEHLER(name, false);
    char anfang[8] = {};
    ssize_t n = read(fd, anfang, sizeof anfang);
    close(fd);
    for (const Bildformat &f : FORMATE)
        if (n >= static_cast<ssize_t>(std::strlen(f.kennung)) && std::memcmp(anfang, f.kennung, std::strlen(f.kennung)) == 0)
            return nullptr;
    return "keine Bilddatei";
}

static uint32_t PIXEL(const void *bild, int x, int y)
{
    const auto *kopf = static_cast<const ImageHeader *>(bild);
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t *>(kopf + 1) + static_cast<std::size_t>(y) * kopf->pitch + 4u * x, 4);
    return v;
}

// A blender that copies every pixel as it is: a loaded picture's pixels of
// the transparent colour stay part of the canvas.
static void KOPIEREN(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch, uint32_t,
                     intptr_t, void *)
{
    for (int y = 0; y < height; ++y)
        std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * dst_pitch, src + static_cast<std::ptrdiff_t>(y) * src_pitch,
                    4u * static_cast<unsigned>(width));
}

// rk_GfxBload of the file named FILE into `ziel`.
static int LADE_IN(void *ziel)
{
    RkString *name = rk_StrAllocTempDesc(FILE.c_str());
    return name ? rk_GfxBload(name, ziel, nullptr) : 4;
}

// Load replaces the whole canvas. The picture is read twice, onto a white
// and onto a black image one pixel wider and higher than the canvas: where
// the two differ the picture did not reach, so the extra column and row
// tell whether it was larger than the canvas and is cut off. True when the
// canvas was replaced.
static bool LADEN()
{
    const char *fehler = NAMENSFEHLER(FILE);
    if (!fehler)
        fehler = KEIN_BILD(FILE);
    if (fehler) {
        MELDEN("Nicht geladen", fehler);
        return false;
    }
    void *weiss = rk_GfxImageCreate(BREITE + 1, HOEHE + 1, 0xFFFFFF, 0, 0);
    void *schwarz = rk_GfxImageCreate(BREITE + 1, HOEHE + 1, 0x000000, 0, 0);
    int code = 4;
    if (weiss && schwarz) {
        ImageHeader vorher = *static_cast<const ImageHeader *>(weiss);
        code = LADE_IN(weiss);
        if (code == 0)
            code = LADE_IN(schwarz);
        // A file swapped for one of another kind since the check above.
        if (code == 0 && std::memcmp(&vorher, weiss, sizeof vorher) != 0)
            code = 3;
    }
    if (code == 0) {
        bool zu_gross = PIXEL(weiss, BREITE, 0) == PIXEL(schwarz, BREITE, 0) ||
                        PIXEL(weiss, 0, HOEHE) == PIXEL(schwarz, 0, HOEHE);
        rk_GfxPut(BILD, 0, 0, weiss, RK_NO_RECT, 0, 0, 0, 0, 0, KOPIEREN, 0, 0, nullptr);
        MELDEN(zu_gross ? "Geladen, Rand abgeschnitten" : "Geladen", FILE);
    } else {
        MELDEN("Nicht geladen", GRUND(code, FILE, false));
    }
    rk_GfxImageDestroy(weiss);
    rk_GfxImageDestroy(schwarz);
    return code == 0;
}

// ---- the file-name field -------------------------------------------------------

// Key codes as the field reads them: a character is its code (Latin-1), a
// named key (0xFF << 8) | its second character.
enum : int {
    TASTE_ZURUECK = 8,
    TASTE_ENTER = 13,
    TASTE_ESCAPE = 27,
    TASTE_POS1 = 0x47FF,
    TASTE_LINKS = 0x4BFF,
    TASTE_RECHTS = 0x4DFF,
    TASTE_ENDE = 0x4FFF,
    TASTE_ENTF = 0x53FF,
};

// The oldest key, or 0 when there is none (or it cannot be read now).
static int TASTE()
{
    if (!rk_KeyHit())
        return 0;
    RkString *k = rk_Inkey();
    int code = 0;
    if (k && k->len == 1)
        code = static_cast<unsigned char>(k->data[0]);
    else if (k && k->len >= 2)
        code = (static_cast<unsigned char>(k->data[1]) << 8) | 0xFF;
    rk_hStrDelTemp(k);
    return code;
}

// The typed characters (ASCII and Latin-1) as UTF-8.
static std::string UTF8(const std::u32string &zeichen)
{
    std::string s;
    for (char32_t c : zeichen) {
        if (c >= 0x80)
            s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(c >= 0x80 ? 0x80 | (c & 0x3F) : c);
    }
    return s;
}

// One editing key; the shown part follows the insertion point.
static void BEARBEITEN(int taste)
{
    std::u32string &text = EINGABE.text;
    std::size_t &cursor = EINGABE.cursor;
    switch (taste) {
    case TASTE_ZURUECK:
        if (cursor > 0)
            text.erase(--cursor, 1);
        break;
    case TASTE_ENTF:
        if (cursor < text.size())
            text.erase(cursor, 1);
        break;
    case TASTE_LINKS: cursor -= cursor > 0; break;
    case TASTE_RECHTS: cursor += cursor < text.size(); break;
    case TASTE_POS1: cursor = 0; break;
    case TASTE_ENDE: cursor = text.size(); break;
    default:
        // Printable ASCII and Latin-1; control codes and other named keys
        // (the window's close key among them) do nothing.
        if ((taste >= 0x20 && taste < 0x7F) || (taste >= 0xA0 && taste <= 0xFF))
            text.insert(cursor++, 1, static_cast<char32_t>(taste));
    }
    std::size_t sichtbar = FELD_ZEICHEN - 1;  // one cell for the insertion point
    if (cursor < EINGABE.anfang)
        EINGABE.anfang = cursor;
    else if (cursor > EINGABE.anfang + sichtbar)
        EINGABE.anfang = cursor - sichtbar;
    if (EINGABE.anfang + sichtbar > text.size())
        EINGABE.anfang = text.size() > sichtbar ? text.size() - sichtbar : 0;
}

// Typing a name into the emptied field while the frames go on: Enter takes
// the whole line as the name, Escape keeps the previous one. Keys typed
// before the field opened are dropped.
static void DATEINAME_LESEN()
{
    while (TASTE() != 0) {
    }
    EINGABE = {true, {}, 0, 0};
    for (;;) {
        BILD_AUFBAUEN();
        for (int taste; (taste = TASTE()) != 0;) {
            if (taste == TASTE_ENTER || taste == TASTE_ESCAPE) {
                if (taste == TASTE_ENTER)
                    FILE = UTF8(EINGABE.text);
                EINGABE.offen = false;
                return;
            }
            BEARBEITEN(taste);
        }
        rk_Sleep(10);
    }
}

// ---- steps, keys and Exit's question ------------------------------------------

// A step that has changed the canvas since Verlauf::ANFANG ends.
static void SCHRITT_ENDE()
{
    if (!Verlauf::FESTHALTEN())
        MELDEN("Rückgängig nicht mehr möglich", "kein Speicher");
}

// The text being typed ends as one step.
static void TEXT_ENDE()
{
    if (!TEXT.offen)
        return;
    TEXT.offen = false;
    TEXT.zeichen.clear();
    SCHRITT_ENDE();
}

static void TEXT_TASTE(int taste)
{
    if (taste == TASTE_ENTER || taste == TASTE_ESCAPE)
        return TEXT_ENDE();
    if (taste == TASTE_ZURUECK && !TEXT.zeichen.empty())
        TEXT.zeichen.pop_back();
    else if (((taste >= 0x20 && taste < 0x7F) || (taste >= 0xA0 && taste <= 0xFF)) && TEXT.zeichen.size() < TEXT_ZEICHEN)
        TEXT.zeichen += static_cast<char32_t>(taste);
    else
        return;
    TEXT_ZEICHNEN();
}

// Ctrl+Y and Ctrl+Z type these control codes; Shift is held while either
// Shift key's scan code is.
enum : int { STRG_Y = 25, STRG_Z = 26, UMSCHALT_LINKS = 42, UMSCHALT_RECHTS = 54 };

// Undo, or redo; not while a stroke lasts. A text being typed ends first.
static void RUECKGAENGIG(bool wieder)
{
    if (GEDRUECKT == LEINWAND)
        return;
    TEXT_ENDE();
    if (wieder)
        Verlauf::VOR();
    else
        Verlauf::ZURUECK();
}

static bool EXIT_GEFRAGT;

static void FRAGE_VERWERFEN()
{
    if (EXIT_GEFRAGT)
        FRAGEN("");
    EXIT_GEFRAGT = false;
}

// Every key waiting, each frame: undo and redo, the text tool's keys; the
// others are dropped. Any key answers Exit's question with no.
static void TASTEN_LESEN()
{
    for (int taste; (taste = TASTE()) != 0;) {
        FRAGE_VERWERFEN();
        if (taste == STRG_Z || taste == STRG_Y)
            RUECKGAENGIG(taste == STRG_Y || rk_GfxMultikey(UMSCHALT_LINKS) || rk_GfxMultikey(UMSCHALT_RECHTS));
        else if (TEXT.offen)
            TEXT_TASTE(taste);
    }
}

// ---- buttons and the frame loop ------------------------------------------------

static constexpr int FARBEN[19] = {0,        0xFFFFFF, 0xBBBBBB, 0x000000, 0xFF0000, 0xCD0000, 0x800000,
                                   0x0000FF, 0x0054A8, 0x000080, 0x00FF00, 0x008D00, 0x008080, 0xFFFF00,
                                   0xCDCD00, 0x808000, 0xFF00F1, 0x800080, 0x4E004E};

// The action of button I (1..28), or of the file-name field. Exit asks
// once before it ends the program with changes not saved.
static void AKTION(int I)
{
    if (I >= 1 && I <= 18)
        FARBE = FARBEN[I];
    if (int w = WERKZEUG_DES_KNOPFS(I))
        SETZE_WERKZEUG(w);
    switch (I) {
    case FELD: DATEINAME_LESEN(); break;
    case 22: SPEICHERN(); break;
    case 23:
        Verlauf::ANFANG();
        if (LADEN()) {
            SCHRITT_ENDE();
            GESPEICHERT = Verlauf::STAND();
        }
        break;
    case 24:
        if (Verlauf::STAND() != GESPEICHERT && !EXIT_GEFRAGT) {
            EXIT_GEFRAGT = true;
            FRAGEN("Ungespeicherte Änderungen – Exit noch einmal zum Beenden");
            break;
        }
        rk_GfxImageDestroy(BILD);
        rk_End(0);
    default: break;
    }
}

// Reads the mouse and follows the left button: a press records what it
// began on and starts a stroke there on the canvas; a release ends the
// stroke, or runs the action of the button it began on when it ends there.
// A press anywhere ends the text being typed; one anywhere but on Exit
// answers Exit's question with no.
static void MAUS_LESEN()
{
    static bool gehalten;
    bool vorher = gehalten;
    int wheel, clip;
    rk_GetMouse(&MX, &MY, &wheel, &BUTTONS, &clip);
    gehalten = BUTTONS == 1;
    if (gehalten && !vorher) {
        GEDRUECKT = TREFFER(MX, MY);
        TEXT_ENDE();
        if (GEDRUECKT != 24)
            FRAGE_VERWERFEN();
        if (GEDRUECKT == LEINWAND) {
            Verlauf::ANFANG();
            WERKZEUGE[W - 1].schritt(Phase::DRUCK);
        }
    } else if (gehalten && GEDRUECKT == LEINWAND) {
        WERKZEUGE[W - 1].schritt(Phase::ZUG);
    } else if (!gehalten && vorher) {
        int ziel = GEDRUECKT;
        GEDRUECKT = NICHTS;
        if (ziel == LEINWAND) {
            WERKZEUGE[W - 1].schritt(Phase::ENDE);
            if (!TEXT.offen)
                SCHRITT_ENDE();
        } else if (TREFFER(MX, MY) == ziel) {
            AKTION(ziel);
        }
    }
}

bool STARTZUSTAND()
{
    FARBE = 0;
    SETZE_WERKZEUG(1);
    BILD = rk_GfxImageCreate(BREITE, HOEHE, 0, 0, RK_FLAG_NO_COLOR);
    if (!BILD || !Verlauf::ANLEGEN())
        return false;
    // The box is clipped to the image: the whole canvas turns white.
    rk_GfxLine(BILD, 0, 0, 800, 600, 0xFFFFFF, 2, 0xFFFF, 0);
    return true;
}

static const char VERWENDUNG[] = "Usage: malwerk [FILE]\n"
                                 "Paints on an 800x600 window; FILE, a .bmp or .png picture, is loaded at start.\n"
                                 "\n"
                                 "  --help     show this help and end\n"
                                 "  --version  show the version and end\n";

// The picture the command line names (null for none) in `datei`; -1 to go
// on, or the exit status when the program ends here.
static int BEFEHLSZEILE(int argc, char **argv, const char **datei)
{
    bool optionen = true;
    *datei = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (optionen && a == "--help") {
            std::fputs(VERWENDUNG, stdout);
            return 0;
        }
        if (optionen && a == "--version") {
            std::puts("malwerk " MALWERK_VERSION);
            return 0;
        }
        if (optionen && a == "--") {
            optionen = false;
        } else if (optionen && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "malwerk: unknown option %s\n%s", argv[i], VERWENDUNG);
            return 2;
        } else if (*datei) {
            std::fprintf(stderr, "malwerk: one FILE at most\n%s", VERWENDUNG);
            return 2;
        } else {
            *datei = argv[i];
        }
    }
    return -1;
}

int HAUPTPROGRAMM(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    const char *datei;
    if (int status = BEFEHLSZEILE(argc, argv, &datei); status >= 0)
        return status;
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0) {
        std::fprintf(stderr,
                     "malwerk: no display could be opened (an X display or a framebuffer device is needed)\n");
        return 1;
    }
    if (!STARTZUSTAND()) {
        std::fprintf(stderr, "malwerk: no memory for the canvas\n");
        return 1;
    }
    // The picture named at start is what is saved: no step, nothing to ask.
    if (datei) {
        FILE = datei;
        LADEN();
    }

    for (;;) {
        BILD_AUFBAUEN();
        MAUS_LESEN();
        TASTEN_LESEN();
        rk_Sleep(10);
        ALTEPOS_X = static_cast<float>(MX - LINKS);
        ALTEPOS_Y = static_cast<float>(MY - OBEN);
        ALTEPOS_GUELTIG = IM_FENSTER(MX, MY);
    }
}
}  // namespace Malwerk
