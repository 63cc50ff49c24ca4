// The compound-file container: every stream reads back byte for byte as libgsf reads it, and
// every kind of damage to the structure ends in a message that says what is wrong, never in a
// crash or a loop.
#include <gtest/gtest.h>

#include <functional>
#include <gsf/gsf.h>
#include <string>
#include <vector>

#include "XlsTestSupport.h"
#include "sheets/Error.h"
#include "sheets/xls/CompoundFile.h"
#include "sheets/xls/XlsBook.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sheets::xls::CompoundFile;

// The bytes of a root stream as libgsf, an independent reader, sees them.
Bytes gsfStream(const std::string& path, const char* name)
{
    GError* error = nullptr;
    GsfInput* input = gsf_input_stdio_new(path.c_str(), &error);
    if (input == nullptr) {
        g_clear_error(&error);
        return {};
    }
    GsfInfile* ole = gsf_infile_msole_new(input, &error);
    g_object_unref(input);
    if (ole == nullptr) {
        g_clear_error(&error);
        return {};
    }
    Bytes out;
    GsfInput* stream = gsf_infile_child_by_name(ole, name);
    if (stream != nullptr) {
        out.resize(static_cast<std::size_t>(gsf_input_size(stream)));
        if (!out.empty() && gsf_input_read(stream, out.size(), out.data()) == nullptr) {
            out.clear();
        }
        g_object_unref(stream);
    }
    g_object_unref(ole);
    return out;
}

Bytes ourStream(const CompoundFile& file, const char* name)
{
    const CompoundFile::Entry* entry = file.rootChild(name);
    if (entry == nullptr) {
        return {};
    }
    const sheets::xls::CfbStream stream = file.openStream(*entry);
    Bytes out(static_cast<std::size_t>(stream.size()));
    EXPECT_EQ(stream.read(0, out.data(), out.size()), out.size());
    return out;
}

