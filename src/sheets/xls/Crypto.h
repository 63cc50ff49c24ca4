#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "sheets/xls/Biff.h"

namespace sheets::xls {

// The password the application uses when it encrypts a workbook without asking the user for
// one (a workbook whose structure is protected is saved encrypted with it).
inline constexpr const char* kDefaultPassword = "VelvetSweatshop";

// Reads a FILEPASS record (BIFF8: RC4 or RC4 CryptoAPI; XOR obfuscation and BIFF5 are not
// decrypted) and returns the decryptor for the first of the passwords that fits: the default
// one, then the caller's. Null when none fits or the method is one we cannot decrypt: the
// workbook is then protected by a password as far as we are concerned.
std::unique_ptr<Decryptor> makeDecryptor(const std::uint8_t* data, std::size_t size, bool biff8,
                                         bool hasPassword, const std::string& password);

} // namespace sheets::xls
