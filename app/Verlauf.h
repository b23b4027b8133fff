// The canvas's history for undo and redo: each step keeps, for every row
// it changed, the span from the first to the last changed pixel, and holds
// one copy of those pixels that undo and redo swap with the canvas.
#pragma once

namespace Verlauf {
// The most steps kept; a new step beyond them drops the oldest.
inline constexpr int SCHRITTE = 50;

// Allocates the copy of the canvas a step is measured against. False when
// there is no memory for it.
bool ANLEGEN();
// Copies the canvas BILD as it is before a step.
void ANFANG();
// Puts rows y1..y2 of the canvas back as they were at ANFANG.
void ZEILEN_ZURUECK(int y1, int y2);
// Records what changed since ANFANG as one step and drops the steps undone
// before it; nothing when nothing changed. False when there was no memory
// for the step: the whole history is then dropped, as its older steps
// could no longer be undone in order.
bool FESTHALTEN();
// Undoes the last step or redoes the next one; false when there is none.
bool ZURUECK();
bool VOR();
// A number that names the canvas's current state among the steps: the same
// after undo and redo return to it, a new one after every new step.
unsigned long STAND();
}  // namespace Verlauf
