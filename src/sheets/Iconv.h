#pragma once

#include <iconv.h>

namespace sheets {

// iconv_open's failure value is a pointer made from -1.
inline bool iconvFailed(iconv_t cd)
{
    return cd == reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
}

} // namespace sheets
