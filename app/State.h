// The paint program's shared state: written by the main loop (Malwerk) and
// read by the toolbar (GUI), which both include this module and not each
// other's the other way round.
#pragma once

struct RkString;

namespace Malwerk {
extern void *BILD;        // the canvas, 719x553, 32-bit
extern int MX, MY;        // pointer in window pixels (-1: no position)
extern int BUTTONS;       // mouse buttons (1 = left alone; -1: no position)
extern int NUM2;          // last clicked button, 0 = none
extern RkString WERKZEUG; // tool name in the status line
extern RkString FILE;     // file name of Save and Load, shown in the top bar
}  // namespace Malwerk
