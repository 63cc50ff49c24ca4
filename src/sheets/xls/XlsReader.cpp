#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/xls/CompoundFile.h"

namespace sheets {

std::unique_ptr<BookReader> openXls(const std::string& path, const OpenOptions& /*options*/)
{
    xls::CompoundFile cfb(xls::openFileSource(path));
    // The application saves an encrypted .xlsx as a compound file holding the encrypted zip
    // package, whatever password was used.
    if (cfb.rootChild("EncryptedPackage") != nullptr) {
        throw Error("The workbook is protected by a password");
    }
    throw Error("Legacy .xls workbooks are not supported yet");
}

} // namespace sheets
