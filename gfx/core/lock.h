// The counting screen lock. Its outermost level holds the driver's lock, so
// that the driver's thread never presents a frame drawn in part; releasing a
// level marks the lines drawn under it.
#pragma once

void rk_GfxLock();
// Marks lines first..last dirty (negative: 0 and h - 1) when the work page is
// on display, then releases one level of the lock. (1, 0) marks nothing.
void rk_GfxUnlock(int first, int last);
