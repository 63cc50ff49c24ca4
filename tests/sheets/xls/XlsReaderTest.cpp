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
    EXPECT_EQ(openError(fixture("encrypted-ooxml.xlsx")),
              "The workbook is protected by a password");
}

} // namespace
