#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/Messages.h"
#include "sheets/xls/Biff.h"
#include "sheets/xls/CompoundFile.h"
#include "sheets/xls/Crypto.h"
#include "sheets/xls/Text.h"
#include "sheets/xls/XlsBook.h"

namespace sheets::xls {

namespace {

constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kBiff5 = 0x0500;
constexpr std::uint16_t kBofGlobals = 0x0005;
constexpr std::uint16_t kBofVbModule = 0x0006;
constexpr std::uint16_t kBofWorksheet = 0x0010;
constexpr std::uint16_t kBofChart = 0x0020;
constexpr std::uint16_t kBofMacro = 0x0040;
constexpr std::size_t kCompactAt = std::size_t{1} << 18;

std::string hex4(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

// "B7" for row 6, column 1 (both 0-based).
std::string cellName(std::uint32_t row, std::uint32_t col)
{
    std::string letters;
    std::uint32_t c = col + 1;
    while (c > 0) {
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
        c = (c - 1) / 26;
    }
    return letters + std::to_string(row + 1);
}

std::string_view errorName(std::uint8_t code)
{
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    case 0x2A:
        return "#N/A";
    case 0x2B:
        return "#GETTING_DATA";
    default:
        return "#N/A";
    }
}

// The data of one record and of the CONTINUE records after it, read as one sequence of bytes,
// except that characters of a string carried over into a CONTINUE record start again with a
// flag byte saying whether they are 8 or 16 bits wide.
class Continued {
public:
    Continued(RecordReader& reader, const std::uint8_t* data, std::size_t size)
        : reader_(reader), p_(data), left_(size)
    {}

    bool byte(std::uint8_t& b)
    {
        if (!ensure()) {
            return false;
        }
        b = *p_++;
        --left_;
        return true;
    }

    bool u16(std::uint16_t& v)
    {
        std::uint8_t lo = 0;
        std::uint8_t hi = 0;
        if (!byte(lo) || !byte(hi)) {
            return false;
        }
        v = static_cast<std::uint16_t>(lo | (hi << 8));
        return true;
    }

    bool u32(std::uint32_t& v)
    {
        std::uint16_t lo = 0;
        std::uint16_t hi = 0;
        if (!u16(lo) || !u16(hi)) {
            return false;
        }
        v = lo | (static_cast<std::uint32_t>(hi) << 16);
        return true;
    }

    bool skip(std::uint64_t n)
    {
        while (n > 0) {
            if (!ensure()) {
                return false;
            }
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, left_));
            p_ += take;
            left_ -= take;
            n -= take;
        }
        return true;
    }

    // True when neither this record nor a CONTINUE after it has bytes left.
    bool atEnd() { return !ensure(); }

    // cch characters, 16-bit wide when high is set, as UTF-8.
    bool chars(std::size_t cch, bool high, std::string& out)
    {
        char16_t pending = 0;
        while (cch > 0) {
            if (left_ == 0) {
                if (!nextSegment()) {
                    finishUtf16(out, pending);
                    return false;
                }
                if (left_ == 0) {
                    continue;
                }
                high = (*p_ & 0x01) != 0;
                ++p_;
                --left_;
                continue;
            }
            if (high) {
                const std::size_t n = std::min(cch, left_ / 2);
                if (n == 0) {
                    // Half a character at the end of a record: nothing sensible to make of it.
                    ++p_;
                    --left_;
                    continue;
                }
                appendUtf16(out, p_, n, pending);
                p_ += 2 * n;
                left_ -= 2 * n;
                cch -= n;
            } else {
                finishUtf16(out, pending);
                const std::size_t n = std::min(cch, left_);
                appendLatin1(out, p_, n);
                p_ += n;
                left_ -= n;
                cch -= n;
            }
        }
        finishUtf16(out, pending);
        return true;
    }

private:
    bool ensure()
    {
        while (left_ == 0) {
            if (!nextSegment()) {
                return false;
            }
        }
        return true;
    }

    bool nextSegment()
    {
        if (reader_.peekType() != rec::Continue) {
            return false;
        }
        Record r;
        reader_.next(r);
        p_ = r.data;
        left_ = r.size;
        return true;
    }

    RecordReader& reader_;
    const std::uint8_t* p_;
    std::size_t left_;
};

