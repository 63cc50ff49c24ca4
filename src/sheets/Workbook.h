#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sheets/BookReader.h"
#include "sheets/Error.h"

// The engine's face: an open workbook that lists its sheets and saves them as tab-delimited
// text. Not Qt; one instance belongs to one thread at a time.
namespace sheets {

struct TextOptions {
    // The character set of the text: a name iconv knows. Empty: the locale's (localeCharset()).
    std::string charset;
};

class Workbook {
public:
    // Opens a workbook by its content, whatever its name says; it is only ever read. Throws
    // sheets::Error with a message ready to show: a missing file, a file that is not a
    // workbook (and what it is instead), a damaged one (and where), a protected one.
    static std::unique_ptr<Workbook> open(const std::string& path, const OpenOptions& options = {});

    const std::string& path() const { return path_; }

    // Every sheet in tab order, worksheets, chart sheets and the others alike.
    const std::vector<SheetInfo>& sheets() const { return reader_->sheets(); }
    std::size_t sheetCount() const { return reader_->sheets().size(); }
    // 0-based index of the sheet the workbook marks as active.
    std::size_t activeSheet() const { return reader_->activeSheet(); }
    DateSystem dateSystem() const { return reader_->dateSystem(); }
    // A macro project (vbaProject) is present.
    bool hasMacros() const { return reader_->hasMacros(); }
    // 0-based indices of the visible worksheets in tab order: what saveAsText writes.
    std::vector<std::size_t> visibleWorksheets() const;

    // Saves one sheet (0-based index) as text. A chart sheet, having no cells, gives the text of
    // an empty sheet: one empty line. The text goes to a temporary file beside the target that
    // is renamed at the end, so a failed save leaves no file behind. Throws sheets::Error (an
    // index out of range gives noSuchSheet(index + 1)).
    void saveSheetAsText(std::size_t index, const std::string& target,
                         const TextOptions& options = {});

    // Saves every visible worksheet in tab order, with a line holding one form feed between two
    // sheets; without any visible worksheet, the text of an empty sheet. Throws sheets::Error.
    void saveAsText(const std::string& target, const TextOptions& options = {});

    // Writes the given sheets (0-based) to an open, seekable file descriptor (the sheet's text
    // may be rewritten while it is laid out), form-feed lines between them. displayName names
    // the file in messages. Throws sheets::Error.
    void writeText(std::span<const std::size_t> indices, int fd, const std::string& displayName,
                   const TextOptions& options = {});

    // The error for a sheet number out of range, counted from 1 as users and Sheets(n) count:
    // "Sheet 5 does not exist: the workbook has 3 sheets".
    Error noSuchSheet(std::int64_t number) const;

private:
    Workbook(std::string path, std::unique_ptr<BookReader> reader);
    void saveTo(const std::string& target, std::span<const std::size_t> indices,
                const TextOptions& options);

    std::string path_;
    std::unique_ptr<BookReader> reader_;
};

} // namespace sheets