TEST(CompoundFile, StreamsReadAsLibgsfReadsThem)
{
    struct Case {
        std::string path;
        std::vector<const char*> streams;
    };
    const std::string samples = SHARED_SAMPLES;
    const Case cases[] = {
        // LibreOffice's files: a big Workbook stream, small property streams in the mini stream
        {xlstest::fixture("pairs/types.xls"),
         {"Workbook", "\005SummaryInformation", "\005DocumentSummaryInformation"}},
        {xlstest::fixture("pairs/strings.xls"), {"Workbook"}},
        {samples + "/readxl-geometry-xls.xls", {"Workbook"}},
        // gnumeric's dual file: both streams
        {xlstest::fixture("types-dual.xls"), {"Book", "Workbook"}},
        // scattered sectors; an allocation table that needs a DIFAT sector; a workbook small
        // enough for the mini stream
        {xlstest::fixture("scattered.xls"), {"Workbook", "Other"}},
        {xlstest::fixture("difat.xls"), {"Workbook"}},
        {xlstest::fixture("sst-split.xls"), {"Workbook"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CompoundFile file(sheets::xls::openFileSource(c.path));
        for (const char* name : c.streams) {
            SCOPED_TRACE(name);
            const Bytes expected = gsfStream(c.path, name);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(ourStream(file, name), expected);
        }
    }
}

TEST(CompoundFile, StreamsCanBeReadFromAnyOffset)
{
    CompoundFile file(sheets::xls::openFileSource(xlstest::fixture("scattered.xls")));
    const Bytes whole = ourStream(file, "Workbook");
    const auto stream = file.openStream(*file.rootChild("Workbook"));
    for (std::uint64_t pos : {0ull, 1ull, 511ull, 512ull, 1000ull, whole.size() - 3ull}) {
        Bytes part(700);
        const std::size_t got = stream.read(pos, part.data(), part.size());
        ASSERT_EQ(got, std::min<std::size_t>(700, whole.size() - pos));
        EXPECT_TRUE(std::equal(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(got),
                               whole.begin() + static_cast<std::ptrdiff_t>(pos)));
    }
    EXPECT_EQ(stream.read(whole.size(), nullptr, 10), 0u);
}

// --- Damage ---------------------------------------------------------------------------------

std::uint32_t get32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Where things are in a version 3 file (512-byte sectors) with its FAT listed in the header.
std::size_t sectorOffset(std::uint32_t sector)
{
    return (static_cast<std::size_t>(sector) + 1) * 512;
}

std::size_t fatEntry(const Bytes& b, std::uint32_t sector)
{
    const std::uint32_t fatSector = get32(b, 76 + 4 * (sector / 128));
    return sectorOffset(fatSector) + 4 * (sector % 128);
}

std::vector<std::uint32_t> chain(const Bytes& b, std::uint32_t start)
{
    std::vector<std::uint32_t> out;
    for (std::uint32_t s = start; s < 0xFFFFFFF0 && out.size() < 10000;
         s = get32(b, fatEntry(b, s))) {
        out.push_back(s);
    }
    return out;
}

// The offset of the directory entry with the given (ASCII) name.
std::size_t dirEntry(const Bytes& b, const std::string& name)
{
    for (const std::uint32_t sector : chain(b, get32(b, 48))) {
        for (std::size_t at = sectorOffset(sector); at < sectorOffset(sector) + 512; at += 128) {
            std::string entry;
            for (std::size_t i = 0; i + 2 < b[at + 64] + b[at + 65] * 256u; i += 2) {
                entry += static_cast<char>(b[at + i]);
            }
            if (entry == name) {
                return at;
            }
        }
    }
    ADD_FAILURE() << "no entry " << name;
    return 0;
}

std::uint32_t streamStart(const Bytes& b, const std::string& name)
{
    return get32(b, dirEntry(b, name) + 116);
}

std::size_t miniFatEntry(const Bytes& b, std::uint32_t miniSector)
{
    return sectorOffset(get32(b, 60)) + 4 * miniSector;
}

// Opens the bytes as the converter would and reads every sheet.
std::string openAndRead(const Bytes& bytes)
{
    return xlstest::errorOf([&] {
        auto book = sheets::xls::openCompound(
            std::make_unique<CompoundFile>(sheets::xls::memorySource(bytes, "damaged.xls")), {});
        for (std::size_t i = 0; i < book->sheets().size(); ++i) {
            xlstest::CollectSink sink;
            book->readSheet(i, sink);
        }
    });
}

TEST(CompoundFile, DamageIsReportedWithWhatAndWhere)
{
    struct Case {
        const char* what;
        const char* file;
        std::function<void(Bytes&)> damage;
        const char* message; // a part of the message
    };
    const std::uint32_t kEnd = 0xFFFFFFFE;
    const std::uint32_t kFree = 0xFFFFFFFF;
    const Case cases[] = {
        {"no signature", "scattered.xls", [](Bytes& b) { b[0] = 'X'; },
         "it is not a compound file"},
        {"header cut short", "scattered.xls", [](Bytes& b) { b.resize(300); },
         "cut short inside its header"},
        {"byte order", "scattered.xls", [](Bytes& b) { put16(b, 28, 0x1234); },
         "unknown byte order mark"},
        {"sector size", "scattered.xls", [](Bytes& b) { put16(b, 30, 20); },
         "invalid sector size (2^20 bytes)"},
        {"mini sector size", "scattered.xls", [](Bytes& b) { put16(b, 32, 9); },
         "invalid mini sector size"},
        {"more FAT sectors than the file", "scattered.xls",
         [](Bytes& b) { put32(b, 44, 0x7FFFFFFF); }, "claims 2147483647 allocation table sectors"},
        {"FAT sector outside the file", "scattered.xls", [](Bytes& b) { put32(b, 76, 0x00FFFFFF); },
         "allocation table sector 0 lies outside"},
        {"DIFAT chain leaves the file", "difat.xls", [](Bytes& b) { put32(b, 68, 0x00FFFFFF); },
         "list of allocation table sectors is broken"},
        {"DIFAT chain loops", "difat.xls",
         [](Bytes& b) {
             // The list needs two DIFAT sectors; the first one's "next" points at itself.
             const std::uint32_t difat = get32(b, 68);
             put32(b, sectorOffset(difat) + 508, difat);
         },
         "loops back to sector"},
        {"directory chain loops", "scattered.xls",
         [](Bytes& b) { put32(b, fatEntry(b, get32(b, 48)), get32(b, 48)); },
         "the sector chain of the directory loops back"},
        {"no directory", "scattered.xls", [](Bytes& b) { put32(b, 48, kEnd); }, "has no directory"},
        {"stream chain loops", "scattered.xls",
         [](Bytes& b) {
             const auto c = chain(b, streamStart(b, "Workbook"));
             put32(b, fatEntry(b, c[3]), c[1]);
         },
         "the sector chain of the stream \"Workbook\" loops back to sector"},
        {"stream chain leaves the file", "scattered.xls",
         [](Bytes& b) {
             const auto c = chain(b, streamStart(b, "Workbook"));
             put32(b, fatEntry(b, c[3]), 0x00FFFFFF);
         },
         "points outside the file (sector 16777215)"},
        {"stream chain ends early", "scattered.xls",
         [&](Bytes& b) {
             const auto c = chain(b, streamStart(b, "Workbook"));
             put32(b, fatEntry(b, c[3]), kEnd);
         },
         "the stream \"Workbook\" ends after 4 of its"},
        {"stream chain runs into a free sector", "scattered.xls",
         [&](Bytes& b) {
             const auto c = chain(b, streamStart(b, "Workbook"));
             put32(b, fatEntry(b, c[3]), kFree);
         },
         "is broken after 4 sectors"},
        {"stream size beyond the file", "scattered.xls",
         [](Bytes& b) { put32(b, dirEntry(b, "Workbook") + 120, 0x7FFFFFF0); },
         "claims 2147483632 bytes, more than the whole file holds"},
        {"file cut in the middle of the stream", "scattered.xls",
         [](Bytes& b) { b.resize(b.size() / 2); }, "is damaged"},
        {"mini stream chain broken", "sst-split.xls",
         [](Bytes& b) {
             const std::uint32_t start = streamStart(b, "Workbook");
             put32(b, miniFatEntry(b, start + 1), 0x00FFFFFF);
         },
         "the mini sector chain of the stream \"Workbook\" is broken after 2 sectors"},
        {"mini stream chain loops", "sst-split.xls",
         [](Bytes& b) {
             const std::uint32_t start = streamStart(b, "Workbook");
             put32(b, miniFatEntry(b, start + 1), start);
         },
         "loops back to mini sector"},
        {"root child out of range", "scattered.xls",
         [](Bytes& b) { put32(b, sectorOffset(get32(b, 48)) + 76, 1000); },
         "a compound file without a workbook stream, not a workbook"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = xlstest::readBytes(xlstest::fixture(c.file));
        ASSERT_FALSE(bytes.empty());
        c.damage(bytes);
        const std::string message = openAndRead(bytes);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find("\"damaged.xls\""), std::string::npos) << message;
    }
}

TEST(CompoundFile, SiblingLinksThatLoopEndTheWalk)
{
    // Every entry's left and right siblings point back at the root's first child: the walk
    // must end, and still find what it can.
    Bytes b = xlstest::readBytes(xlstest::fixture("vba.xls"));
    const std::uint32_t first = get32(b, sectorOffset(get32(b, 48)) + 76);
    for (const std::uint32_t sector : chain(b, get32(b, 48))) {
        for (std::size_t at = sectorOffset(sector); at < sectorOffset(sector) + 512; at += 128) {
            if (at != sectorOffset(get32(b, 48))) {
                put32(b, at + 68, first);
                put32(b, at + 72, first);
            }
        }
    }
    CompoundFile file(sheets::xls::memorySource(b, "loops.xls"));
    EXPECT_FALSE(file.rootChildNames().empty());
}

} // namespace
