#pragma once

// Used by the xlsx reader's tests and the worksheet scanner's fuzz target, which compare its
// record between the scanner and expat.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "sheets/BookReader.h"

namespace testing_sheets {

// Everything a sheet sends to its sink, cell by cell.
class RecordingSink : public sheets::SheetSink {
public:
    void dimension(const sheets::CellRange& r) override { log_ += "dim " + range(r) + "\n"; }
    void row(std::uint32_t row, std::span<const sheets::Cell> cells) override
    {
        log_ += "row " + std::to_string(row) + ":";
        for (const auto& cell : cells) {
            log_ += " " + std::to_string(cell.col) + "/" +
                    std::to_string(static_cast<int>(cell.type)) + "/" + exact(cell.number) + "/" +
                    std::string(cell.text);
        }
        log_ += "\n";
    }
    void merge(const sheets::CellRange& r) override { log_ += "merge " + range(r) + "\n"; }
    void restart() override
    {
        log_.clear();
        ++restarts_;
    }
    const std::string& log() const { return log_; }
    int restarts() const { return restarts_; }

private:
    static std::string exact(double value)
    {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", value);
        return buffer;
    }
    static std::string range(const sheets::CellRange& r)
    {
        return std::to_string(r.firstRow) + "," + std::to_string(r.firstCol) + ":" +
               std::to_string(r.lastRow) + "," + std::to_string(r.lastCol);
    }
    std::string log_;
    int restarts_ = 0;
};

} // namespace testing_sheets
