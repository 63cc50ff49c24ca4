#pragma once

#include <memory>

#include "sheets/BookReader.h"
#include "sheets/xls/ByteSource.h"
#include "sheets/xls/CompoundFile.h"

// Entry points below openXls, for the tests and the fuzz targets.
namespace sheets::xls {

// A workbook in an opened compound file: finds the workbook stream (or says what else the file
// is) and reads the workbook's globals.
std::unique_ptr<BookReader> openCompound(std::unique_ptr<CompoundFile> file,
                                         const OpenOptions& options);

// A bare BIFF5/BIFF8 workbook stream, without its container.
std::unique_ptr<BookReader> openBiffStream(std::unique_ptr<ByteSource> stream,
                                           const OpenOptions& options);

} // namespace sheets::xls