class XlsBook final : public BookReader {
public:
    XlsBook(std::unique_ptr<CompoundFile> file, std::unique_ptr<ByteSource> raw, CfbStream stream,
            bool vbaStorage, const OpenOptions& options)
        : file_(std::move(file)), raw_(std::move(raw)), stream_(std::move(stream)),
          reader_(stream_), macros_(vbaStorage)
    {
        readGlobals(options);
        detectSheetKinds();
    }

    const std::vector<SheetInfo>& sheets() const override { return sheets_; }
    std::size_t activeSheet() const override { return active_; }
    DateSystem dateSystem() const override { return dates_; }
    bool hasMacros() const override { return macros_; }
    void readSheet(std::size_t index, SheetSink& sink) override;

private:
    // One cell on its way to the sink. Text lives either elsewhere for the whole read (shared
    // strings, error names) or in arena_, which may move while the row grows.
    struct Pending {
        std::uint32_t row;
        std::uint32_t col;
        std::uint32_t seq;
        CellType type;
        bool inArena;
        const NumberFormat* format;
        double number;
        const char* text;
        std::size_t textOffset;
        std::size_t textLength;
    };

    [[noreturn]] void damaged(const std::string& where, const std::string& detail) const
    {
        throw Error(msg::damaged(stream_.path(), where, detail));
    }
    void readGlobals(const OpenOptions& options);
    void readSst(const Record& r);
    void detectSheetKinds();
    std::string byteString(const std::uint8_t* p, std::size_t n) const;
    const NumberFormat* formatOf(std::uint16_t xf) const
    {
        return xf < xfFormats_.size() ? xfFormats_[xf] : &NumberFormat::general();
    }
    void resolveFormats();

    bool scanOrdered(std::uint64_t start);
    void add(std::uint32_t row, std::uint32_t col, std::uint16_t xf, CellType type,
             double number = 0);
    void addText(std::uint32_t row, std::uint32_t col, std::uint16_t xf, std::string_view text);
    void addArenaText(std::uint32_t row, std::uint32_t col, std::uint16_t xf, std::size_t offset);
    void addError(std::uint32_t row, std::uint32_t col, std::uint16_t xf, std::uint8_t code);
    void addNumber(std::uint32_t row, std::uint32_t col, std::uint16_t xf, double value);
    void flushRows(SheetSink& sink, std::size_t end);
    void compactPending();
    void readCellString(const Record& r, std::size_t at, std::uint32_t row, std::uint32_t col);

    std::unique_ptr<CompoundFile> file_;
    std::unique_ptr<ByteSource> raw_;
    CfbStream stream_;
    RecordReader reader_;
    std::unique_ptr<Decryptor> decryptor_;
    std::unique_ptr<CodePage> codePage_;

    bool biff8_ = true;
    bool macros_ = false;
    DateSystem dates_ = DateSystem::D1900;
    std::size_t active_ = 0;
    std::vector<SheetInfo> sheets_;
    std::vector<std::uint64_t> sheetPos_;

    std::string sstText_;
    std::vector<std::pair<std::size_t, std::size_t>> sst_;

    std::unordered_map<std::uint16_t, std::string> formatCodes_;
    std::vector<std::uint16_t> xfIfmt_;
    std::vector<const NumberFormat*> xfFormats_;
    std::vector<std::shared_ptr<const NumberFormat>> compiled_;

    // Per readSheet call; kept between calls so that their capacity is reused.
    std::string sheetName_;
    std::vector<Pending> pending_;
    std::vector<Cell> cells_;
    std::string arena_;
    std::uint32_t seq_ = 0;
    bool rowSent_ = false;
    std::int64_t lastRowSent_ = -1;
};

std::string XlsBook::byteString(const std::uint8_t* p, std::size_t n) const
{
    std::string out;
    codePage_->append(out, p, n);
    return out;
}

