#pragma once

// Helpers of the xls reader's tests: its fixtures, what a reader sends a sink. The ones all the
// engine's tests share (a workbook's text, errors) come from the xlsx tests' SheetText.h.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "SheetText.h"
#include "sheets/BookReader.h"
#include "sheets/NumberFormat.h"

namespace xlstest {

using testing_sheets::errorOf;

inline std::string fixture(const std::string& name)
{
    return std::string(XLS_FIXTURES) + "/" + name;
}

inline std::vector<std::uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a cell shows, the way the text writer would put it: the number format applied.
inline std::string shown(const sheets::Cell& cell, sheets::DateSystem dates)
{
    std::string out;
    switch (cell.type) {
    case sheets::CellType::Empty:
        break;
    case sheets::CellType::Number:
        cell.format->formatNumber(cell.number, dates, out);
        break;
    case sheets::CellType::Text:
        cell.format->formatText(cell.text, out);
        break;
    case sheets::CellType::Boolean:
        out = cell.number != 0 ? "TRUE" : "FALSE";
        break;
    case sheets::CellType::Error:
        out = cell.text;
        break;
    }
    return out;
}

struct SeenCell {
    sheets::CellType type = sheets::CellType::Empty;
    double number = 0;
    std::string text;  // the cell's own text (Text, Error)
    std::string shown; // as its format shows it
    bool isDate = false;
};

// Keeps everything a reader sends, and checks the order the contract promises.
class CollectSink : public sheets::SheetSink {
public:
    explicit CollectSink(sheets::DateSystem dates = sheets::DateSystem::D1900) : dates_(dates) {}

    void dimension(const sheets::CellRange& claimed) override { dimensions.push_back(claimed); }
    void row(std::uint32_t row, std::span<const sheets::Cell> cells) override
    {
        if (!rowOrder.empty() && row <= rowOrder.back()) {
            outOfOrder = true;
        }
        rowOrder.push_back(row);
        std::int64_t lastCol = -1;
        for (const sheets::Cell& c : cells) {
            if (static_cast<std::int64_t>(c.col) <= lastCol || c.format == nullptr) {
                outOfOrder = true;
            }
            lastCol = c.col;
            SeenCell& seen = grid[{row, c.col}];
            seen.type = c.type;
            seen.number = c.number;
            seen.text = std::string(c.text);
            seen.shown = c.format != nullptr ? shown(c, dates_) : "";
            seen.isDate = c.format != nullptr && c.format->isDate();
        }
    }
    void merge(const sheets::CellRange& range) override { merges.push_back(range); }

    const SeenCell* at(std::uint32_t row, std::uint32_t col) const
    {
        auto it = grid.find({row, col});
        return it == grid.end() ? nullptr : &it->second;
    }

    std::map<std::pair<std::uint32_t, std::uint32_t>, SeenCell> grid;
    std::vector<std::uint32_t> rowOrder;
    std::vector<sheets::CellRange> dimensions;
    std::vector<sheets::CellRange> merges;
    bool outOfOrder = false;

private:
    sheets::DateSystem dates_;
};

inline CollectSink readSheet(sheets::BookReader& book, std::size_t index)
{
    CollectSink sink(book.dateSystem());
    book.readSheet(index, sink);
    return sink;
}

} // namespace xlstest
