// Circles, ellipses and elliptic arcs on an image or the screen's work page.
#pragma once
#include <cstdint>

// The end angle that, with a start angle of exactly 0, selects the full
// ellipse rather than an arc: the float 0x40C90FDC, one unit in the last
// place above the float nearest to 2 pi.
extern const float RK_ELLIPSE_FULL;

// Centre (x, y) in user coordinates; aspect is vertical over horizontal
// radius (0: the screen's); angles in radians counter-clockwise, a negative
// one also draws a radius line. `fill` fills full ellipses only. `flags`
// holds the coordinate mode and RK_FLAG_NO_COLOR.
void rk_GfxEllipse(const void *target, float x, float y, float radius, uint32_t color, float aspect, float start,
                   float end, int fill, uint32_t flags);
