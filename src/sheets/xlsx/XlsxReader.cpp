#include "sheets/xlsx/XlsxReader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <unordered_map>

#include "sheets/Error.h"
#include "sheets/Messages.h"
#include "sheets/xlsx/Arena.h"
#include "sheets/xlsx/Package.h"
#include "sheets/xlsx/Values.h"
#include "sheets/xlsx/Xml.h"
#include "sheets/xlsx/XmlScanner.h"
#include "sheets/xlsx/ZipPackage.h"

namespace sheets::xlsx {

namespace {

// A sheet part this big is inflated on a second thread while it is parsed.
constexpr std::uint64_t kBackgroundInflate = 1U << 20;

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// The same for a NUL-terminated attribute value, without measuring it first.
std::optional<std::uint64_t> parseUnsigned(const char* text)
{
    std::uint64_t value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (p - text >= 19) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p == text || *p != '\0') {
        return parseUnsigned(std::string_view(text)); // leading "+" or spaces: the slow way
    }
    return value;
}

// ---------------------------------------------------------------------------------------------
// Shared strings

// Every shared string back to back in one block, so that a table of a million strings costs
// a million offsets and its characters, not a million allocations.
class StringTable {
public:
    void reserve(std::size_t count, std::size_t bytes)
    {
        ends_.reserve(count);
        data_.reserve(bytes);
    }
    std::string& data() { return data_; }
    void close() { ends_.push_back(data_.size()); } // ends the string appended to data()
    std::size_t size() const { return ends_.size(); }
    std::string_view at(std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return {data_.data() + begin, ends_[i] - begin};
    }

private:
    std::string data_;
    std::vector<std::size_t> ends_;
};

// Gathers the text of a rich string (<si> or <is>): its own <t>, the <t> of its runs, but not
// the phonetic guides (<rPh>) that East Asian workbooks add.
//
// Whitespace at either end of a <t> is dropped unless xml:space="preserve" holds for it, as the
// spreadsheet application shows such text (writers that forget the attribute lose those spaces
// there); a <t> holding nothing but whitespace keeps it, as that application keeps a lone
// space between two runs.
class RichText {
public:
    void begin(const char** atts)
    {
        text_.clear();
        skip_ = 0;
        inT_ = false;
        preserve_.clear();
        preserve_.push_back(preserves(atts, false));
    }
    void start(const char* name, const char** atts)
    {
        if (skip_ > 0 || named(name, "rPh")) {
            ++skip_;
            return;
        }
        preserve_.push_back(preserves(atts, preserve_.back()));
        if (named(name, "t")) {
            inT_ = true;
            tStart_ = text_.size();
        }
    }
    void end(const char* name)
    {
        if (skip_ > 0) {
            --skip_;
            return;
        }
        if (named(name, "t") && inT_) {
            inT_ = false;
            if (!preserve_.back()) {
                trimFrom(tStart_);
            }
        }
        if (preserve_.size() > 1) {
            preserve_.pop_back();
        }
    }
    void characters(std::string_view text)
    {
        if (inT_ && skip_ == 0) {
            text_.append(text);
        }
    }
    // The text with _xHHHH_ escapes undone, appended to out.
    void appendTo(std::string& out) const
    {
        if (text_.find("_x") == std::string::npos) {
            out.append(text_);
        } else {
            appendUnescaped(text_, out);
        }
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    static bool preserves(const char** atts, bool inherited)
    {
        for (; atts != nullptr && atts[0] != nullptr; atts += 2) {
            if (named(atts[0], "xml:space")) {
                return named(atts[1], "preserve");
            }
        }
        return inherited;
    }

    void trimFrom(std::size_t start)
    {
        std::size_t first = start;
        while (first < text_.size() && isSpace(text_[first])) {
            ++first;
        }
        if (first == text_.size()) {
            return; // whitespace only: kept
        }
        std::size_t last = text_.size();
        while (last > first && isSpace(text_[last - 1])) {
            --last;
        }
        text_.erase(last);
        text_.erase(start, first - start);
    }

    std::string text_;
    std::vector<bool> preserve_; // xml:space in force, per open element
    std::size_t tStart_ = 0;
    int skip_ = 0;
    bool inT_ = false;
};

class SharedStringsHandler : public XmlHandler {
public:
    SharedStringsHandler(StringTable& table, std::uint64_t partSize)
        : table_(table), partSize_(partSize)
    {}

