#include "app/GUI.h"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>

#include "app/State.h"
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

// A string that lends `text` to the runtime for one call: not a temporary,
// so the call only reads it, and nothing is allocated for the texts and
// file names of every frame.
static RkString GELIEHEN(const char *text)
{
    int n = static_cast<int>(std::strlen(text));
    return RkString{const_cast<char *>(text), n, n + 1, false};
}

// Text in the current foreground colour with the built-in font.
static void SCHRIFT(void *target, float x, float y, const char *text)
{
    RkString s = GELIEHEN(text);
    rk_GfxDrawString(target, x, y, RK_FLAG_NO_COLOR, &s, 0, nullptr, 0, nullptr, 0, nullptr);
}

// One look of a button, drawn on the window with its corner at (x, y):
// fill, outline without its corner pixels, caption and icon, the icon cut
// to the button. The corners and anything of the caption's glyphs that is
// unset keep what lies under the button.
static void ZEICHNE(float x, float y, int TEXTZ, uint32_t fill, uint32_t rand, const char *TEXT, const void *IMG2)
{
    float w = static_cast<float>(TEXTZ);
    BOX(nullptr, x + 1, y + 1, x + w - 1, y + 19, fill, true);
    LINIE(nullptr, x + 1, y, x + w - 1, y, rand);
    LINIE(nullptr, x, y + 1, x, y + 18, rand);
    LINIE(nullptr, x + 1, y + 19, x + w - 1, y + 19, rand);
    LINIE(nullptr, x + w, y + 1, x + w, y + 18, rand);
    if (std::strspn(TEXT, " ") != std::strlen(TEXT))  // spaces draw nothing: no background
        SCHRIFT(nullptr, x + 8, y + 6, TEXT);
    if (IMG2)
        rk_GfxPut(nullptr, x + 1, y + 1, IMG2, 0, 0, TEXTZ - 1, 18, 0, 0, rk_hPutTrans, 0, 0, nullptr);
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
// cannot be read shows none. The current directory is named by its full
// path: the loader watches files named so, which makes loading an
// unchanged icon every frame cheaper than looking its name up again.
static std::string ICONDATEI(const char *IMG)
{
    static const std::string ordner = [IMG] {
        if (access(IMG, R_OK) == 0 || PROGRAMMORDNER().empty()) {
            char hier[4096];
            return getcwd(hier, sizeof hier) && hier[0] == '/' ? std::string(hier) + (hier[1] ? "/" : "")
                                                                : std::string();
        }
        for (const std::string &o : {PROGRAMMORDNER() + MALWERK_DATA_FROM_BIN + "/", PROGRAMMORDNER()})
            if (access((o + IMG).c_str(), R_OK) == 0)
                return o;
        return std::string();
    }();
    return ordner + IMG;
}

struct Knopf {
    int NUM, ANFANGX, ANFANGY;
    const char *TEXT, *IMG;
    uint32_t FARBEB;
    int WERKZEUG;  // the tool it chooses, 0 for none
};

// A button is 10 pixels wide per caption character; its leftmost and
// rightmost columns and its top row do not count as inside.
static bool IM_KNOPF(const Knopf &k, int x, int y)
{
    int TEXTZ = 10 * static_cast<int>(std::strlen(k.TEXT));
    return x > k.ANFANGX && x < k.ANFANGX + TEXTZ && y > k.ANFANGY && y < k.ANFANGY + 20;
}

// The buttons in drawing order: 18 colours, the tools, Save, Load, Exit and
// the text tool.
static constexpr Knopf KNOEPFE[] = {
    {1, 5, 50, "  ", "", 0xFFFFFF},     {2, 28, 50, "  ", "", 0xBBBBBB},    {3, 51, 50, "  ", "", 0x000000},
    {4, 5, 71, "  ", "", 0xFF0000},     {5, 28, 71, "  ", "", 0xCD0000},    {6, 51, 71, "  ", "", 0x800000},
    {7, 5, 92, "  ", "", 0x0000FF},     {8, 28, 92, "  ", "", 0x0054A8},    {9, 51, 92, "  ", "", 0x000080},
    {10, 5, 113, "  ", "", 0x00FF00},   {11, 28, 113, "  ", "", 0x008D00},  {12, 51, 113, "  ", "", 0x008080},
    {13, 5, 134, "  ", "", 0xFFFF00},   {14, 28, 134, "  ", "", 0xCDCD00},  {15, 51, 134, "  ", "", 0x808000},
    {16, 5, 155, "  ", "", 0xFF00F1},   {17, 28, 155, "  ", "", 0x800080},  {18, 51, 155, "  ", "", 0x4E004E},
    {19, 5, 300, "  ", "gfx/1.bmp", BAR, 1},  {20, 28, 300, "  ", "gfx/2.bmp", BAR, 2},
    {21, 51, 300, "  ", "gfx/3.bmp", BAR, 3}, {25, 5, 321, "  ", "gfx/4.bmp", BAR, 4},
    {26, 28, 321, "  ", "gfx/5.bmp", BAR, 5}, {27, 51, 321, "  ", "gfx/6.bmp", BAR, 6},
    {22, 5, 2, " Save ", "", BAR},      {23, 75, 2, " Load ", "", BAR},     {24, 735, 2, " Exit ", "", BAR},
    {28, 5, 342, "  ", "gfx/7.bmp", BAR, 7},
};

int WERKZEUG_DES_KNOPFS(int knopf)
{
    for (const Knopf &k : KNOEPFE)
        if (k.NUM == knopf)
            return k.WERKZEUG;
    return 0;
}

int TREFFER(int x, int y)
{
    for (const Knopf &k : KNOEPFE)
        if (IM_KNOPF(k, x, y))
            return k.NUM;
    if (x > 145 && x < 350 && y >= 0 && y < 22)
        return FELD;
    if (x >= LINKS && x < LINKS + BREITE && y >= OBEN && y < OBEN + HOEHE)
        return LEINWAND;
    return NICHTS;
}

// One button in one of its looks: the chosen tool's button pressed (the
// hover fill, outlined in the text colour); any other in the hover look
// while the pointer is over it with no button held, or while the left
// button that was pressed on it is held over it; otherwise the normal look.
static void BUTTON(const Knopf &k)
{
    int TEXTZ = 10 * static_cast<int>(std::strlen(k.TEXT));
    bool gewaehlt = k.WERKZEUG != 0 && k.WERKZEUG == W;
    bool ueber = IM_KNOPF(k, MX, MY) && (BUTTONS == 0 || (BUTTONS == 1 && GEDRUECKT == k.NUM));
    // A button without an icon would put a wholly transparent image.
    void *IMG2 = *k.IMG ? rk_GfxImageCreate(20, 22, 0, 0, RK_FLAG_NO_COLOR) : nullptr;
    if (IMG2) {
        static std::string dateien[std::size(KNOEPFE)];  // each button's, named once
        std::string &name = dateien[&k - KNOEPFE];
        if (name.empty())
            name = ICONDATEI(k.IMG);
        RkString datei = GELIEHEN(name.c_str());
        rk_GfxBload(&datei, IMG2, nullptr);
    }
    ZEICHNE(static_cast<float>(k.ANFANGX), static_cast<float>(k.ANFANGY), TEXTZ,
            gewaehlt || ueber ? PRESSED : k.FARBEB, gewaehlt ? INK : OUTLINE, k.TEXT, IMG2);
    rk_GfxImageDestroy(IMG2);
}

// ---- text: names and messages are UTF-8, the built-in font is code page 437

// The code points of UTF-8 text; a byte that starts no valid sequence
// stands for itself as U+FFFD.
static std::u32string ZEICHEN(const std::string &utf8)
{
    std::u32string z;
    for (std::size_t i = 0; i < utf8.size();) {
        auto b = static_cast<unsigned char>(utf8[i]);
        int n = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
        char32_t c = n == 0 ? b : n == 1 ? b & 0x1F : n == 2 ? b & 0x0F : b & 0x07;
        bool gueltig = n >= 0 && i + static_cast<std::size_t>(n) < utf8.size();
        for (int k = 1; gueltig && k <= n; ++k) {
            auto f = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            gueltig = (f & 0xC0) == 0x80;
            c = (c << 6) | (f & 0x3F);
        }
        z += gueltig ? c : U'\uFFFD';
        i += gueltig ? static_cast<std::size_t>(n) + 1 : 1;
    }
    return z;
}

// The glyphs of the font for the Latin-1 characters U+00A0..U+00FF that
// code page 437 has; '?' for the others.
static constexpr unsigned char LATIN1_GLYPHEN[96] = {
    0xFF, 0xAD, 0x9B, 0x9C, '?',  0x9D, '?',  '?',  '?',  '?',  0xA6, 0xAE, 0xAA, '?',  '?',  '?',
    0xF8, 0xF1, 0xFD, '?',  '?',  0xE6, '?',  0xFA, '?',  '?',  0xA7, 0xAF, 0xAC, 0xAB, '?',  0xA8,
    '?',  '?',  '?',  '?',  0x8E, 0x8F, 0x92, 0x80, '?',  0x90, '?',  '?',  '?',  '?',  '?',  '?',
    '?',  0xA5, '?',  '?',  '?',  '?',  0x99, '?',  '?',  '?',  '?',  '?',  0x9A, '?',  '?',  0xE1,
    0x85, 0xA0, 0x83, '?',  0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    '?',  0xA4, 0x95, 0xA2, 0x93, '?',  0x94, 0xF6, '?',  0x97, 0xA3, 0x96, 0x81, '?',  '?',  0x98,
};

// The en dash has no glyph of its own: the hyphen stands for it.
std::string GLYPHEN(std::u32string_view zeichen)
{
    std::string g;
    for (char32_t c : zeichen)
        g += static_cast<char>(c >= 0x20 && c < 0x7F    ? c
                               : c >= 0xA0 && c <= 0xFF ? LATIN1_GLYPHEN[c - 0xA0]
                               : c == U'\u2013'         ? '-'
                                                        : '?');
    return g;
}

static std::u32string MELDUNG, FRAGE;

// The glyphs of a text drawn in every frame, converted again only when the
// text changed.
template <typename Text>
struct Glyphenzeile {
    Text text;
    std::string glyphen;

    const char *von(const Text &neu, std::string (*umwandeln)(const Text &))
    {
        if (glyphen.empty() || neu != text) {
            text = neu;
            glyphen = umwandeln(neu);
        }
        return glyphen.c_str();
    }
};

static std::string GLYPHEN_VON(const std::u32string &z) { return GLYPHEN(z); }
static std::string GLYPHEN_VON_UTF8(const std::string &utf8) { return GLYPHEN(ZEICHEN(utf8)); }

// "X:12": the prefix and a number, in `text`.
static const char *KOORDINATE(char (&text)[16], const char *vorn, int zahl)
{
    std::size_t n = std::strlen(vorn);
    std::memcpy(text, vorn, n);
    *std::to_chars(text + n, text + sizeof text - 1, zahl).ptr = '\0';
    return text;
}

void MELDEN(const std::string &kopf, const std::string &text)
{
    std::u32string k = ZEICHEN(kopf + ": "), t = ZEICHEN(text);
    std::size_t platz = MELDUNG_ZEICHEN > k.size() + 3 ? MELDUNG_ZEICHEN - k.size() - 3 : 0;
    if (k.size() + t.size() > MELDUNG_ZEICHEN)
        t = U"..." + t.substr(t.size() - platz);
    MELDUNG = k + t;
}

void FRAGEN(const std::string &frage)
{
    FRAGE = ZEICHEN(frage);
}

// The file-name field: while a name is typed, the part around the insertion
// point with the point underlined; otherwise the end of the name.
static void NAMENSFELD()
{
    if (!EINGABE.offen) {
        static Glyphenzeile<std::string> feld;
        SCHRIFT(nullptr, 152, 8, feld.von(Malwerk::FILE, [](const std::string &datei) {
            std::u32string name = ZEICHEN(datei);
            std::size_t anfang = name.size() > FELD_ZEICHEN ? name.size() - FELD_ZEICHEN : 0;
            return GLYPHEN(std::u32string_view(name).substr(anfang));
        }));
        return;
    }
    std::u32string_view text(EINGABE.text);
    SCHRIFT(nullptr, 152, 8, GLYPHEN(text.substr(EINGABE.anfang, FELD_ZEICHEN - 1)).c_str());
    float x = static_cast<float>(152 + 8 * (EINGABE.cursor - EINGABE.anfang));
    LINIE(nullptr, x, 15, x + 7, 15, INK);
}

void MACHBILD()
{
    BOX(nullptr, 0, 0, 800, 25, BAR, true);
    BOX(nullptr, 0, 0, 80, 600, BAR, true);
    BOX(nullptr, 0, 580, 800, 600, BAR, true);
    BOX(nullptr, 80, 25, 801, 579, FRAME, false);
    BOX(nullptr, 145, 2, 350, 22, FIELD, true);
    BOX(nullptr, 145, 2, 350, 22, FRAME, false);
    rk_Color(INK, 0, 2);
    char text[16];
    SCHRIFT(nullptr, 700, 585, KOORDINATE(text, "X:", MX - LINKS));
    SCHRIFT(nullptr, 745, 585, KOORDINATE(text, "Y:", MY - OBEN));
    static Glyphenzeile<std::string> werkzeug;
    static Glyphenzeile<std::u32string> meldung, frage;
    if (FRAGE.empty()) {
        SCHRIFT(nullptr, 100, 585, werkzeug.von("Werkzeug: " + WERKZEUG, GLYPHEN_VON_UTF8));
        SCHRIFT(nullptr, 348, 585, meldung.von(MELDUNG, GLYPHEN_VON));
    } else {
        SCHRIFT(nullptr, 100, 585, frage.von(FRAGE, GLYPHEN_VON));
    }
    // The drawing colour's swatch.
    BOX(nullptr, 84, 583, 95, 594, static_cast<uint32_t>(FARBE), true);
    BOX(nullptr, 84, 583, 95, 594, OUTLINE, false);
    NAMENSFELD();
    for (const Knopf &k : KNOEPFE)
        BUTTON(k);
}
}  // namespace GUI
