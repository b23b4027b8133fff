// libFuzzer target: arbitrary bytes as a PNG file with right checksums
// (fuzz/png_driver.h), loaded into image buffers of every form and into the
// screen of the Null driver.
#include "fuzz/bload_driver.h"
#include "fuzz/png_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    // The last byte picks the screen's depth (32 for the empty input).
    const std::vector<uint8_t> png = png_driver::with_checksums(data, size);
    bload_driver::fuzz_file(size ? data[size - 1] : 2, png.data(), png.size());
    return 0;
}