    void startElement(const char* name, const char** atts) override
    {
        if (inSi_) {
            rich_.start(name, atts);
        } else if (named(name, "si")) {
            inSi_ = true;
            rich_.begin(atts);
        } else if (named(name, "sst")) {
            // The declared count only guides the reservation, and cannot make it larger than
            // the part could hold (an <si> takes at least 9 bytes).
            if (const auto count = parseUnsigned(attribute(atts, "uniqueCount") != nullptr
                                                     ? attribute(atts, "uniqueCount")
                                                     : "")) {
                table_.reserve(static_cast<std::size_t>(std::min(*count, partSize_ / 9)),
                               static_cast<std::size_t>(partSize_ / 2));
            }
        }
    }

    void endElement(const char* name) override
    {
        if (!inSi_) {
            return;
        }
        if (named(name, "si")) {
            inSi_ = false;
            rich_.appendTo(table_.data());
            table_.close();
        } else {
            rich_.end(name);
        }
    }

    void characters(std::string_view text) override
    {
        if (inSi_) {
            rich_.characters(text);
        }
    }

private:
    StringTable& table_;
    std::uint64_t partSize_;
    RichText rich_;
    bool inSi_ = false;
};

// ---------------------------------------------------------------------------------------------
// Styles: only what the text needs, the number format of every cell format.

class StylesHandler : public XmlHandler {
public:
    std::unordered_map<std::uint32_t, std::string> codes; // numFmtId -> formatCode
    std::vector<std::uint32_t> xfNumFmt;                  // cellXfs, in order

    void startElement(const char* name, const char** atts) override
    {
        if (named(name, "numFmts")) {
            inNumFmts_ = true;
        } else if (named(name, "cellXfs")) {
            inCellXfs_ = true;
        } else if (named(name, "numFmt") && inNumFmts_) {
            const char* id = attribute(atts, "numFmtId");
            const char* code = attribute(atts, "formatCode");
            if (id != nullptr && code != nullptr) {
                if (const auto value = parseUnsigned(id); value && *value <= 0xFFFFFFFFU) {
                    codes[static_cast<std::uint32_t>(*value)] = code;
                }
            }
        } else if (named(name, "xf") && inCellXfs_) {
            const char* id = attribute(atts, "numFmtId");
            const auto value = parseUnsigned(id != nullptr ? id : "0");
            xfNumFmt.push_back(value && *value <= 0xFFFFFFFFU ? static_cast<std::uint32_t>(*value)
                                                              : 0);
        }
    }

    void endElement(const char* name) override
    {
        if (named(name, "numFmts")) {
            inNumFmts_ = false;
        } else if (named(name, "cellXfs")) {
            inCellXfs_ = false;
        }
    }

private:
    bool inNumFmts_ = false;
    bool inCellXfs_ = false;
};

// ---------------------------------------------------------------------------------------------
// The workbook part

struct SheetEntry {
    SheetInfo info;
    std::string relId;
    std::string part; // resolved; empty when the relationship is missing
};

class WorkbookHandler : public XmlHandler {
public:
    std::vector<SheetEntry> sheets;
    std::size_t activeTab = 0;
    bool date1904 = false;

