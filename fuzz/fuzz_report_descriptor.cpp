// The hidraw backend's report-descriptor parser against arbitrary descriptors, as a box or any
// other device could declare them: nothing may be read outside the descriptor (AddressSanitizer;
// the fuzzer hands it over in a buffer of exactly its size), no length may wrap (the integer
// checks this target is built with), and a descriptor that is refused leaves the lengths alone.
#include <cstdlib>

#include "platform/linux/hidraw/hidraw_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint16_t UNTOUCHED = 0xEEEE;
    std::uint16_t input = UNTOUCHED;
    std::uint16_t output = UNTOUCHED;
    if (!DescriptorReportLengths(data, size, &input, &output) && (input != UNTOUCHED || output != UNTOUCHED)) std::abort();
    return 0;
}
