// libFuzzer target: arbitrary bytes as cursor positions, print views and
// typed keys for the line editor on the screen of the Null driver, the
// tokeniser taking the values of every edited line.
#include <cstdlib>

#include "fuzz/lineedit_driver.h"
#include "gfx/drivers/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    __rk_gfx_driver_name = "null";
    if (!lineedit_driver::run(data, size))
        std::abort();
    return 0;
}