    void startElement(const char* name, const char** atts) override
    {
        if (named(name, "sheet")) {
            SheetEntry entry;
            const char* sheetName = attribute(atts, "name");
            entry.info.name = sheetName != nullptr ? sheetName : "";
            if (const char* state = attribute(atts, "state")) {
                if (named(state, "hidden")) {
                    entry.info.visibility = Visibility::Hidden;
                } else if (named(state, "veryHidden")) {
                    entry.info.visibility = Visibility::VeryHidden;
                }
            }
            // r:id; "id" is the only attribute of <sheet> with that local name.
            const char* id = attribute(atts, "id");
            entry.relId = id != nullptr ? id : "";
            sheets.push_back(std::move(entry));
        } else if (named(name, "workbookPr")) {
            date1904 = xmlTrue(attribute(atts, "date1904"));
        } else if (named(name, "workbookView") && !sawView_) {
            sawView_ = true;
            if (const char* tab = attribute(atts, "activeTab")) {
                activeTab = static_cast<std::size_t>(parseUnsigned(tab).value_or(0));
            }
        }
    }
    void endElement(const char* /*name*/) override {}

private:
    bool sawView_ = false;
};

// ---------------------------------------------------------------------------------------------
// Sheets

struct BookData {
    DateSystem dates = DateSystem::D1900;
    StringTable strings;
    std::vector<const NumberFormat*> xfFormats; // by cell format index
    std::vector<std::shared_ptr<const NumberFormat>> owned;
};

// Thrown by the sheet parser when it meets a row above one it has already handed on; the
// reader then starts the sheet over, gathering and sorting its rows.
struct RowsOutOfOrder {};

enum class Kind : unsigned char {
    Number,
    Shared,
    FormulaText,
    Inline,
    Boolean,
    ErrorValue,
    Date,
    Other
};

Kind kindOf(const char* t)
{
    if (t == nullptr) {
        return Kind::Number;
    }
    switch (t[0]) {
    case 'n':
        return t[1] == '\0' ? Kind::Number : Kind::Other;
    case 's':
        if (t[1] == '\0') {
            return Kind::Shared;
        }
        return named(t, "str") ? Kind::FormulaText : Kind::Other;
    case 'i':
        return named(t, "inlineStr") ? Kind::Inline : Kind::Other;
    case 'b':
        return t[1] == '\0' ? Kind::Boolean : Kind::Other;
    case 'e':
        return t[1] == '\0' ? Kind::ErrorValue : Kind::Other;
    case 'd':
        return t[1] == '\0' ? Kind::Date : Kind::Other;
    default:
        return Kind::Other;
    }
}

class SheetHandler final : public XmlHandler {
public:
    SheetHandler(const BookData& book, SheetSink& sink, bool gatherRows)
        : book_(book), sink_(sink), gather_(gatherRows)
    {
        const NumberFormat& general = NumberFormat::general();
        defaultFormat_ = book.xfFormats.empty() ? &general : book.xfFormats[0];
    }

    void startElement(const char* name, const char** atts) override
    {
        if (inCell_) {
            if (inIs_) {
                rich_.start(name, atts);
            } else if (named(name, "v")) {
                inV_ = true;
                hasV_ = true;
                v_.clear();
            } else if (named(name, "is")) {
                inIs_ = true;
                hasIs_ = true;
                rich_.begin(atts);
            }
            return;
        }
        if (named(name, "c")) {
            if (inRow_) {
                startCell(atts);
            }
        } else if (named(name, "row")) {
            if (inData_) {
                startRow(atts);
            }
        } else if (named(name, "sheetData")) {
            inData_ = true;
        } else if (named(name, "dimension")) {
            if (const char* ref = attribute(atts, "ref")) {
                if (const auto range = parseRange(ref)) {
                    sink_.dimension(*range);
                }
            }
        } else if (named(name, "mergeCell")) {
            if (const char* ref = attribute(atts, "ref")) {
                if (const auto range = parseRange(ref)) {
                    if (range->firstRow != range->lastRow || range->firstCol != range->lastCol) {
                        sink_.merge(*range);
                    }
                }
            }
        }
    }

    void endElement(const char* name) override
    {
        if (inCell_) {
            if (inIs_) {
                if (named(name, "is")) {
                    inIs_ = false;
                } else {
                    rich_.end(name);
                }
            } else if (named(name, "v")) {
                inV_ = false;
            } else if (named(name, "c")) {
                endCell();
            }
            return;
        }
        if (named(name, "row")) {
            endRow();
        } else if (named(name, "sheetData")) {
            inData_ = false;
            deliverPending();
        }
    }

    void characters(std::string_view text) override
    {
        if (inV_) {
            v_.append(text);
        } else if (inIs_) {
            rich_.characters(text);
        }
    }

    // After the whole part: whatever is still held goes out.
    void finish()
    {
        deliverPending();
        if (gather_) {
            for (auto& [row, cells] : gathered_) {
                sortCells(cells);
                sink_.row(row, cells);
            }
        }
    }

private:
    void startRow(const char** atts)
    {
        inRow_ = true;
        deferred_ = true;
        if (const char* r = attribute(atts, "r")) {
            const auto value = parseUnsigned(r);
            if (!value || *value == 0) {
                fail("row number \"" + std::string(r) + "\" is not valid");
                return;
            }
            if (*value - 1 > kMaxRow) {
                fail("row " + std::string(r) + " is beyond the last row of a sheet (1048576)");
                return;
            }
            deferred_ = false;
            beginRow(static_cast<std::uint32_t>(*value - 1));
        }
        // A <row> without r is the row after the previous one, unless its first cell says
        // otherwise; that is settled at the first cell.
    }

