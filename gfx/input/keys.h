// The key ring buffer and the input event queue that display drivers fill
// and the program drains.
#pragma once
#include <cstdint>

// An input event record: type, then four fields whose meaning depends on it.
struct EventRecord {
    int32_t type;
    int32_t field[4];
};
static_assert(sizeof(EventRecord) == 20);

// Appends a key code; a full buffer drops its oldest code. Called by the
// driver's thread with the driver lock held.
void rk_hPostKey(int code);
// Copies one record into the open screen's event queue (the oldest record is
// dropped when it is full); safe from any thread.
void rk_hPostEvent(const EventRecord *record);
// Returns whether a code was posted since the last call, and clears that.
int rk_hGfxInputBufferChanged();
