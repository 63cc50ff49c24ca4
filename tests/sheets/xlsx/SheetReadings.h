#pragma once

// A sheet read through the xlsx reader with one parser or the other: what its sink receives,
// cell by cell, and the text it saves as, so that the scanner and expat can be compared.

#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SheetText.h"
#include "sheets/BookReader.h"
#include "sheets/TextOutput.h"
#include "sheets/TextWriter.h"
#include "sheets/xlsx/XlsxReader.h"

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

struct Reading {
    std::string cells; // the sink's record, or the error
    std::string text;  // the sheet's text, or the error
    int restarts = 0;
};

inline Reading readSheet(sheets::BookReader& book, std::size_t index)
{
    Reading out;
    RecordingSink sink;
    out.cells = errorOf([&] { book.readSheet(index, sink); });
    if (out.cells == "(no error)") {
        out.cells = sink.log();
    }
    out.restarts = sink.restarts();
    std::FILE* file = std::tmpfile();
    out.text = errorOf([&] {
        sheets::TextOutput text(fileno(file), "test output");
        sheets::writeSheetText(book, index, text);
        text.flush();
    });
    if (out.text == "(no error)") {
        std::rewind(file);
        out.text.clear();
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            out.text.append(buffer, n);
        }
    }
    std::fclose(file);
    return out;
}

// Every sheet, read with the given parser; an error opening the book stands for all of them.
inline std::vector<Reading> readAll(const std::string& bytes, sheets::xlsx::SheetParser parser)
{
    std::vector<Reading> out;
    std::unique_ptr<sheets::BookReader> book;
    const std::string error = errorOf([&] {
        book = sheets::xlsx::openMemory(bytes.data(), bytes.size(), "book.xlsx", {}, parser);
    });
    if (!book) {
        out.push_back({error, error, 0});
        return out;
    }
    for (std::size_t i = 0; i < book->sheets().size(); ++i) {
        out.push_back(readSheet(*book, i));
    }
    return out;
}

inline void expectSameReadings(const std::string& bytes, const std::string& what)
{
    const auto scanned = readAll(bytes, sheets::xlsx::SheetParser::Scanner);
    const auto expat = readAll(bytes, sheets::xlsx::SheetParser::Expat);
    ASSERT_EQ(scanned.size(), expat.size()) << what;
    for (std::size_t i = 0; i < scanned.size(); ++i) {
        EXPECT_EQ(scanned[i].cells, expat[i].cells) << what << " sheet " << i;
        EXPECT_EQ(scanned[i].text, expat[i].text) << what << " sheet " << i;
    }
}

} // namespace testing_sheets
