#include "rt/dynload.h"

#include <dlfcn.h>

void *rk_hDynLoad(const char *path, const char *const *names, void **funcs)
{
    if (!names || !funcs)
        return nullptr;
    void *lib = nullptr;
    if (names[0]) {
        void *self = dlopen(nullptr, RTLD_LAZY);
        if (self && dlsym(self, names[0]))
            lib = self;
        else if (self)
            dlclose(self);
    }
    if (!lib) {
        if (!path)
            return nullptr;
        lib = dlopen(path, RTLD_LAZY);
        if (!lib)
            return nullptr;
    }
    for (int i = 0; names[i]; ++i) {
        funcs[i] = dlsym(lib, names[i]);
        if (!funcs[i]) {
            dlclose(lib);
            return nullptr;
        }
    }
    return lib;
}

int rk_hDynLoadAlso(void *handle, const char *const *names, void **funcs, int count)
{
    if (!handle || !names || !funcs)
        return -1;
    for (int i = 0; i < count; ++i) {
        funcs[i] = names[i] ? dlsym(handle, names[i]) : nullptr;
        if (!funcs[i])
            return -1;
    }
    return 0;
}

void rk_hDynUnload(void **handle)
{
    if (!handle || !*handle)
        return;
    dlclose(*handle);
    *handle = nullptr;
}