    void endRow()
    {
        inRow_ = false;
        if (deferred_) {
            deferred_ = false;
            ++nextRow_; // an empty row without a number still takes its place
        }
    }

    // Makes `index` the row that cells go to. The same row twice in a row is one row.
    void beginRow(std::uint32_t index)
    {
        nextRow_ = index + 1;
        if (hasPending_ && index == pendingRow_) {
            return;
        }
        deliverPending();
        if (!gather_ && anyDelivered_ && index <= lastDelivered_) {
            throw RowsOutOfOrder{};
        }
        hasPending_ = true;
        pendingRow_ = index;
        lastCol_ = -1;
    }

    void startCell(const char** atts)
    {
        inCell_ = true;
        hasV_ = false;
        hasIs_ = false;
        kind_ = Kind::Number;
        format_ = defaultFormat_;
        CellRef ref;
        bool hasRef = false;
        for (const char** a = atts; a[0] != nullptr; a += 2) {
            const char* attr = localName(a[0]);
            if (attr[0] == '\0' || attr[1] != '\0') {
                continue;
            }
            switch (attr[0]) {
            case 'r':
                switch (parseCellRef(a[1], ref)) {
                case RefStatus::Ok:
                    hasRef = true;
                    break;
                case RefStatus::OutOfRange:
                    fail("cell reference \"" + std::string(a[1]) +
                         "\" is beyond the last cell of a sheet (XFD1048576)");
                    return;
                case RefStatus::Malformed:
                    break; // as if it had none: the next column
                }
                break;
            case 's': {
                const auto xf = parseUnsigned(a[1]);
                if (xf && *xf < book_.xfFormats.size()) {
                    format_ = book_.xfFormats[static_cast<std::size_t>(*xf)];
                }
                break;
            }
            case 't':
                kind_ = kindOf(a[1]);
                break;
            default:
                break;
            }
        }
        if (deferred_) {
            deferred_ = false;
            beginRow(hasRef && ref.row ? *ref.row : nextRow_);
        }
        const std::int64_t col = hasRef ? static_cast<std::int64_t>(ref.col) : lastCol_ + 1;
        if (col > static_cast<std::int64_t>(kMaxCol)) {
            fail("a cell lies beyond the last column of a sheet (XFD)");
            return;
        }
        if (col <= lastCol_) {
            unsorted_ = true;
        }
        col_ = static_cast<std::uint32_t>(col);
        lastCol_ = std::max<std::int64_t>(lastCol_, col);
    }

    void endCell()
    {
        inCell_ = false;
        inV_ = false;
        Cell cell;
        cell.col = col_;
        cell.format = format_;
        cell.type = CellType::Empty;
        switch (kind_) {
        case Kind::Number:
            if (hasV_) {
                if (const auto value = parseNumber(v_)) {
                    cell.type = CellType::Number;
                    cell.number = *value;
                } else if (!v_.empty()) {
                    // Not a number after all: show what the file holds rather than lose it.
                    cell.type = CellType::Text;
                    cell.text = arena_.store(v_);
                }
            }
            break;
        case Kind::Shared:
            if (hasV_) {
                auto index = parseUnsigned(v_);
                if (!index) {
                    // " 3 " or "3.0": still an index, written loosely.
                    const auto loose = parseNumber(v_);
                    if (loose && *loose >= 0 && *loose < 4294967296.0 &&
                        *loose == static_cast<double>(static_cast<std::uint64_t>(*loose))) {
                        index = static_cast<std::uint64_t>(*loose);
                    }
                }
                if (!index || *index >= book_.strings.size()) {
                    fail("a cell refers to shared string \"" + v_ +
                         "\", but the workbook has only " + std::to_string(book_.strings.size()));
                    return;
                }
                cell.type = CellType::Text;
                cell.text = book_.strings.at(static_cast<std::size_t>(*index));
            }
            break;
        case Kind::FormulaText:
        case Kind::Other:
            if (hasV_) {
                cell.type = CellType::Text;
                cell.text = storeUnescaped(v_);
            }
            break;
        case Kind::Inline:
            if (hasIs_) {
                scratch_.clear();
                rich_.appendTo(scratch_);
                cell.type = CellType::Text;
                cell.text = arena_.store(scratch_);
            } else if (hasV_) {
                cell.type = CellType::Text;
                cell.text = storeUnescaped(v_);
            }
            break;
        case Kind::Boolean:
            if (hasV_) {
                if (v_ == "1" || v_ == "true" || v_ == "TRUE") {
                    cell.type = CellType::Boolean;
                    cell.number = 1;
                } else if (v_ == "0" || v_ == "false" || v_ == "FALSE") {
                    cell.type = CellType::Boolean;
                    cell.number = 0;
                } else {
                    cell.type = CellType::Text;
                    cell.text = arena_.store(v_);
                }
            }
            break;
        case Kind::ErrorValue:
            if (hasV_) {
                cell.type = CellType::Error;
                cell.text = arena_.store(v_);
            }
            break;
        case Kind::Date:
            if (hasV_) {
                if (const auto serial = isoDateToSerial(v_, book_.dates)) {
                    cell.type = CellType::Number;
                    cell.number = *serial;
                } else if (!v_.empty()) {
                    cell.type = CellType::Text;
                    cell.text = arena_.store(v_);
                }
            }
            break;
        }
        if (hasPending_) {
            cells_.push_back(cell);
        }
    }

