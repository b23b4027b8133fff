// The key ring buffer and the input event queue that display drivers fill
// and the program drains, and the held-key table.
#pragma once
#include <cstdint>

#include "rkgfx.h"  // the key codes and the program's key and pause entries

struct ScreenHooks;

// An input event record: type, then four fields whose meaning depends on it.
struct EventRecord {
    int32_t type;
    int32_t field[4];
};
static_assert(sizeof(EventRecord) == 20);

// Event types of EventRecord.
enum : int32_t {
    RK_EVENT_KEY_PRESS = 1,
    RK_EVENT_KEY_RELEASE = 2,
    RK_EVENT_KEY_REPEAT = 3,
    RK_EVENT_MOUSE_MOVE = 4,
    RK_EVENT_MOUSE_PRESS = 5,
    RK_EVENT_MOUSE_RELEASE = 6,
    RK_EVENT_MOUSE_DOUBLE_CLICK = 7,
    RK_EVENT_MOUSE_WHEEL = 8,
    RK_EVENT_MOUSE_ENTER = 9,
    RK_EVENT_MOUSE_EXIT = 10,
    RK_EVENT_WINDOW_GOT_FOCUS = 11,
    RK_EVENT_WINDOW_LOST_FOCUS = 12,
    RK_EVENT_WINDOW_CLOSE = 13,
};
inline constexpr int RK_EVENT_QUEUE_SIZE = 128;

// Appends a key code; a full buffer drops its oldest code. Called by the
// driver's thread with the driver lock held.
void rk_hPostKey(int code);
// Copies one record into the open screen's event queue (the oldest record is
// dropped when it is full); safe from any thread.
void rk_hPostEvent(const EventRecord *record);
// Returns whether a code was posted since the last call, and clears that.
int rk_hGfxInputBufferChanged();

// Keyboard input on the graphics screen is never redirected: always 0.
int rk_GfxIsRedir(int is_input);

// The key buffer's screen hooks: its console entries (keys, held keys,
// redirection, the sleep a key ends).
extern const ScreenHooks rk_screenHooksKeys;