void XlsBook::readGlobals(const OpenOptions& options)
{
    Record r;
    reader_.seek(0);
    if (!reader_.next(r) || r.type != rec::Bof || r.size < 4) {
        throw Error(msg::notAWorkbook(stream_.path(),
                                      "a compound file whose workbook stream holds no workbook"));
    }
    const std::uint16_t version = le16(r.data);
    const std::uint16_t kind = le16(r.data + 2);
    if (version != kBiff8 && version != kBiff5) {
        throw Error(msg::cannotOpen(stream_.path(), "its workbook format (BIFF version 0x" +
                                                        hex4(version) + ") is not supported"));
    }
    biff8_ = version == kBiff8;
    if (kind != kBofGlobals) {
        damaged("the workbook globals", "they are missing from the start of the stream");
    }
    if (!biff8_) {
        // Only BIFF5 has byte strings; until a CODEPAGE record says otherwise they are in the
        // application's default code page. BIFF8 never needs the table.
        codePage_ = std::make_unique<CodePage>(1252);
    }

    bool sawWindow1 = false;
    std::size_t itabCur = 0;
    while (true) {
        if (!reader_.next(r)) {
            damaged("the workbook globals", "they end without their end-of-file record");
        }
        const std::uint8_t* d = r.data;
        switch (r.type) {
        case rec::Eof:
            resolveFormats();
            active_ = itabCur < sheets_.size() ? itabCur : 0;
            return;
        case rec::FilePass:
            decryptor_ = makeDecryptor(d, r.size, biff8_, options.hasPassword, options.password);
            if (decryptor_ == nullptr) {
                throw Error(msg::passwordProtected(stream_.path()));
            }
            reader_.setDecryptor(decryptor_.get());
            break;
        case rec::CodePage:
            if (r.size >= 2 && !biff8_) {
                codePage_ = std::make_unique<CodePage>(le16(d));
            }
            break;
        case rec::DateMode:
            if (r.size >= 2) {
                dates_ = (le16(d) & 1) != 0 ? DateSystem::D1904 : DateSystem::D1900;
            }
            break;
        case rec::Window1:
            if (!sawWindow1 && r.size >= 12) {
                itabCur = le16(d + 10);
                sawWindow1 = true;
            }
            break;
        case rec::BoundSheet: {
            if (r.size < 7) {
                damaged("the workbook globals",
                        "the sheet entry at offset " + std::to_string(r.pos) + " is too short");
            }
            SheetInfo info;
            switch (d[4] & 0x03) {
            case 0:
                info.visibility = Visibility::Visible;
                break;
            case 1:
                info.visibility = Visibility::Hidden;
                break;
            default:
                info.visibility = Visibility::VeryHidden;
                break;
            }
            switch (d[5]) {
            case 0:
                info.kind = SheetKind::Worksheet;
                break;
            case 1:
                info.kind = SheetKind::Macro;
                break;
            case 2:
                info.kind = SheetKind::Chart;
                break;
            case 6:
                info.kind = SheetKind::Other;
                macros_ = true; // a BIFF5 VBA module sheet
                break;
            default:
                info.kind = SheetKind::Other;
                break;
            }
            const std::size_t cch = d[6];
            if (biff8_) {
                if (r.size < 8) {
                    damaged("the workbook globals",
                            "the sheet entry at offset " + std::to_string(r.pos) + " is too short");
                }
                const bool high = (d[7] & 0x01) != 0;
                const std::size_t avail = (r.size - 8u) / (high ? 2 : 1);
                const std::size_t n = std::min(cch, avail);
                if (high) {
                    char16_t pendingUnit = 0;
                    appendUtf16(info.name, d + 8, n, pendingUnit);
                    finishUtf16(info.name, pendingUnit);
                } else {
                    appendLatin1(info.name, d + 8, n);
                }
            } else {
                info.name = byteString(d + 7, std::min<std::size_t>(cch, r.size - 7u));
            }
            sheets_.push_back(std::move(info));
            sheetPos_.push_back(le32(d));
            break;
        }
        case rec::Format: {
            if (r.size < 3) {
                break;
            }
            const std::uint16_t ifmt = le16(d);
            std::string code;
            if (biff8_) {
                if (r.size < 5) {
                    break;
                }
                Continued c(reader_, d + 2, r.size - 2u);
                std::uint16_t cch = 0;
                std::uint8_t flags = 0;
                c.u16(cch);
                c.byte(flags);
                c.chars(cch, (flags & 0x01) != 0, code);
            } else {
                code = byteString(d + 3, std::min<std::size_t>(d[2], r.size - 3u));
            }
            formatCodes_[ifmt] = std::move(code);
            break;
        }
        case rec::Xf:
            if (r.size >= 4) {
                xfIfmt_.push_back(le16(d + 2));
            }
            break;
        case rec::Sst:
            if (biff8_) {
                readSst(r);
            }
            break;
        case rec::ObjProj:
            macros_ = true;
            break;
        default:
            break;
        }
    }
}