    std::string_view storeUnescaped(const std::string& text)
    {
        if (text.find("_x") == std::string::npos) {
            return arena_.store(text);
        }
        scratch_.clear();
        appendUnescaped(text, scratch_);
        return arena_.store(scratch_);
    }

    // Cells in column order, the last of two in one column winning.
    static void sortCells(std::vector<Cell>& cells)
    {
        std::stable_sort(cells.begin(), cells.end(),
                         [](const Cell& a, const Cell& b) { return a.col < b.col; });
        std::size_t out = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (out > 0 && cells[out - 1].col == cells[i].col) {
                cells[out - 1] = cells[i];
            } else {
                cells[out++] = cells[i];
            }
        }
        cells.resize(out);
    }

    void deliverPending()
    {
        if (!hasPending_) {
            return;
        }
        hasPending_ = false;
        if (gather_) {
            // Texts stay in the arena, which is never reset while gathering.
            auto& row = gathered_[pendingRow_];
            row.insert(row.end(), cells_.begin(), cells_.end());
        } else {
            if (unsorted_) {
                sortCells(cells_);
            }
            sink_.row(pendingRow_, cells_);
            arena_.reset();
        }
        anyDelivered_ = true;
        lastDelivered_ = pendingRow_;
        unsorted_ = false;
        cells_.clear();
    }

    const BookData& book_;
    SheetSink& sink_;
    const bool gather_;
    const NumberFormat* defaultFormat_ = nullptr;

    bool inData_ = false;
    bool inRow_ = false;
    bool deferred_ = false; // in a <row> without r whose number is not settled yet
    bool hasPending_ = false;
    bool anyDelivered_ = false;
    bool unsorted_ = false;
    std::uint32_t pendingRow_ = 0;
    std::uint32_t lastDelivered_ = 0;
    std::uint32_t nextRow_ = 0;
    std::int64_t lastCol_ = -1;
    std::vector<Cell> cells_;
    std::map<std::uint32_t, std::vector<Cell>> gathered_;

    bool inCell_ = false;
    bool inV_ = false;
    bool inIs_ = false;
    bool hasV_ = false;
    bool hasIs_ = false;
    Kind kind_ = Kind::Number;
    std::uint32_t col_ = 0;
    const NumberFormat* format_ = nullptr;
    std::string v_;
    std::string scratch_;
    RichText rich_;
    Arena arena_;
};

// ---------------------------------------------------------------------------------------------

bool isSpreadsheetType(std::string_view type)
{
    // spreadsheetml sheet and template; the macro-enabled kinds and add-ins.
    return endsWith(type, ".main+xml") && (type.find("spreadsheetml") != std::string_view::npos ||
                                           startsWith(type, "application/vnd.ms-excel."));
}

// What a zip that is not a workbook holds, for the message; empty when it may be a workbook.
std::string otherDocument(std::string_view mainType)
{
    if (mainType.find("binary.macroEnabled.main") != std::string_view::npos) {
        return "xlsb";
    }
    if (mainType.find("wordprocessingml") != std::string_view::npos ||
        startsWith(mainType, "application/vnd.ms-word.")) {
        return "a Word document";
    }
    if (mainType.find("presentationml") != std::string_view::npos ||
        startsWith(mainType, "application/vnd.ms-powerpoint.")) {
        return "a PowerPoint presentation";
    }
    if (!mainType.empty() && !isSpreadsheetType(mainType)) {
        return "an Office document of another kind";
    }
    return {};
}

class XlsxBook final : public BookReader {
public:
    XlsxBook(std::unique_ptr<ZipPackage> zip, SheetParser parser) : zip_(std::move(zip))
    {
        load(parser);
    }

