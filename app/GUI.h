// The toolbar: bars, status texts and the 28 buttons, drawn every frame.
#pragma once
#include <cstdint>

namespace GUI {
// Draws one button in its normal, hover or pressed look and records a click
// of the left button in NUM2.
void BUTTON(int ANFANGX, int ANFANGY, const char *TEXT, int NUM, uint32_t FARBEB, const char *IMG);
// N when N is the last clicked button, else 0.
int BUTTONPRESSED(int N);
// Draws the whole toolbar and status line on the window.
void MACHBILD();
}  // namespace GUI
