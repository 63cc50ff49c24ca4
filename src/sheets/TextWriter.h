#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sheets/BookReader.h"
#include "sheets/TextOutput.h"

// Tab-delimited text of a sheet, row by row as the reader streams it:
// - line n is row n and field k is column k, from A1 on; every line has as many fields as the
//   last column that holds a value anywhere in the sheet; an empty row inside the range is a
//   line of tabs; nothing follows the last row that holds a value; an empty sheet is one empty
//   line; formatted cells without a value count for nothing;
// - each cell as it shows (its number format applied), a merged range only in its top-left
//   cell; a field holding a tab, a double quote, CR or LF is enclosed in double quotes with the
//   quotes inside doubled;
// - LF after every line.
namespace sheets {

// What a pass over a sheet knows before it starts.
struct SheetPlan {
    bool widthKnown = false;
    std::uint32_t width = 0;  // fields per line
    bool mergesKnown = false; // every merge of the sheet is in `merges`
    std::vector<CellRange> merges;
};

// The sink for one pass. The width of the lines must be known before the first line goes out,
// and it only comes from the cells themselves, the merges (which xlsx and xls both keep after
// the cells) included. So a pass trusts the width the file claims and writes straight away;
// when the claim or a late merge proves it wrong, it says so and the sheet is read again with
// what this pass learnt. A file that tells the truth is read once.
class SheetTextWriter final : public SheetSink {
public:
    SheetTextWriter(TextOutput& out, DateSystem dates, SheetPlan plan);

    void dimension(const CellRange& claimed) override;
    void row(std::uint32_t row, std::span<const Cell> cells) override;
    void merge(const CellRange& range) override;
    void restart() override;

    // Ends the pass: true when the sheet's text is complete; false when it must be read again
    // with nextPlan() (the caller rewinds the output first).
    bool finish();
    SheetPlan nextPlan() const;

private:
    bool covered(std::uint32_t row, std::uint32_t col) const;
    void activateMerges(std::uint32_t row);
    void writeRow(std::uint32_t row, std::span<const Cell> cells);
    void appendField(const Cell& cell, std::string& line);

    TextOutput& out_;
    DateSystem dates_;
    SheetPlan plan_;
    std::uint64_t start_;

    bool writing_ = false; // lines go out (the width is trusted)
    bool wrong_ = false;   // what went out is wrong: the pass must be redone
    std::uint32_t width_ = 0;
    std::int64_t maxCol_ = -1;   // last column holding a value, as far as this pass knows
    std::uint32_t nextLine_ = 0; // the row the next line stands for
    bool anyLine_ = false;
    bool anyRow_ = false;
    std::uint32_t lastRow_ = 0;

    std::vector<CellRange> merges_; // known ones, sorted by first row
    std::size_t nextMerge_ = 0;     // merges_[nextMerge_...] start below the current row
    std::vector<CellRange> active_; // merges spanning the current row
    std::vector<CellRange> late_;   // merges learnt after rows they cover were handled
};

// Writes one sheet of the reader to out, reading it as often as it takes (once for most
// files). Throws sheets::Error.
void writeSheetText(BookReader& reader, std::size_t index, TextOutput& out);

} // namespace sheets