    const std::vector<SheetInfo>& sheets() const override { return infos_; }
    std::size_t activeSheet() const override { return active_; }
    DateSystem dateSystem() const override { return book_.dates; }
    bool hasMacros() const override { return macros_; }

    void readSheet(std::size_t index, SheetSink& sink) override
    {
        const SheetEntry& sheet = entries_.at(index);
        if (sheet.part.empty() || !zip_->contains(sheet.part)) {
            zip_->damaged(
                "", "the sheet \"" + sheet.info.name + "\" has no part in the package" +
                        (sheet.part.empty() ? std::string() : " (" + sheet.part + " is missing)"));
        }
        bool gather = gather_.at(index);
        const bool background = zip_->size(sheet.part) >= kBackgroundInflate;
        for (;;) {
            try {
                SheetHandler handler(book_, sink, gather);
                if (scannable_.at(index)) {
                    if (scanPart(*zip_, sheet.part, handler, background)) {
                        handler.finish();
                        return;
                    }
                    // Something the scanner leaves to expat: start over with it, and keep to it
                    // for this sheet's later readings.
                    scannable_[index] = false;
                    sink.restart();
                    continue;
                }
                parsePart(*zip_, sheet.part, handler, background);
                handler.finish();
                return;
            } catch (const RowsOutOfOrder&) {
                if (gather) {
                    throw; // cannot happen: gathering never throws it
                }
                gather = true;
                gather_[index] = true;
                sink.restart();
            }
        }
    }

private:
    void load(SheetParser parser)
    {
        const std::string& path = zip_->displayPath();
        if (zip_->contains("mimetype") && !zip_->contains("[Content_Types].xml")) {
            const std::string type = zip_->size("mimetype") < 256 ? zip_->read("mimetype") : "";
            if (type == "application/vnd.oasis.opendocument.spreadsheet") {
                throw Error(msg::cannotOpen(path, "it is an OpenDocument spreadsheet (.ods), "
                                                  "which this converter does not read"));
            }
            if (startsWith(type, "application/vnd.oasis.opendocument.")) {
                throw Error(msg::notAWorkbook(path, "an OpenDocument file"));
            }
        }
        ContentTypes types;
        types.read(*zip_);

        std::string main;
        for (const auto& rel : readRelationships(*zip_, "")) {
            if (relType(rel.type) == "officeDocument" && !rel.target.empty()) {
                main = rel.target;
                break;
            }
        }
        if (main.empty() && zip_->contains("xl/workbook.xml")) {
            // A package without its root relationships; this is where every writer puts it.
            main = "xl/workbook.xml";
        }
        if (main.empty()) {
            if (zip_->contains("word/document.xml")) {
                throw Error(msg::notAWorkbook(path, "a Word document"));
            }
            if (zip_->contains("ppt/presentation.xml")) {
                throw Error(msg::notAWorkbook(path, "a PowerPoint presentation"));
            }
            throw Error(msg::notAWorkbook(path, "a zip archive"));
        }
        const std::string other = otherDocument(types.of(main));
        if (other == "xlsb" || (other.empty() && endsWith(main, ".bin"))) {
            throw Error(msg::cannotOpen(path, "Excel binary workbooks (.xlsb) are not supported "
                                              "yet"));
        }
        if (!other.empty()) {
            throw Error(msg::notAWorkbook(path, other));
        }
        if (!zip_->contains(main)) {
            zip_->damaged("", "the workbook part " + main + " is missing");
        }

        WorkbookHandler workbook;
        parsePart(*zip_, main, workbook);
        book_.dates = workbook.date1904 ? DateSystem::D1904 : DateSystem::D1900;

        std::string stylesPart;
        std::string stringsPart;
        const auto rels = readRelationships(*zip_, main);
        std::unordered_map<std::string, const Relationship*> byId;
        for (const auto& rel : rels) {
            byId.emplace(rel.id, &rel);
            const std::string_view type = relType(rel.type);
            if (type == "styles") {
                stylesPart = rel.target;
            } else if (type == "sharedStrings") {
                stringsPart = rel.target;
            } else if (type == "vbaProject") {
                macros_ = true;
            }
        }
        macros_ = macros_ || types.anyPartOfType("application/vnd.ms-office.vbaProject");

        const bool relsMissing = !zip_->contains(relsPartOf(main));
        for (auto& entry : workbook.sheets) {
            const auto found = byId.find(entry.relId);
            if (found != byId.end()) {
                entry.part = found->second->target;
                const std::string_view type = relType(found->second->type);
                if (type == "chartsheet") {
                    entry.info.kind = SheetKind::Chart;
                } else if (type == "dialogsheet") {
                    entry.info.kind = SheetKind::Dialog;
                } else if (type == "xlMacrosheet" || type == "xlIntlMacrosheet") {
                    entry.info.kind = SheetKind::Macro;
                } else if (type != "worksheet") {
                    entry.info.kind = SheetKind::Other;
                }
            }
            infos_.push_back(entry.info);
        }
        if (relsMissing) {
            // Without the workbook's relationships, fall back on the names every writer uses.
            for (std::size_t i = 0; i < workbook.sheets.size(); ++i) {
                workbook.sheets[i].part = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
            }
            if (stylesPart.empty() && zip_->contains("xl/styles.xml")) {
                stylesPart = "xl/styles.xml";
            }
            if (stringsPart.empty() && zip_->contains("xl/sharedStrings.xml")) {
                stringsPart = "xl/sharedStrings.xml";
            }
        }
        entries_ = std::move(workbook.sheets);
        gather_.assign(entries_.size(), false);
        scannable_.assign(entries_.size(), parser == SheetParser::Scanner);
        if (entries_.empty()) {
            zip_->damaged(main, "the workbook lists no sheets");
        }
        active_ = workbook.activeTab < entries_.size() ? workbook.activeTab : 0;

        loadStyles(stylesPart);
        if (!stringsPart.empty() && zip_->contains(stringsPart)) {
            SharedStringsHandler handler(book_.strings, zip_->size(stringsPart));
            parsePart(*zip_, stringsPart, handler);
        }
    }

