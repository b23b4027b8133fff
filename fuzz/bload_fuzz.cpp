// libFuzzer target: arbitrary bytes as a picture file, loaded into image
// buffers of every form and into the screen of the Null driver.
#include "fuzz/bload_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    // The last byte picks the screen's depth (32 for the empty file).
    bload_driver::fuzz_file(size ? data[size - 1] : 2, data, size);
    return 0;
}
