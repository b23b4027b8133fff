// The paint program's main loop; its shared state is in app/State.h.
#pragma once

#include "app/State.h"

namespace Malwerk {
// Builds one frame on the screen: clear, toolbar, canvas, the tool's preview.
void BILD_AUFBAUEN();
// The start-up state on an open screen: black pen, a white canvas BILD.
// False when the canvas cannot be allocated.
bool STARTZUSTAND();
// Start-up and the frame loop; returns only when no screen can be opened.
int HAUPTPROGRAMM(int argc, char **argv);
}  // namespace Malwerk