    void loadStyles(const std::string& part)
    {
        if (part.empty() || !zip_->contains(part)) {
            return;
        }
        StylesHandler styles;
        parsePart(*zip_, part, styles);
        std::unordered_map<std::uint32_t, const NumberFormat*> compiled;
        for (const std::uint32_t id : styles.xfNumFmt) {
            auto found = compiled.find(id);
            if (found == compiled.end()) {
                const NumberFormat* format = &NumberFormat::general();
                // A code stored in the file wins over the built-in table, even for ids below 164.
                const auto code = styles.codes.find(id);
                if (code != styles.codes.end() || (id != 0 && id < 164)) {
                    const std::string_view text =
                        code != styles.codes.end()
                            ? std::string_view(code->second)
                            : NumberFormat::builtinCode(static_cast<int>(id));
                    if (text != "General") {
                        auto owned = NumberFormat::compile(text);
                        format = owned.get();
                        book_.owned.push_back(std::move(owned));
                    }
                }
                found = compiled.emplace(id, format).first;
            }
            book_.xfFormats.push_back(found->second);
        }
    }

    std::unique_ptr<ZipPackage> zip_;
    BookData book_;
    std::vector<SheetEntry> entries_;
    std::vector<SheetInfo> infos_;
    std::vector<bool> gather_;
    std::vector<bool> scannable_; // the scanner has not given up on the sheet
    std::size_t active_ = 0;
    bool macros_ = false;
};

} // namespace

std::unique_ptr<BookReader> openFile(const std::string& path, const OpenOptions& /*options*/,
                                     SheetParser parser)
{
    // A password given for a package that is not encrypted is ignored, as the spreadsheet
    // application does; encrypted packages are compound files and go to the xls reader.
    return std::make_unique<XlsxBook>(ZipPackage::openFile(path), parser);
}

std::unique_ptr<BookReader> openMemory(const void* data, std::size_t size,
                                       const std::string& displayPath,
                                       const OpenOptions& /*options*/, SheetParser parser)
{
    return std::make_unique<XlsxBook>(ZipPackage::openMemory(data, size, displayPath), parser);
}

} // namespace sheets::xlsx
