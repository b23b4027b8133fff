// The toolbar: bars, status texts, the file-name field and the 28 buttons,
// drawn every frame, and what lies under a point of the window.
#pragma once
#include <string>
#include <string_view>

namespace GUI {
// What TREFFER finds besides a button's number (1..28).
enum : int { NICHTS = 0, FELD = -1, LEINWAND = -2 };
// Characters the file-name field shows, and the status line's report.
inline constexpr int FELD_ZEICHEN = 24, MELDUNG_ZEICHEN = 43;

// The button, the file-name field or the canvas at window point (x, y).
int TREFFER(int x, int y);
// Shows "kopf: text" (UTF-8) in the status line until the next report; a
// text too long for it loses its beginning, so the end of a file name stays
// readable.
void MELDEN(const std::string &kopf, const std::string &text);
// Asks `frage` (UTF-8) across the status line, in place of the tool and
// the report, until it is asked again; an empty question ends it.
void FRAGEN(const std::string &frage);
// The tool (1..7) that button `knopf` chooses; 0 for the other buttons.
int WERKZEUG_DES_KNOPFS(int knopf);
// The built-in font's glyphs (code page 437) for the characters of `zeichen`;
// '?' for those it lacks.
std::string GLYPHEN(std::u32string_view zeichen);
// Draws the whole toolbar and status line on the window.
void MACHBILD();
}  // namespace GUI
