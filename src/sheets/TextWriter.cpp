#include "sheets/TextWriter.h"

#include <algorithm>

#include "sheets/Error.h"

namespace sheets {

namespace {

bool holdsValue(const Cell& cell)
{
    return cell.type != CellType::Empty;
}

bool byFirstRow(const CellRange& a, const CellRange& b)
{
    return a.firstRow < b.firstRow;
}

bool needsQuotes(const char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '\t' || c == '"' || c == '\n' || c == '\r') {
            return true;
        }
    }
    return false;
}

} // namespace

SheetTextWriter::SheetTextWriter(TextOutput& out, DateSystem dates, SheetPlan plan)
    : out_(out), dates_(dates), plan_(std::move(plan)), start_(out.position())
{
    restart();
}

void SheetTextWriter::restart()
{
    out_.rewind(start_);
    writing_ = plan_.widthKnown;
    width_ = plan_.width;
    wrong_ = false;
    maxCol_ = -1;
    nextLine_ = 0;
    anyLine_ = false;
    anyRow_ = false;
    lastRow_ = 0;
    merges_ = plan_.merges;
    std::stable_sort(merges_.begin(), merges_.end(), byFirstRow);
    nextMerge_ = 0;
    active_.clear();
    late_.clear();
}

void SheetTextWriter::dimension(const CellRange& claimed)
{
    // Some writers claim whole rows (A1:XFD...). Trusting that would write 16,384 fields for
    // every line before finding out, so a claim that wide is only a reason to look first.
    constexpr std::uint32_t kTrustedWidth = 1024;
    if (!plan_.widthKnown && !anyRow_ && claimed.lastCol < kTrustedWidth) {
        writing_ = true;
        width_ = claimed.lastCol + 1;
    }
}

void SheetTextWriter::merge(const CellRange& range)
{
    if (plan_.mergesKnown) {
        return; // the same merges again, every one of them known from the start
    }
    if (anyRow_ && range.firstRow <= lastRow_) {
        // Rows it covers have been handled without it.
        late_.push_back(range);
        return;
    }
    // Still ahead of the rows: it can be applied as they come.
    merges_.push_back(range);
    std::stable_sort(merges_.begin() + static_cast<std::ptrdiff_t>(nextMerge_), merges_.end(),
                     byFirstRow);
}

void SheetTextWriter::activateMerges(std::uint32_t row)
{
    if (!active_.empty()) {
        std::erase_if(active_, [row](const CellRange& m) { return m.lastRow < row; });
    }
    while (nextMerge_ < merges_.size() && merges_[nextMerge_].firstRow <= row) {
        if (merges_[nextMerge_].lastRow >= row) {
            active_.push_back(merges_[nextMerge_]);
        }
        ++nextMerge_;
    }
}

bool SheetTextWriter::covered(std::uint32_t row, std::uint32_t col) const
{
    return std::ranges::any_of(active_, [row, col](const CellRange& m) {
        return col >= m.firstCol && col <= m.lastCol && (row != m.firstRow || col != m.firstCol);
    });
}

void SheetTextWriter::row(std::uint32_t row, std::span<const Cell> cells)
{
    anyRow_ = true;
    lastRow_ = row;
    activateMerges(row);
    const bool checkMerges = !active_.empty();

    std::int64_t last = -1;
    for (const Cell& cell : cells) {
        if (holdsValue(cell) && (!checkMerges || !covered(row, cell.col))) {
            last = cell.col;
        }
    }
    if (last < 0) {
        return; // an empty row: a line of tabs if a later row holds a value
    }
    maxCol_ = std::max(maxCol_, last);
    if (!writing_) {
        return;
    }
    if (last >= static_cast<std::int64_t>(width_)) {
        // Wider than claimed: the lines written so far are too short. Only learn from here on.
        writing_ = false;
        wrong_ = true;
        return;
    }
    writeRow(row, cells);
}

void SheetTextWriter::writeRow(std::uint32_t row, std::span<const Cell> cells)
{
    std::string& line = out_.buffer();
    const std::size_t tabs = width_ > 0 ? width_ - 1 : 0;
    for (; nextLine_ < row; ++nextLine_) {
        line.append(tabs, '\t');
        line += '\n';
        out_.lineDone();
    }
    const bool checkMerges = !active_.empty();
    std::uint32_t cursor = 0; // the field the line is at
    for (const Cell& cell : cells) {
        if (!holdsValue(cell) || (checkMerges && covered(row, cell.col))) {
            continue;
        }
        line.append(cell.col - cursor, '\t');
        cursor = cell.col;
        appendField(cell, line);
    }
    line.append(tabs - cursor, '\t');
    line += '\n';
    nextLine_ = row + 1;
    anyLine_ = true;
    out_.lineDone();
}

void SheetTextWriter::appendField(const Cell& cell, std::string& line)
{
    const std::size_t at = line.size();
    switch (cell.type) {
    case CellType::Number:
        cell.format->formatNumber(cell.number, dates_, line);
        break;
    case CellType::Text:
        if (cell.format == &NumberFormat::general()) {
            line.append(cell.text);
        } else {
            cell.format->formatText(cell.text, line);
        }
        break;
    case CellType::Boolean:
        line.append(cell.number != 0 ? "TRUE" : "FALSE");
        break;
    case CellType::Error:
        line.append(cell.text);
        break;
    case CellType::Empty:
        break;
    }
    if (needsQuotes(line.data() + at, line.size() - at)) {
        const std::string field = line.substr(at);
        line.resize(at);
        line += '"';
        for (const char c : field) {
            if (c == '"') {
                line += '"';
            }
            line += c;
        }
        line += '"';
    }
}

bool SheetTextWriter::finish()
{
    if (!late_.empty() && anyLine_) {
        wrong_ = true; // a covered cell may have gone out with its value
    }
    if (maxCol_ < 0) {
        // No value anywhere: whatever width was assumed, nothing has gone out yet.
        out_.buffer() += '\n';
        out_.lineDone();
        return true;
    }
    return writing_ && !wrong_ && maxCol_ + 1 == static_cast<std::int64_t>(width_);
}

SheetPlan SheetTextWriter::nextPlan() const
{
    SheetPlan next;
    next.widthKnown = true;
    next.width = static_cast<std::uint32_t>(maxCol_ + 1);
    next.mergesKnown = true;
    next.merges = merges_;
    next.merges.insert(next.merges.end(), late_.begin(), late_.end());
    return next;
}

void writeSheetText(BookReader& reader, std::size_t index, TextOutput& out)
{
    // At most three passes: the claimed width, then the width and merges learnt (the width may
    // still shrink where a late merge hid the rightmost value), then the exact width.
    const std::uint64_t start = out.position();
    SheetPlan plan;
    for (int pass = 0; pass < 4; ++pass) {
        SheetTextWriter writer(out, reader.dateSystem(), std::move(plan));
        reader.readSheet(index, writer);
        if (writer.finish()) {
            return;
        }
        plan = writer.nextPlan();
        out.rewind(start);
    }
    throw Error("The sheet's text could not be laid out: its reader gives different cells on "
                "every reading");
}

} // namespace sheets
