// Encrypted workbooks: those encrypted with the application's default password open as it
// opens them; any other password makes the workbook "protected by a password", unless it was
// given to Open.
#include <gtest/gtest.h>

#include <string>

#include "XlsTestSupport.h"
#include "sheets/BookReader.h"

namespace {

using xlstest::fixture;

sheets::OpenOptions withPassword(const char* password)
{
    sheets::OpenOptions options;
    if (password != nullptr) {
        options.hasPassword = true;
        options.password = password;
    }
    return options;
}

TEST(XlsEncryption, DefaultPasswordOpensOtherPasswordsDoNot)
{
    struct Case {
        const char* file;
        const char* password; // given to Open; nullptr: none
        bool opens;
    };
    const Case cases[] = {
        // The default password, by method: RC4 CryptoAPI with 40- and 128-bit keys, RC4
        {"cryptoapi-default.xls", nullptr, true},
        {"cryptoapi128-default.xls", nullptr, true},
        {"rc4-default.xls", nullptr, true},
        // ... and a password given anyway (the console's dummy one) changes nothing
        {"cryptoapi-default.xls", "12", true},
        // Another password: refused, unless it is the one given
        {"cryptoapi-secret.xls", nullptr, false},
        {"cryptoapi-secret.xls", "12", false},
        {"cryptoapi-secret.xls", "secret", true},
        {"rc4-secret.xls", nullptr, false},
        {"rc4-secret.xls", "secret", true},
        // XOR obfuscation is not decrypted at all
        {"xor.xls", nullptr, false},
        {"xor.xls", "secret", false},
    };
    auto plainBook = sheets::openXls(fixture("plain.xls"), {});
    const auto plain = xlstest::readSheet(*plainBook, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " password " + (c.password ? c.password : "none"));
        const std::string path = fixture(c.file);
        if (!c.opens) {
            EXPECT_EQ(xlstest::errorOf([&] { sheets::openXls(path, withPassword(c.password)); }),
                      "The workbook \"" + path + "\" is protected by a password");
            continue;
        }
        auto book = sheets::openXls(path, withPassword(c.password));
        ASSERT_EQ(book->sheets().size(), 1u);
        EXPECT_EQ(book->sheets()[0].name, "Secret");
        const auto sink = xlstest::readSheet(*book, 0);
        ASSERT_EQ(sink.grid.size(), plain.grid.size());
        for (const auto& [at, cell] : plain.grid) {
            ASSERT_EQ(sink.grid.at(at).shown, cell.shown);
        }
    }
}

TEST(XlsEncryption, LibreOfficeEncryptedFiles)
{
    // Written by another program: a protected structure (saved with the default password)
    // opens; a password opens only when given.
    const std::string structure = fixture("lo-protected-structure.xls");
    const std::string password = fixture("lo-password-secret.xls");
    for (const auto& [path, options] : {std::pair{structure, withPassword(nullptr)},
                                        std::pair{password, withPassword("secret")}}) {
        SCOPED_TRACE(path);
        auto book = sheets::openXls(path, options);
        const auto sink = xlstest::readSheet(*book, 0);
        ASSERT_NE(sink.at(0, 0), nullptr);
        EXPECT_EQ(sink.at(0, 0)->text, "secret text");
        EXPECT_EQ(sink.at(0, 1)->shown, "42.5");
    }
    EXPECT_EQ(xlstest::errorOf([&] { sheets::openXls(password, {}); }),
              "The workbook \"" + password + "\" is protected by a password");
}

} // namespace