void XlsBook::readSst(const Record& r)
{
    Continued c(reader_, r.data, r.size);
    std::uint32_t total = 0;
    std::uint32_t unique = 0;
    if (!c.u32(total) || !c.u32(unique)) {
        damaged("the shared-string table", "it is too short");
    }
    // Every string takes at least three bytes, so the stream's size bounds the count whatever
    // the record claims.
    sst_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(unique, stream_.size() / 3)));
    for (std::uint32_t i = 0; i < unique; ++i) {
        if (c.atEnd()) {
            // Fewer strings than announced: keep those that are there.
            break;
        }
        std::uint16_t cch = 0;
        std::uint8_t flags = 0;
        std::uint16_t runs = 0;
        std::uint32_t ext = 0;
        const std::string where = "it ends inside string ";
        if (!c.u16(cch) || !c.byte(flags) || ((flags & 0x08) != 0 && !c.u16(runs)) ||
            ((flags & 0x04) != 0 && !c.u32(ext))) {
            damaged("the shared-string table", where + std::to_string(i));
        }
        const std::size_t offset = sstText_.size();
        if (!c.chars(cch, (flags & 0x01) != 0, sstText_)) {
            damaged("the shared-string table", where + std::to_string(i));
        }
        sst_.emplace_back(offset, sstText_.size() - offset);
        // Formatting runs and the phonetic block carry nothing we show.
        if (!c.skip(4ull * runs + ext)) {
            break;
        }
    }
}

void XlsBook::resolveFormats()
{
    std::unordered_map<std::string, const NumberFormat*> byCode;
    std::unordered_map<std::uint16_t, const NumberFormat*> byIfmt;
    xfFormats_.reserve(xfIfmt_.size());
    for (const std::uint16_t ifmt : xfIfmt_) {
        auto known = byIfmt.find(ifmt);
        if (known != byIfmt.end()) {
            xfFormats_.push_back(known->second);
            continue;
        }
        auto it = formatCodes_.find(ifmt);
        const std::string code =
            it != formatCodes_.end() ? it->second : std::string(NumberFormat::builtinCode(ifmt));
        const NumberFormat* format = nullptr;
        auto compiled = byCode.find(code);
        if (compiled != byCode.end()) {
            format = compiled->second;
        } else if (code == "General") {
            format = &NumberFormat::general();
            byCode.emplace(code, format);
        } else {
            compiled_.push_back(NumberFormat::compile(code));
            format = compiled_.back().get();
            byCode.emplace(code, format);
        }
        byIfmt.emplace(ifmt, format);
        xfFormats_.push_back(format);
    }
    formatCodes_.clear();
    xfIfmt_.clear();
}

void XlsBook::detectSheetKinds()
{
    // The sheet list says "worksheet" for dialog sheets too; the sheet's own BOF and WSBOOL tell
    // them apart. A sheet whose position is wrong stays as listed: reading it will say so.
    Record r;
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
        SheetInfo& info = sheets_[i];
        if (info.kind != SheetKind::Worksheet || sheetPos_[i] >= stream_.size()) {
            continue;
        }
        reader_.seek(sheetPos_[i]);
        if (!reader_.next(r) || r.type != rec::Bof || r.size < 4) {
            continue;
        }
        switch (le16(r.data + 2)) {
        case kBofChart:
            info.kind = SheetKind::Chart;
            continue;
        case kBofMacro:
            info.kind = SheetKind::Macro;
            continue;
        case kBofVbModule:
            info.kind = SheetKind::Other;
            continue;
        case kBofWorksheet:
            break;
        default:
            continue;
        }
        // WSBOOL comes early, before the dimensions and any cell.
        for (int n = 0; n < 64 && reader_.next(r); ++n) {
            if (r.type == rec::WsBool) {
                if (r.size >= 1 && (r.data[0] & 0x10) != 0) {
                    info.kind = SheetKind::Dialog;
                }
                break;
            }
            if (r.type == rec::Dimensions || r.type == rec::Eof || r.type == rec::Bof) {
                break;
            }
        }
    }
}

