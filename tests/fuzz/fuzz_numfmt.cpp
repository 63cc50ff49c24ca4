// Feeds arbitrary format codes, and values, to the number-format parser and renderer. Every
// code must compile, and every value must render to a bounded text without a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "sheets/NumberFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A code, optionally followed by a NUL and the 8 bytes of a value: a seed file holding
    // just a code is a good input as it stands.
    double own = 0;
    if (size >= 9 && data[size - 9] == 0) {
        std::memcpy(&own, data + size - 8, sizeof own);
        size -= 9;
    }
    const std::string code(reinterpret_cast<const char*>(data), size);

    const auto format = sheets::NumberFormat::compile(code);
    static const double values[] = {0,
                                    -0.0,
                                    1,
                                    -1.5,
                                    0.5,
                                    2.675,
                                    45296.70707,
                                    -45296.5,
                                    60,
                                    2958465.99999,
                                    2958466,
                                    1e15,
                                    1e300,
                                    -1e-300,
                                    std::numeric_limits<double>::max(),
                                    std::numeric_limits<double>::denorm_min(),
                                    std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN()};
    // Scaling (% or ,) and repeated tokens let the text grow with the code, never beyond this.
    const std::size_t limit = 16 * code.size() + 2048;
    std::string out;
    for (const auto dates : {sheets::DateSystem::D1900, sheets::DateSystem::D1904}) {
        for (double v : values) {
            out.clear();
            format->formatNumber(v, dates, out);
            if (out.size() > limit) {
                std::abort();
            }
        }
        out.clear();
        format->formatNumber(own, dates, out);
        if (out.size() > limit) {
            std::abort();
        }
    }
    out.clear();
    format->formatText("text \xE2\x82\xAC", out);
    (void)format->isDate();
    return 0;
}
