#pragma once

// A sheet read through the xlsx reader with one parser or the other: what its sink receives,
// cell by cell, and the text it saves as, so that the scanner and expat can be compared.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingSink.h"
#include "SheetText.h"
#include "sheets/BookReader.h"
#include "sheets/xlsx/XlsxReader.h"

namespace testing_sheets {

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
    std::string text;
    out.text = errorOf([&] { text = writtenText(book, index); });
    if (out.text == "(no error)") {
        out.text = std::move(text);
    }
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