bool XlsBook::scanOrdered(std::uint64_t start)
{
    // Rows must reach the sink in order and each only once. Files written by the application
    // are in that order; some other writers put cells down as their user wrote them. Look first,
    // so that only such files pay for sorting the whole sheet.
    Record r;
    reader_.seek(start);
    if (!reader_.next(r)) {
        return true;
    }
    int depth = 1;
    std::int64_t lastRow = -1;
    while (depth > 0 && reader_.next(r)) {
        if (r.type == rec::Bof) {
            ++depth;
            continue;
        }
        if (r.type == rec::Eof) {
            --depth;
            continue;
        }
        if (depth != 1) {
            continue;
        }
        switch (r.type) {
        case rec::Formula:
        case rec::Number:
        case rec::Rk:
        case rec::Label:
        case rec::LabelSst:
        case rec::RString:
        case rec::BoolErr:
        case rec::Blank:
        case rec::MulRk:
        case rec::MulBlank:
            if (r.size >= 2) {
                const std::int64_t row = le16(r.data);
                if (row < lastRow) {
                    return false;
                }
                lastRow = row;
            }
            break;
        default:
            break;
        }
    }
    return true;
}

void XlsBook::add(std::uint32_t row, std::uint32_t col, std::uint16_t xf, CellType type,
                  double number)
{
    pending_.push_back({row, col, seq_++, type, false, formatOf(xf), number, nullptr, 0, 0});
}

void XlsBook::addNumber(std::uint32_t row, std::uint32_t col, std::uint16_t xf, double value)
{
    if (!std::isfinite(value)) {
        // No spreadsheet holds an infinity or a NaN; show what a calculation giving one shows.
        addError(row, col, xf, 0x24);
        return;
    }
    add(row, col, xf, CellType::Number, value);
}

void XlsBook::addText(std::uint32_t row, std::uint32_t col, std::uint16_t xf, std::string_view text)
{
    pending_.push_back(
        {row, col, seq_++, CellType::Text, false, formatOf(xf), 0, text.data(), 0, text.size()});
}

void XlsBook::addArenaText(std::uint32_t row, std::uint32_t col, std::uint16_t xf,
                           std::size_t offset)
{
    pending_.push_back({row, col, seq_++, CellType::Text, true, formatOf(xf), 0, nullptr, offset,
                        arena_.size() - offset});
}

void XlsBook::addError(std::uint32_t row, std::uint32_t col, std::uint16_t xf, std::uint8_t code)
{
    const std::string_view name = errorName(code);
    pending_.push_back(
        {row, col, seq_++, CellType::Error, false, formatOf(xf), 0, name.data(), 0, name.size()});
}

void XlsBook::compactPending()
{
    std::sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
        if (a.row != b.row) {
            return a.row < b.row;
        }
        return a.col != b.col ? a.col < b.col : a.seq < b.seq;
    });
    std::size_t out = 0;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        if (i + 1 < pending_.size() && pending_[i + 1].row == pending_[i].row &&
            pending_[i + 1].col == pending_[i].col) {
            continue; // a later record for the same cell follows
        }
        pending_[out++] = pending_[i];
    }
    pending_.resize(out);
}

// Sends pending_[0, end) to the sink, a row at a time; they are sorted by row already.
void XlsBook::flushRows(SheetSink& sink, std::size_t end)
{
    std::size_t i = 0;
    while (i < end) {
        const std::uint32_t row = pending_[i].row;
        std::size_t j = i;
        bool sorted = true;
        while (j < end && pending_[j].row == row) {
            if (j > i && pending_[j].col <= pending_[j - 1].col) {
                sorted = false;
            }
            ++j;
        }
        auto first = pending_.begin() + static_cast<std::ptrdiff_t>(i);
        auto last = pending_.begin() + static_cast<std::ptrdiff_t>(j);
        if (!sorted) {
            std::sort(first, last, [](const Pending& a, const Pending& b) {
                return a.col != b.col ? a.col < b.col : a.seq < b.seq;
            });
        }
        cells_.clear();
        for (auto it = first; it != last; ++it) {
            // A cell written twice: the later record wins, as it would on screen.
            if (it + 1 != last && (it + 1)->col == it->col) {
                continue;
            }
            Cell cell;
            cell.col = it->col;
            cell.type = it->type;
            cell.format = it->format;
            cell.number = it->number;
            if (it->inArena) {
                cell.text = std::string_view(arena_.data() + it->textOffset, it->textLength);
            } else if (it->text != nullptr) {
                cell.text = std::string_view(it->text, it->textLength);
            }
            cells_.push_back(cell);
        }
        rowSent_ = true;
        lastRowSent_ = row;
        sink.row(row, cells_);
        i = j;
    }
}

