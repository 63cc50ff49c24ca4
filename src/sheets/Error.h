#pragma once

#include <stdexcept>
#include <string>

namespace sheets {

// Every failure of the engine that a user should read: a missing file, a file that is not a
// workbook, a damaged one (the message says where), an encrypted one, a sheet index out of
// range. The message is UTF-8, complete and ready to show; callers add nothing to it.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace sheets
