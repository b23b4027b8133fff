// The run-time library loader: a library opened by name, names the program
// itself defines used first, and a library closed again when a name is
// missing.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>

#include "rt/dynload.h"

namespace {

// The X test extension: a library this program does not link, so whether
// it is mapped shows whether the loader has it open.
constexpr const char *kLib = "libXtst.so.6";

bool mapped(const char *lib)
{
    void *h = dlopen(lib, RTLD_LAZY | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

TEST(DynLoad, OpensResolvesAndCloses)
{
    ASSERT_FALSE(mapped(kLib));
    struct Case {
        const char *what;
        const char *path;
        const char *names[4];
        bool loads;
        bool library_open_after;
    };
    const Case cases[] = {
        {"every name in the library", kLib, {"XTestFakeKeyEvent", "XTestQueryExtension", nullptr}, true, true},
        {"a missing name closes it", kLib, {"XTestFakeKeyEvent", "NoSuchFunction", nullptr}, false, false},
        {"no such library", "libNoSuchLibrary.so.9", {"XTestFakeKeyEvent", nullptr}, false, false},
        // strlen is in the program's own scope: the path is never opened.
        {"the program first", kLib, {"strlen", "memcpy", nullptr}, true, false},
        {"the program first, no library at all", "libNoSuchLibrary.so.9", {"strlen", nullptr}, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        void *funcs[3] = {};
        void *h = rk_hDynLoad(c.path, c.names, funcs);
        EXPECT_EQ(h != nullptr, c.loads);
        EXPECT_EQ(mapped(kLib), c.library_open_after);
        if (h) {
            for (int i = 0; c.names[i]; ++i)
                EXPECT_EQ(funcs[i], dlsym(h, c.names[i])) << c.names[i];
            if (std::strcmp(c.names[0], "strlen") == 0) {
                EXPECT_EQ(funcs[0], reinterpret_cast<void *>(&strlen));
            }
        }
        rk_hDynUnload(&h);
        EXPECT_EQ(h, nullptr);
        EXPECT_FALSE(mapped(kLib));
    }
    void *none = nullptr;
    rk_hDynUnload(&none);
    rk_hDynUnload(nullptr);
}

TEST(DynLoad, FurtherNamesStopAtTheFirstMissing)
{
    const char *first[] = {"XTestQueryExtension", nullptr};
    void *f = nullptr;
    void *h = rk_hDynLoad(kLib, first, &f);
    ASSERT_NE(h, nullptr);
    const char *more[] = {"XTestFakeButtonEvent", "XTestFakeMotionEvent", "NoSuchFunction", "XTestGrabControl"};
    void *funcs[4] = {};
    EXPECT_EQ(rk_hDynLoadAlso(h, more, funcs, 2), 0);
    EXPECT_EQ(funcs[1], dlsym(h, "XTestFakeMotionEvent"));
    std::memset(funcs, 0, sizeof funcs);
    EXPECT_EQ(rk_hDynLoadAlso(h, more, funcs, 4), -1);
    EXPECT_NE(funcs[0], nullptr);
    EXPECT_NE(funcs[1], nullptr);
    EXPECT_EQ(funcs[3], nullptr);  // not reached
    EXPECT_EQ(rk_hDynLoadAlso(nullptr, more, funcs, 1), -1);
    rk_hDynUnload(&h);
}

}  // namespace
