// Test support for the programs that open GL. Under LeakSanitizer, Mesa's
// and LLVM's own allocations are left out of the report by module name: they
// are the library's, held for its lifetime, and how many there are differs
// with Mesa's version and the processor llvmpipe generates code for. A leak
// whose allocating frames are the runtime's names no such module and is
// still reported. The names only resolve while the modules stay loaded,
// which pin_gl_libraries ensures; the example program the tests run pins
// them before its main routine (GL_PIN_AT_START).
#include "support/pin_libraries.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__lsan_default_suppressions();
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:swrast_dri.so\nleak:libLLVM\nleak:libGLX_mesa.so\nleak:libglapi.so\n";
}
#endif

#if defined(GL_PIN_AT_START)
[[gnu::constructor]] static void pin_at_start()
{
    pin_gl_libraries();
}
#endif
