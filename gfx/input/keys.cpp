#include "gfx/input/keys.h"

#include <cstring>

#include "gfx/core/hooks.h"
#include "gfx/core/lock.h"
#include "gfx/core/state.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"

// Process-wide: codes posted before a mode change are still read after it.
static constexpr int kKeyBufferSize = 16;
static int key_buffer[kKeyBufferSize];
static int key_head, key_tail;
static int key_buffer_changed;

void rk_hPostKey(int code)
{
    key_buffer[key_tail] = code;
    key_tail = (key_tail + 1) % kKeyBufferSize;
    if (key_tail == key_head)
        key_head = (key_head + 1) % kKeyBufferSize;
    key_buffer_changed = 1;
}

int rk_hGfxInputBufferChanged()
{
    rk_GfxLock();
    int changed = key_buffer_changed;
    key_buffer_changed = 0;
    rk_GfxUnlock(1, 0);
    return changed;
}

void rk_hPostEvent(const EventRecord *record)
{
    ScreenState *s = __rk_gfx;
    if (!s || !s->event_queue || !record)
        return;
    pthread_mutex_lock(s->event_mutex);
    std::memcpy(s->event_queue + 5 * s->event_tail, record, sizeof *record);
    s->event_tail = (s->event_tail + 1) % RK_EVENT_QUEUE_SIZE;
    if (s->event_tail == s->event_head)
        s->event_head = (s->event_head + 1) % RK_EVENT_QUEUE_SIZE;
    pthread_mutex_unlock(s->event_mutex);
}

// The oldest code, or 0 when the buffer is empty; the caller holds the lock.
static int front_key()
{
    return key_head != key_tail ? key_buffer[key_head] : 0;
}

// Takes the oldest code, or 0 when the buffer is empty.
static int get_key()
{
    rk_GfxLock();
    int code = front_key();
    if (code)
        key_head = (key_head + 1) % kKeyBufferSize;
    rk_hGfxInputBufferChanged();
    rk_GfxUnlock(1, 0);
    return code;
}

// The string rk_GfxInkey gives for a code (0: none waiting); null when it
// cannot be allocated.
static RkString *key_string(int code)
{
    if (code == 0)
        return rk_StrAllocTempDesc("");
    if (code < 256) {
        char c = static_cast<char>(code);
        return rk_StrAllocTempBytes(&c, 1);
    }
    // The second character of the named keys, as the PC BIOS reports them.
    static constexpr char named[21] = {'k', 'H', 'P', 'K', 'M', 'R', 'S', 'G', 'O', 'I', 'Q',
                                       ';', '<', '=', '>', '?', '@', 'A', 'B', 'C', 'D'};
    char two[2] = {static_cast<char>(0xFF), 'D'};
    if ((code & 0xFF) == 0xFF)
        two[1] = static_cast<char>((code >> 8) & 0xFF);
    else if (code <= RK_KEY_F10)
        two[1] = named[code - RK_KEY_CLOSE];
    return rk_StrAllocTempBytes(two, 2);
}

RkString *rk_GfxInkey()
{
    if (!__rk_gfx) {
        RkString *none = rk_StrAllocTempDesc("");
        rk_ErrorSetNum(none ? RK_OK : RK_ERR_MEMORY);
        return none;
    }
    // The string is made before the key leaves the buffer, so that a failed
    // allocation leaves the key for the next call.
    rk_GfxLock();
    int code = front_key();
    RkString *s = key_string(code);
    if (s) {
        if (code)
            key_head = (key_head + 1) % kKeyBufferSize;
        rk_hGfxInputBufferChanged();
    }
    rk_GfxUnlock(1, 0);
    rk_ErrorSetNum(s ? RK_OK : RK_ERR_MEMORY);
    return s;
}

int rk_GfxGetkey()
{
    if (!__rk_gfx)
        return 0;
    int code;
    while ((code = get_key()) == 0)
        rk_Sleep(20);
    return code;
}

int rk_GfxKeyHit()
{
    if (!__rk_gfx)
        return 0;
    rk_GfxLock();
    int hit = key_head != key_tail;
    rk_GfxUnlock(1, 0);
    return hit;
}

int rk_GfxMultikey(int scancode)
{
    ScreenState *s = __rk_gfx;
    if (scancode < 0 || scancode > 127 || !s || !s->key_state)
        return 0;
    rk_GfxLock();
    int held = s->key_state[scancode] ? -1 : 0;
    rk_GfxUnlock(1, 0);
    return held;
}

int rk_GfxIsRedir(int is_input)
{
    return 0;
}

void rk_GfxSleep(int ms)
{
    if (ms == -1) {
        while (!rk_hGfxInputBufferChanged())
            rk_hPause(50);
        return;
    }
    if (ms >= 100) {
        do {
            if (rk_hGfxInputBufferChanged())
                return;
            ms -= 50;
            rk_hPause(50);
        } while (ms > 50);
    }
    if (ms > 0)
        rk_hPause(ms);
}

static void keys_console_hooks(ConsoleHooks *h)
{
    h->inkey = rk_GfxInkey;
    h->getkey = rk_GfxGetkey;
    h->keyhit = rk_GfxKeyHit;
    h->multikey = rk_GfxMultikey;
    h->sleep = rk_GfxSleep;
    h->isredir = rk_GfxIsRedir;
}

const ScreenHooks rk_screenHooksKeys = {.console = keys_console_hooks};
