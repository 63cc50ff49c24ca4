#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/NumberFormat.h"

// The contract between the format readers (xlsx, xls) and the rest of the engine. A reader
// knows the workbook's globals up front and streams one sheet's cells row by row into a sink;
// it never holds a whole sheet.
namespace sheets {

enum class Visibility : unsigned char { Visible, Hidden, VeryHidden };
enum class SheetKind : unsigned char { Worksheet, Chart, Macro, Dialog, Other };

struct SheetInfo {
    std::string name; // UTF-8
    Visibility visibility = Visibility::Visible;
    SheetKind kind = SheetKind::Worksheet;
};

// Inclusive, 0-based.
struct CellRange {
    std::uint32_t firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0;
};

enum class CellType : unsigned char { Empty, Number, Text, Boolean, Error };

struct Cell {
    std::uint32_t col = 0; // 0-based
    CellType type = CellType::Empty;
    // The cell's number format; never null (readers hand out NumberFormat::general() where the
    // cell has none). Owned by the reader, valid as long as the reader lives.
    const NumberFormat* format = nullptr;
    double number = 0;     // Number; Boolean as 0 or 1
    std::string_view text; // Text (UTF-8) or the error's name ("#N/A"); valid during the call
};

class SheetSink {
public:
    virtual ~SheetSink() = default;
    // The used range the file claims for itself, when it has one; sent before any row. Only a
    // hint: other writers leave it wrong or out.
    virtual void dimension(const CellRange& /*claimed*/) {}
    // One row's cells, sorted by column, rows in increasing order, each row at most once. A
    // formatted cell without a value comes as CellType::Empty. Rows without cells may be skipped.
    virtual void row(std::uint32_t row, std::span<const Cell> cells) = 0;
    // A merged range; may come before, between or after the rows.
    virtual void merge(const CellRange& /*range*/) {}
    // The reader starts the sheet over (the xlsx reader does so when it finds rows out of order
    // and then sends them sorted): forget every row and merge received so far; dimension() may
    // come again. Readers that never start over need not call it.
    virtual void restart() {}
};

struct OpenOptions {
    bool readOnly = true;     // the engine never writes to a workbook it reads
    bool hasPassword = false; // a password was given to Open
    std::string password;     // as given, UTF-8
};

class BookReader {
public:
    virtual ~BookReader() = default;

    // Every sheet in tab order, worksheets and the others alike.
    virtual const std::vector<SheetInfo>& sheets() const = 0;
    // 0-based index into sheets() of the sheet the workbook marks as active.
    virtual std::size_t activeSheet() const = 0;
    virtual DateSystem dateSystem() const = 0;
    // A macro project is present.
    virtual bool hasMacros() const = 0;
    // Streams one sheet (index into sheets()). Throws sheets::Error when the sheet's data is
    // damaged. May be called more than once for the same sheet.
    virtual void readSheet(std::size_t index, SheetSink& sink) = 0;
};

// Opens a workbook by its content, whatever its name says. Throws sheets::Error.
std::unique_ptr<BookReader> openBook(const std::string& path, const OpenOptions& options);

// The legacy binary reader (compound file: BIFF8, BIFF5; also refuses encrypted OOXML packages,
// which are compound files too). Called by openBook for a compound-file signature.
std::unique_ptr<BookReader> openXls(const std::string& path, const OpenOptions& options);

} // namespace sheets
