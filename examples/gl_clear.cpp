// Opens a window with an OpenGL context, clears it to one colour through GL
// functions found by name, shows it and waits for a key pressed in it.
#include <GL/gl.h>
#include <rkgfx.h>

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    if (rk_GfxScreenRes(320, 240, 32, 0, RK_MODE_OPENGL, 0) != 0)  // needs a display with GLX
        return 1;
    auto clear_color = reinterpret_cast<void (*)(GLclampf, GLclampf, GLclampf, GLclampf)>(
        rk_GfxGetGLProcAddress("glClearColor"));
    auto clear = reinterpret_cast<void (*)(GLbitfield)>(rk_GfxGetGLProcAddress("glClear"));
    clear_color(1.0f, 0.2f, 0.6f, 1.0f);  // 0xFF3399
    clear(GL_COLOR_BUFFER_BIT);
    rk_GfxFlip(-1, -1);  // swaps the buffers: the window shows the frame

    rk_Getkey();
    rk_End(0);  // closes the screen and its context
}
