// The key ring buffer and the input event queue that display drivers fill
// and the program drains, and the held-key table.
#pragma once
#include <cstdint>

struct RkString;
struct ScreenHooks;

// An input event record: type, then four fields whose meaning depends on it.
struct EventRecord {
    int32_t type;
    int32_t field[4];
};
static_assert(sizeof(EventRecord) == 20);

// Key codes beside the characters 1..255. An extended key without a name is
// (scan code << 8) | 0xFF.
enum : int {
    RK_KEY_CLOSE = 256,
    RK_KEY_UP = 257,
    RK_KEY_DOWN = 258,
    RK_KEY_LEFT = 259,
    RK_KEY_RIGHT = 260,
    RK_KEY_INSERT = 261,
    RK_KEY_DELETE = 262,
    RK_KEY_HOME = 263,
    RK_KEY_END = 264,
    RK_KEY_PAGE_UP = 265,
    RK_KEY_PAGE_DOWN = 266,
    RK_KEY_F1 = 267,  // F1..F10 are 267..276
    RK_KEY_F10 = 276,
};

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

// The oldest key as a temporary string: "" for none (or no screen), one
// character for codes 1..255, else 255 and a second character naming it.
// Null (error 4) when the string cannot be allocated: the key stays waiting.
RkString *rk_GfxInkey();
// Waits for a key and returns its code; 0 at once when no screen is open.
int rk_GfxGetkey();
// 1 when a key is waiting (it stays in the buffer), else 0.
int rk_GfxKeyHit();
// -1 while the key with this scan code is held, else 0.
int rk_GfxMultikey(int scancode);
// Keyboard input on the graphics screen is never redirected: always 0.
int rk_GfxIsRedir(int is_input);
// Pauses ms milliseconds; a key posted meanwhile ends pauses of 100 ms and
// more early, and -1 waits for one.
void rk_GfxSleep(int ms);

// The key buffer's screen hooks: its console entries (keys, held keys,
// redirection, the sleep a key ends).
extern const ScreenHooks rk_screenHooksKeys;
