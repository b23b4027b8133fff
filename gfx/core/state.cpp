#include "gfx/core/state.h"

ScreenState *__rk_gfx;
char *__rk_window_title;
uint32_t *__rk_color_conv_16to32;
