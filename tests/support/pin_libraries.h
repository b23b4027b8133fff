// Test support for the programs that open GL: keeps Mesa in memory for the
// rest of the process. Mesa unloads its driver module when the last display
// using it closes; what the module's globals still pointed to then counts as
// leaked for LeakSanitizer, and the report cannot even name the module. Kept
// loaded from the start, every load of the driver is the same module, its
// frames have names, and gl_leak_suppressions (support/mesa_leaks.cpp) can
// leave Mesa's own allocations out while a leak of ours is still reported.
#pragma once
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <string>

inline void pin_gl_libraries()
{
    for (const char *name : {"libGL.so.1", "libGLX_mesa.so.0", "libglapi.so.0"})
        dlopen(name, RTLD_NOW | RTLD_NODELETE);
    // The software driver lies in the directory Mesa searches: the one
    // LIBGL_DRIVERS_PATH names first, else "dri" beside Mesa's GLX library.
    std::string dir;
    if (const char *path = std::getenv("LIBGL_DRIVERS_PATH"); path && *path) {
        dir = path;
        dir.resize(dir.find(':') == std::string::npos ? dir.size() : dir.find(':'));
    } else if (void *glx = dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        link_map *map = nullptr;
        if (dlinfo(glx, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
            dir = map->l_name;
            dir = dir.substr(0, dir.rfind('/') + 1) + "dri";
        }
        dlclose(glx);
    }
    if (!dir.empty())
        dlopen((dir + "/swrast_dri.so").c_str(), RTLD_NOW | RTLD_NODELETE);
}
