// The paint program's shared state: written by the main loop (Malwerk) and
// read by the toolbar (GUI), which both include this module and not each
// other's the other way round.
#pragma once
#include <cstddef>
#include <string>

namespace Malwerk {
// Where the canvas lies on the window, and its size.
inline constexpr int LINKS = 81, OBEN = 26, BREITE = 719, HOEHE = 553;

// The file-name field while a name is typed: the characters typed so far
// (Unicode code points), the insertion point and the first character shown.
struct NamensEingabe {
    bool offen;
    std::u32string text;
    std::size_t cursor, anfang;
};

extern void *BILD;          // the canvas, BREITE x HOEHE, 32-bit
extern int MX, MY;          // pointer in window pixels (-1: no position)
extern int BUTTONS;         // mouse buttons (1 = left alone; -1: no position)
extern int GEDRUECKT;       // what the held left button was pressed on (GUI::TREFFER), 0 when not held
extern int FARBE;           // drawing colour, 0xRRGGBB
extern int W;               // the chosen tool, 1..7
extern std::string WERKZEUG;  // tool name in the status line
extern std::string FILE;      // file name of Save and Load (UTF-8), shown in the top bar
extern NamensEingabe EINGABE;
}  // namespace Malwerk
