#include "sheets/BookReader.h"
#include "sheets/Error.h"

namespace sheets {

std::unique_ptr<BookReader> openXls(const std::string& /*path*/, const OpenOptions& /*options*/)
{
    throw Error("Legacy .xls workbooks are not supported yet");
}

}  // namespace sheets
