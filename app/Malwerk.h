// The paint program's shared state: read by the toolbar (GUI) and the main
// loop (Malwerk).
#pragma once
#include <cstdint>

struct RkString;

namespace Malwerk {
extern void *BILD;        // the canvas, 719x553, 32-bit
extern int MX, MY;        // pointer in window pixels (-1: no position)
extern int BUTTONS;       // mouse buttons (1 = left alone; -1: no position)
extern int NUM2;          // last clicked button, 0 = none
extern RkString WERKZEUG; // tool name in the status line
extern RkString FILE;     // file name of Save and Load, shown in the top bar

// Builds one frame on the screen: clear, toolbar, canvas.
void BILD_AUFBAUEN();
// The start-up state on an open screen: black pen, a white canvas BILD.
// False when the canvas cannot be allocated.
bool STARTZUSTAND();
// Start-up and the frame loop; returns only when no screen can be opened.
int HAUPTPROGRAMM(int argc, char **argv);
}  // namespace Malwerk