void XlsBook::readCellString(const Record& r, std::size_t at, std::uint32_t row, std::uint32_t col)
{
    // A cell's own string (LABEL, RSTRING, or the STRING after a formula): BIFF8 Unicode
    // string with 16-bit length, or a BIFF5 byte string.
    if (biff8_) {
        Continued c(reader_, r.data + at, r.size - at);
        std::uint16_t cch = 0;
        std::uint8_t flags = 0;
        if (!c.u16(cch) || !c.byte(flags) || !c.chars(cch, (flags & 0x01) != 0, arena_)) {
            damaged("sheet '" + sheetName_ + "'",
                    "the text of cell " + cellName(row, col) + " is cut short");
        }
        return;
    }
    if (r.size < at + 2) {
        damaged("sheet '" + sheetName_ + "'",
                "the text of cell " + cellName(row, col) + " is cut short");
    }
    const std::size_t cch = le16(r.data + at);
    if (cch > r.size - at - 2) {
        damaged("sheet '" + sheetName_ + "'",
                "the text of cell " + cellName(row, col) + " is cut short");
    }
    codePage_->append(arena_, r.data + at + 2, cch);
}

void XlsBook::readSheet(std::size_t index, SheetSink& sink)
{
    if (index >= sheets_.size()) {
        throw Error(msg::noSuchSheet(static_cast<std::int64_t>(index) + 1, sheets_.size()));
    }
    sheetName_ = sheets_[index].name;
    const std::uint64_t start = sheetPos_[index];
    const std::string where = "sheet '" + sheetName_ + "'";

    Record r;
    reader_.seek(start);
    if (start >= stream_.size() || !reader_.next(r) || r.type != rec::Bof) {
        damaged(where, "it is not where the workbook says (offset " + std::to_string(start) + ")");
    }
    if (r.size >= 4 && (le16(r.data + 2) == kBofChart || le16(r.data + 2) == kBofVbModule)) {
        // A chart sheet's data caches and a module's records are no cells.
        return;
    }
    const bool ordered = scanOrdered(start);
    reader_.seek(start);
    reader_.next(r);

    pending_.clear();
    arena_.clear();
    seq_ = 0;
    rowSent_ = false;
    lastRowSent_ = -1;

    // A formula whose result is text is followed by a STRING record holding it.
    bool stringDue = false;
    std::uint32_t dueRow = 0;
    std::uint32_t dueCol = 0;
    std::uint16_t dueXf = 0;
    auto settleDue = [&] {
        if (stringDue) {
            addText(dueRow, dueCol, dueXf, {});
            stringDue = false;
        }
    };
    // In order, a row is complete as soon as a cell of a later row shows up.
    auto startCell = [&](std::uint32_t row) {
        settleDue();
        if (ordered && !pending_.empty() && pending_.back().row != row) {
            flushRows(sink, pending_.size());
            pending_.clear();
            arena_.clear();
        }
    };
    auto tooShort = [&](const Record& rr) {
        damaged(where, "record 0x" + hex4(rr.type) + " at offset " + std::to_string(rr.pos) +
                           " is too short");
    };

    // Cells written again and again over the same places must not pile up: now and then keep
    // only the last of each, so memory follows the cells the sheet has, not its records.
    std::size_t compactAt = kCompactAt;
    int depth = 1;
    while (depth > 0) {
        if (!reader_.next(r)) {
            damaged(where, "it ends without its end-of-sheet record");
        }
        if (r.type == rec::Bof) {
            ++depth;
            continue;
        }
        if (r.type == rec::Eof) {
            --depth;
            continue;
        }
        if (depth != 1) {
            continue; // an embedded chart's records
        }
        const std::uint8_t* d = r.data;
        switch (r.type) {
        case rec::Dimensions: {
            if (rowSent_ || !pending_.empty()) {
                break;
            }
            CellRange claimed;
            if (biff8_ && r.size >= 12) {
                const std::uint32_t rwMac = le32(d + 4);
                const std::uint16_t colMac = le16(d + 10);
                if (rwMac > le32(d) && colMac > le16(d + 8)) {
                    claimed = {le32(d), le16(d + 8), rwMac - 1, colMac - 1u};
                    sink.dimension(claimed);
                }
            } else if (!biff8_ && r.size >= 8) {
                const std::uint16_t rwMac = le16(d + 2);
                const std::uint16_t colMac = le16(d + 6);
                if (rwMac > le16(d) && colMac > le16(d + 4)) {
                    claimed = {le16(d), le16(d + 4), rwMac - 1u, colMac - 1u};
                    sink.dimension(claimed);
                }
            }
            break;
        }
        case rec::Number:
            if (r.size < 14) {
                tooShort(r);
            }
            startCell(le16(d));
            addNumber(le16(d), le16(d + 2), le16(d + 4), leDouble(d + 6));
            break;
        case rec::Rk:
            if (r.size < 10) {
                tooShort(r);
            }
            startCell(le16(d));
            addNumber(le16(d), le16(d + 2), le16(d + 4), rkValue(le32(d + 6)));
            break;
        case rec::MulRk: {
            if (r.size < 6) {
                tooShort(r);
            }
            startCell(le16(d));
            const std::uint32_t row = le16(d);
            const std::uint32_t col = le16(d + 2);
            const std::size_t n = (r.size - 6u) / 6;
            for (std::size_t k = 0; k < n; ++k) {
                const std::uint8_t* e = d + 4 + 6 * k;
                addNumber(row, col + static_cast<std::uint32_t>(k), le16(e), rkValue(le32(e + 2)));
            }
            break;
        }
        case rec::LabelSst: {
            if (r.size < 10) {
                tooShort(r);
            }
            startCell(le16(d));
            const std::uint32_t isst = le32(d + 6);
            if (isst >= sst_.size()) {
                damaged(where, "cell " + cellName(le16(d), le16(d + 2)) +
                                   " refers to shared string " + std::to_string(isst) +
                                   ", but the table holds " + std::to_string(sst_.size()));
            }
            const auto& s = sst_[isst];
            addText(le16(d), le16(d + 2), le16(d + 4),
                    std::string_view(sstText_.data() + s.first, s.second));
            break;
        }
        case rec::Label:
        case rec::RString: {
            if (r.size < 8) {
                tooShort(r);
            }
            startCell(le16(d));
            const std::uint32_t row = le16(d);
            const std::uint32_t col = le16(d + 2);
            const std::uint16_t xf = le16(d + 4);
            const std::size_t offset = arena_.size();
            readCellString(r, 6, row, col);
            addArenaText(row, col, xf, offset);
            break;
        }
        case rec::BoolErr:
            if (r.size < 8) {
                tooShort(r);
            }
            startCell(le16(d));
            if (d[7] != 0) {
                addError(le16(d), le16(d + 2), le16(d + 4), d[6]);
            } else {
                add(le16(d), le16(d + 2), le16(d + 4), CellType::Boolean, d[6] != 0 ? 1 : 0);
            }
            break;
        case rec::Blank:
            if (r.size < 6) {
                tooShort(r);
            }
            startCell(le16(d));
            add(le16(d), le16(d + 2), le16(d + 4), CellType::Empty);
            break;
        case rec::MulBlank: {
            if (r.size < 6) {
                tooShort(r);
            }
            startCell(le16(d));
            const std::uint32_t row = le16(d);
            const std::uint32_t col = le16(d + 2);
            const std::size_t n = (r.size - 6u) / 2;
            for (std::size_t k = 0; k < n; ++k) {
                add(row, col + static_cast<std::uint32_t>(k), le16(d + 4 + 2 * k), CellType::Empty);
            }
            break;
        }
        case rec::Formula: {
            if (r.size < 14) {
                tooShort(r);
            }
            startCell(le16(d));
            const std::uint32_t row = le16(d);
            const std::uint32_t col = le16(d + 2);
            const std::uint16_t xf = le16(d + 4);
            if (le16(d + 12) != 0xFFFF) {
                addNumber(row, col, xf, leDouble(d + 6));
                break;
            }
            switch (d[6]) {
            case 0:
                stringDue = true;
                dueRow = row;
                dueCol = col;
                dueXf = xf;
                break;
            case 1:
                add(row, col, xf, CellType::Boolean, d[8] != 0 ? 1 : 0);
                break;
            case 2:
                addError(row, col, xf, d[8]);
                break;
            case 3:
                addText(row, col, xf, {});
                break;
            default:
                add(row, col, xf, CellType::Empty);
                break;
            }
            break;
        }
        case rec::String:
            if (stringDue) {
                stringDue = false;
                const std::size_t offset = arena_.size();
                readCellString(r, 0, dueRow, dueCol);
                addArenaText(dueRow, dueCol, dueXf, offset);
            }
            break;
        case rec::MergeCells: {
            if (r.size < 2) {
                break;
            }
            const std::size_t n = std::min<std::size_t>(le16(d), (r.size - 2u) / 8);
            for (std::size_t k = 0; k < n; ++k) {
                const std::uint8_t* m = d + 2 + 8 * k;
                const CellRange range{le16(m), le16(m + 4), le16(m + 2), le16(m + 6)};
                if (range.lastRow >= range.firstRow && range.lastCol >= range.firstCol) {
                    sink.merge(range);
                }
            }
            break;
        }
        default:
            break;
        }
        if (pending_.size() >= compactAt) {
            compactPending();
            compactAt = std::max(kCompactAt, 2 * pending_.size());
        }
    }
    settleDue();
    if (!ordered) {
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Pending& a, const Pending& b) { return a.row < b.row; });
    }
    flushRows(sink, pending_.size());
    pending_.clear();
    arena_.clear();
}

} // namespace

