// The key ring buffer that display drivers fill and the program drains.
#pragma once

// Appends a key code; a full buffer drops its oldest code. Called by the
// driver's thread with the driver lock held.
void rk_hPostKey(int code);
// Returns whether a code was posted since the last call, and clears that.
int rk_hGfxInputBufferChanged();
