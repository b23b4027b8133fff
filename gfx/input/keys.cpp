#include "gfx/input/keys.h"

#include <cstring>

#include "gfx/core/screen.h"

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
    s->event_tail = (s->event_tail + 1) % 128;
    if (s->event_tail == s->event_head)
        s->event_head = (s->event_head + 1) % 128;
    pthread_mutex_unlock(s->event_mutex);
}