std::unique_ptr<BookReader> openCompound(std::unique_ptr<CompoundFile> file,
                                         const OpenOptions& options)
{
    // The application saves an encrypted .xlsx as a compound file holding the encrypted zip
    // package, whatever password was used.
    if (file->rootChild("EncryptedPackage") != nullptr) {
        throw Error(msg::passwordProtected(file->source().path()));
    }
    const CompoundFile::Entry* book = file->rootChild("Workbook");
    if (book == nullptr || book->type != CompoundFile::EntryType::Stream) {
        book = file->rootChild("Book");
    }
    if (book == nullptr || book->type != CompoundFile::EntryType::Stream) {
        struct Known {
            const char* stream;
            const char* what;
        };
        static constexpr Known kOthers[] = {
            {"WordDocument", "a Word document"},
            {"PowerPoint Document", "a PowerPoint presentation"},
            {"VisioDocument", "a Visio drawing"},
            {"__properties_version1.0", "an Outlook message"},
        };
        for (const Known& k : kOthers) {
            if (file->rootChild(k.stream) != nullptr) {
                throw Error(msg::notAWorkbook(file->source().path(), k.what));
            }
        }
        throw Error(
            msg::notAWorkbook(file->source().path(), "a compound file without a workbook stream"));
    }
    const bool vba = file->rootChild("_VBA_PROJECT_CUR") != nullptr ||
                     file->rootChild("_VBA_PROJECT") != nullptr;
    CfbStream stream = file->openStream(*book);
    return std::make_unique<XlsBook>(std::move(file), nullptr, std::move(stream), vba, options);
}

std::unique_ptr<BookReader> openBiffStream(std::unique_ptr<ByteSource> source,
                                           const OpenOptions& options)
{
    const std::uint64_t size = source->size();
    std::vector<CfbStream::Extent> extents;
    // One extent per 2 GiB keeps each run's length within 32 bits.
    for (std::uint64_t pos = 0; pos < size; pos += 0x7FFFFFFFu) {
        extents.push_back(
            {pos, pos,
             static_cast<std::uint32_t>(std::min<std::uint64_t>(0x7FFFFFFFu, size - pos))});
    }
    CfbStream stream(source.get(), std::move(extents), size);
    return std::make_unique<XlsBook>(nullptr, std::move(source), std::move(stream), false, options);
}

} // namespace sheets::xls

namespace sheets {

std::unique_ptr<BookReader> openXls(const std::string& path, const OpenOptions& options)
{
    return xls::openCompound(std::make_unique<xls::CompoundFile>(xls::openFileSource(path)),
                             options);
}

} // namespace sheets
