// The paint program's shared state: read by the toolbar (GUI) and the main
// loop (Malwerk).
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
extern std::string WERKZEUG;  // tool name in the status line
extern std::string FILE;      // file name of Save and Load (UTF-8), shown in the top bar
extern NamensEingabe EINGABE;

// Builds one frame on the screen: clear, toolbar, canvas, the tool's preview.
void BILD_AUFBAUEN();
// The start-up state on an open screen: black pen, a white canvas BILD.
// False when the canvas cannot be allocated.
bool STARTZUSTAND();
// Start-up and the frame loop; returns only when no screen can be opened.
int HAUPTPROGRAMM(int argc, char **argv);
}  // namespace Malwerk
