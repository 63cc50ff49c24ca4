// Damaged workbook streams, built record by record: each fails with a message that says where,
// or (where the damage costs nothing) reads what is there.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "XlsTestSupport.h"
#include "sheets/xls/ByteSource.h"
#include "sheets/xls/XlsBook.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void add16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void add32(Bytes& b, std::uint32_t v)
{
    add16(b, v & 0xFFFF);
    add16(b, v >> 16);
}

Bytes record(unsigned type, const Bytes& data)
{
    Bytes out;
    add16(out, type);
    add16(out, static_cast<unsigned>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes bof(unsigned dt, unsigned version = 0x0600)
{
    Bytes d;
    add16(d, version);
    add16(d, dt);
    add32(d, 0);
    add32(d, 0);
    add32(d, 0);
    return record(0x0809, d);
}

Bytes eof()
{
    return record(0x000A, {});
}

Bytes cell(unsigned type, unsigned row, unsigned col, const Bytes& rest)
{
    Bytes d;
    add16(d, row);
    add16(d, col);
    add16(d, 0);
    d.insert(d.end(), rest.begin(), rest.end());
    return record(type, d);
}

Bytes sst(const std::vector<std::string>& strings, std::uint32_t claimed)
{
    Bytes d;
    add32(d, claimed);
    add32(d, claimed);
    for (const std::string& s : strings) {
        add16(d, static_cast<unsigned>(s.size()));
        d.push_back(0);
        d.insert(d.end(), s.begin(), s.end());
    }
    return record(0x00FC, d);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// A workbook of one sheet "S": globals (extra records before the sheet list), then the sheet's
// records. sheetOffset, when set, replaces the true offset of the sheet.
Bytes book(const Bytes& globals, const Bytes& sheet, long sheetOffset = -1)
{
    const Bytes head = concat({bof(0x0005), globals});
    const std::size_t boundLen = 4 + 6 + 3;
    const std::size_t pos = head.size() + boundLen + 4;
    Bytes bound;
    add32(bound, sheetOffset >= 0 ? static_cast<std::uint32_t>(sheetOffset)
                                  : static_cast<std::uint32_t>(pos));
    bound.push_back(0);
    bound.push_back(0);
    bound.push_back(1);
    bound.push_back(0);
    bound.push_back('S');
    return concat({head, record(0x0085, bound), eof(), sheet});
}

std::string readAll(const Bytes& bytes, xlstest::CollectSink* out = nullptr)
{
    return xlstest::errorOf([&] {
        auto reader = sheets::xls::openBiffStream(sheets::xls::memorySource(bytes, "bad.xls"), {});
        for (std::size_t i = 0; i < reader->sheets().size(); ++i) {
            xlstest::CollectSink sink;
            reader->readSheet(i, sink);
            if (out != nullptr) {
                *out = sink;
            }
        }
    });
}

TEST(BiffDamage, DamagedRecordsFailWithWhere)
{
    Bytes number;
    for (int i = 0; i < 8; ++i) {
        number.push_back(0);
    }
    const Bytes goodSheet = concat({bof(0x0010), cell(0x0203, 0, 0, number), eof()});
    struct Case {
        const char* what;
        Bytes stream;
        const char* message;
    };
    Bytes labelCut;
    add16(labelCut, 50); // 50 characters announced, 3 present
    labelCut.push_back(0);
    labelCut.insert(labelCut.end(), {'a', 'b', 'c'});
    Bytes isst5;
    add32(isst5, 5);
    Bytes tooLong = record(0x0203, Bytes(14, 0));
    tooLong[2] = 0xFF; // the header claims 255 bytes
    const Case cases[] = {
        {"an empty stream", {}, "holds no workbook, not a workbook"},
        {"no BOF first", concat({eof(), goodSheet}), "holds no workbook, not a workbook"},
        {"a BIFF4 workbook", concat({bof(0x0005, 0x0400), eof()}),
         "(BIFF version 0x0400) is not supported"},
        {"globals without EOF", concat({bof(0x0005)}),
         "the workbook globals: they end without their end-of-file record"},
        {"a record past the end", concat({bof(0x0005), tooLong}),
         "runs past the end of the workbook stream"},
        {"a sheet where no sheet is", book({}, goodSheet, 100000),
         "sheet 'S': it is not where the workbook says (offset 100000)"},
        {"a sheet without EOF", book({}, concat({bof(0x0010), cell(0x0203, 0, 0, number)})),
         "sheet 'S': it ends without its end-of-sheet record"},
        {"a shared string that is not there",
         book(sst({"only"}, 1), concat({bof(0x0010), cell(0x00FD, 1, 1, isst5), eof()})),
         "sheet 'S': cell B2 refers to shared string 5, but the table holds 1"},
        {"a shared-string table cut inside a string",
         book(concat(
                  {record(0x00FC, {2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 'a', 'b', 'c', 9, 0, 0, 'x'})}),
              goodSheet),
         "the shared-string table: it ends inside string 1"},
        {"a NUMBER record too short",
         book({}, concat({bof(0x0010), record(0x0203, {0, 0}), eof()})),
         "sheet 'S': record 0x0203 at offset"},
        {"a LABEL cut short", book({}, concat({bof(0x0010), cell(0x0204, 0, 0, labelCut), eof()})),
         "sheet 'S': the text of cell A1 is cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = readAll(c.stream);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find("\"bad.xls\""), std::string::npos) << message;
    }
}

TEST(BiffDamage, HarmlessFlawsStillRead)
{
    // A table that announces more strings than it holds keeps the ones it has; a number that
    // is no number shows as #NUM!; bytes after the last record are ignored.
    Bytes nan;
    for (int i = 0; i < 6; ++i) {
        nan.push_back(0);
    }
    nan.push_back(0xF8);
    nan.push_back(0x7F);
    Bytes isst1;
    add32(isst1, 1);
    Bytes stream =
        book(sst({"one", "two"}, 1000),
             concat({bof(0x0010), cell(0x00FD, 0, 0, isst1), cell(0x0203, 0, 1, nan), eof()}));
    stream.push_back(0);
    stream.push_back(0);
    xlstest::CollectSink sink;
    EXPECT_EQ(readAll(stream, &sink), "(no error)");
    ASSERT_NE(sink.at(0, 0), nullptr);
    EXPECT_EQ(sink.at(0, 0)->text, "two");
    ASSERT_NE(sink.at(0, 1), nullptr);
    EXPECT_EQ(sink.at(0, 1)->type, sheets::CellType::Error);
    EXPECT_EQ(sink.at(0, 1)->text, "#NUM!");
}

} // namespace

namespace {

TEST(BiffDamage, CellsWrittenOverAndOverKeepTheLastRecord)
{
    // 4000 formatted blanks written 80 times over, in row 1 and row 0 by turns (out of order),
    // then a number over one of them: every cell once, the number last.
    auto mulblank = [](unsigned row) {
        Bytes d;
        add16(d, row);
        add16(d, 0);
        for (int i = 0; i < 4000; ++i) {
            add16(d, 0);
        }
        add16(d, 3999);
        return record(0x00BE, d);
    };
    Bytes sheet = bof(0x0010);
    for (int i = 0; i < 80; ++i) {
        const Bytes r = mulblank(i % 2 == 0 ? 1 : 0);
        sheet.insert(sheet.end(), r.begin(), r.end());
    }
    Bytes value(8, 0);
    value[6] = 0xF0;
    value[7] = 0x3F; // 1.0
    sheet = concat({sheet, cell(0x0203, 0, 5, value), eof()});
    xlstest::CollectSink sink;
    EXPECT_EQ(readAll(book({}, sheet), &sink), "(no error)");
    EXPECT_FALSE(sink.outOfOrder);
    EXPECT_EQ(sink.rowOrder, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(sink.grid.size(), 8000u);
    ASSERT_NE(sink.at(0, 5), nullptr);
    EXPECT_EQ(sink.at(0, 5)->shown, "1");
}

} // namespace
