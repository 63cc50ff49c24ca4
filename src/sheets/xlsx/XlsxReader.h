#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "sheets/BookReader.h"

// The reader of Office Open XML workbooks (.xlsx, .xlsm, .xltx, .xltm; transitional and Strict).
namespace sheets::xlsx {

// How worksheet parts are read: by our own scanner, with expat taking over a part the scanner
// gives up on (the default), or by expat alone, the reference the scanner is tested against.
enum class SheetParser : unsigned char { Scanner, Expat };

// Opens a zip file that openBook identified by its signature. Throws sheets::Error: a zip that
// holds some other kind of document is named as such; a damaged package says where.
std::unique_ptr<BookReader> openFile(const std::string& path, const OpenOptions& options,
                                     SheetParser parser = SheetParser::Scanner);

// The same from memory (the buffer must outlive the reader); displayPath names it in messages.
std::unique_ptr<BookReader> openMemory(const void* data, std::size_t size,
                                       const std::string& displayPath, const OpenOptions& options,
                                       SheetParser parser = SheetParser::Scanner);

} // namespace sheets::xlsx
