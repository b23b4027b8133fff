#include "rt/rt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

RkContext __rk_ctx;

static thread_local int error_num;

int rk_ErrorSetNum(int err)
{
    error_num = err;
    return err;
}

int rk_ErrorGetNum()
{
    return error_num;
}

void *rk_TlsGetCtx(int index, std::size_t size)
{
    if (index < 0 || index >= RK_CTX_SLOTS)
        return nullptr;
    if (!__rk_ctx.slot[index])
        __rk_ctx.slot[index] = std::calloc(1, size);
    return __rk_ctx.slot[index];
}

static void (*slot_release[RK_CTX_SLOTS])(void *);

void rk_hTlsSetRelease(int index, void (*release)(void *))
{
    if (index >= 0 && index < RK_CTX_SLOTS)
        slot_release[index] = release;
}

void rk_TlsDelCtx(int index)
{
    if (index < 0 || index >= RK_CTX_SLOTS)
        return;
    if (slot_release[index] && __rk_ctx.slot[index])
        slot_release[index](__rk_ctx.slot[index]);
    slot_release[index] = nullptr;
    std::free(__rk_ctx.slot[index]);
    __rk_ctx.slot[index] = nullptr;
}

void rk_TlsFreeCtxTb()
{
    for (int i = 0; i < RK_CTX_SLOTS; ++i)
        rk_TlsDelCtx(i);
}

void rk_Init(int argc, char **argv, int option)
{
    __rk_ctx.argc = argc;
    __rk_ctx.argv = argv;
    __rk_ctx.option = option;
}

void rk_End(int code)
{
    std::exit(code);
}

int rk_hAtExit(void (*proc)())
{
    return std::atexit(proc) == 0 ? 0 : -1;
}

char *rk_hGetExeName(char *buf, int size)
{
    if (!buf || size < 2)
        return nullptr;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
    if (access(link, F_OK) != 0)
        return nullptr;
    ssize_t n = readlink(link, buf, static_cast<std::size_t>(size - 1));
    if (n < 0)
        return nullptr;
    buf[n] = '\0';
    char *slash = std::strrchr(buf, '/');
    return slash ? slash + 1 : buf;
}
