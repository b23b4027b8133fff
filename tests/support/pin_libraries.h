// Test support: keeps every library loaded so far in memory for the rest of
// the process. Mesa unloads its driver when the last display using it
// closes; what the driver's globals still pointed to then counts as leaked
// for LeakSanitizer, although the program lost nothing.
#pragma once
#include <dlfcn.h>
#include <link.h>

inline void pin_loaded_libraries()
{
    dl_iterate_phdr(
        [](dl_phdr_info *info, std::size_t, void *) {
            if (info->dlpi_name && *info->dlpi_name)
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}
