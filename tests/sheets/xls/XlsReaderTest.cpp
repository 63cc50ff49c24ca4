#include <gtest/gtest.h>

#include <string>

#include "sheets/BookReader.h"
#include "sheets/Error.h"

namespace {

std::string fixture(const std::string& name)
{
    return std::string(XLS_FIXTURES) + "/" + name;
}

std::string openError(const std::string& path, const sheets::OpenOptions& options = {})
{
    try {
        sheets::openXls(path, options);
    } catch (const sheets::Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(XlsEncryption, EncryptedOoxmlPackageIsPasswordProtected)
{
    const std::string path = fixture("encrypted-ooxml.xlsx");
    EXPECT_EQ(openError(path), "The workbook \"" + path + "\" is protected by a password");
}

} // namespace
