#include "sheets/xlsx/XmlScanner.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sheets/xlsx/ZipPackage.h"

namespace sheets::xlsx {

namespace {

using Table = std::array<bool, 256>;

// Bytes that end a plain run of text: markup, references, line ends to normalise, a ">" that
// may close a forbidden "]]>", control characters and the start of a multi-byte character.
constexpr Table kTextStop = [] {
    Table t{};
    for (int c = 0; c < 256; ++c) {
        t[c] =
            (c < 0x20 && c != '\t' && c != '\n') || c >= 0x80 || c == '<' || c == '&' || c == '>';
    }
    return t;
}();

// The same in an attribute value, where every whitespace character becomes a space and
// either quote may end the value.
constexpr Table kValueStop = [] {
    Table t{};
    for (int c = 0; c < 256; ++c) {
        t[c] = c < 0x20 || c >= 0x80 || c == '<' || c == '&' || c == '"' || c == '\'';
    }
    return t;
}();

// Names in ASCII only; expat takes the rest of Unicode's name characters too, and gets the
// part when one shows up. Colons are name characters: namespaces are not processed.
constexpr Table kNameStart = [] {
    Table t{};
    for (int c = 0; c < 256; ++c) {
        t[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
    }
    return t;
}();

constexpr Table kNameChar = [] {
    Table t = kNameStart;
    for (int c = 0; c < 256; ++c) {
        t[c] = t[c] || (c >= '0' && c <= '9') || c == '.' || c == '-';
    }
    return t;
}();

constexpr Table kSpace = [] {
    Table t{};
    t[' '] = t['\t'] = t['\n'] = t['\r'] = true;
    return t;
}();

inline unsigned char byte(char c)
{
    return static_cast<unsigned char>(c);
}

inline bool isSpace(char c)
{
    return kSpace[byte(c)];
}

inline const char* skipSpace(const char* p, const char* end)
{
    while (p < end && isSpace(*p)) {
        ++p;
    }
    return p;
}

inline const char* skipName(const char* p, const char* end)
{
    while (p < end && kNameChar[byte(*p)]) {
        ++p;
    }
    return p;
}

// Compares short names; memcmp's call costs more than the loop.
inline bool sameName(const char* a, const char* b, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

constexpr int kIncomplete = -1;

// The length of the UTF-8 character at p (a byte of 0x80 or more) when it is one XML allows:
// well-formed, no surrogate, not U+FFFE or U+FFFF. 0 when it is not, kIncomplete when the
// bytes end inside it.
int characterLength(const char* p, const char* end)
{
    const unsigned char lead = byte(p[0]);
    int size = 0;
    unsigned char low = 0x80; // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (end - p < size) {
        return kIncomplete;
    }
    const unsigned char second = byte(p[1]);
    if (second < low || second > high) {
        return 0;
    }
    for (int i = 2; i < size; ++i) {
        if ((byte(p[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    if (lead == 0xEF && second == 0xBF && (byte(p[2]) == 0xBE || byte(p[2]) == 0xBF)) {
        return 0;
    }
    return size;
}

bool allowedCharacter(std::uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool startsWith(const char* p, const char* end, std::string_view prefix)
{
    return static_cast<std::size_t>(end - p) >= prefix.size() &&
           std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

// A reference longer than this ("&#x0000000041;" is one) is left to expat.
constexpr std::ptrdiff_t kMaxReference = 16;

} // namespace

XmlScanner::Bytes::Bytes() : data_(new char[256]), capacity_(256) {}

void XmlScanner::Bytes::grow(std::size_t n)
{
    const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
    std::unique_ptr<char[]> data(new char[capacity]);
    std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
}

XmlScanner::XmlScanner(XmlHandler& handler) : handler_(handler)
{
    attach(handler_, this);
    starts_.reserve(16);
    attrs_.reserve(16);
    atts_.reserve(33);
}

XmlScanner::~XmlScanner()
{
    attach(handler_, nullptr);
}

void XmlScanner::fail(std::string /*detail*/)
{
    // Expat reads the part again and reports it, with the line.
    failed_ = true;
}

bool XmlScanner::feed(std::span<const char> chunk)
{
    if (gaveUp_) {
        return false;
    }
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    // A token cut at the end of the last chunk is completed from this one, a little at a time,
    // so that a short tag does not copy a whole chunk.
    while (!carry_.empty()) {
        if (p == end) {
            return true;
        }
        const std::size_t old = carry_.size();
        const auto take =
            std::min(static_cast<std::size_t>(end - p), std::max<std::size_t>(old, 64));
        carry_.append(p, take);
        const char* window = carry_.data();
        const char* stop = process(window, window + carry_.size(), false);
        if (gaveUp_) {
            return false;
        }
        const auto used = static_cast<std::size_t>(stop - window);
        if (used >= old) {
            p += used - old;
            carry_.clear();
            break;
        }
        carry_.erase(0, used);
        p += take;
        if (carry_.size() > kMaxCarry) {
            giveUp();
            return false;
        }
    }
    if (p < end) {
        const char* stop = process(p, end, false);
        if (gaveUp_) {
            return false;
        }
        if (static_cast<std::size_t>(end - stop) > kMaxCarry) {
            giveUp();
            return false;
        }
        carry_.assign(stop, end);
    }
    return true;
}

bool XmlScanner::finish()
{
    if (gaveUp_) {
        return false;
    }
    if (!carry_.empty()) {
        const char* window = carry_.data();
        const char* end = window + carry_.size();
        if (process(window, end, true) != end) {
            giveUp();
        }
    }
    return !gaveUp_ && where_ == Where::Epilog;
}

// Handles every whole token in [p, end) and returns where the first one that is cut off
// starts; nullptr when it gave up. With final, nothing follows: a cut token is an error.
const char* XmlScanner::process(const char* p, const char* end, bool final)
{
    window_ = p;
    if (where_ == Where::Start) {
        const char* next = start(p, end, final);
        if (next == nullptr) {
            return gaveUp_ || final ? giveUp() : p;
        }
        p = next;
    }
    while (p < end) {
        if (*p == '<') {
            if (end - p < 2) {
                return final ? giveUp() : p;
            }
            const char* next = nullptr;
            if (p[1] == '/') {
                next = endTag(p, end);
            } else if (kNameStart[byte(p[1])]) {
                next = startTag(p, end);
            } else {
                return giveUp(); // a comment, CDATA, a DOCTYPE, a processing instruction
            }
            if (next == nullptr) {
                return gaveUp_ || final ? giveUp() : p;
            }
            p = next;
        } else if (where_ == Where::Content) {
            const char* next = text(p, end, final);
            if (next == nullptr || next == p) {
                return next;
            }
            p = next;
        } else {
            // Outside the root element only whitespace may stand.
            p = skipSpace(p, end);
            if (p < end && *p != '<') {
                return giveUp();
            }
        }
    }
    return p;
}

// A byte-order mark and the XML declaration, both optional.
const char* XmlScanner::start(const char* p, const char* end, bool final)
{
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    const auto available = static_cast<std::size_t>(end - p);
    if (available < bom.size() && !final &&
        std::string_view(p, available) == bom.substr(0, available)) {
        return nullptr;
    }
    if (startsWith(p, end, bom)) {
        p += bom.size();
    }
    constexpr std::string_view open = "<?xml";
    if (static_cast<std::size_t>(end - p) <= open.size() && !final) {
        return nullptr; // too little to tell
    }
    if (startsWith(p, end, open) && end - p > 5 && isSpace(p[5])) {
        p = declaration(p, end);
        if (p == nullptr) {
            return nullptr;
        }
    }
    where_ = Where::Prolog;
    return p;
}

// <?xml version="1.0" encoding="UTF-8" standalone="yes"?>: version 1.0 and UTF-8 only, the
// rest is for expat.
const char* XmlScanner::declaration(const char* p, const char* end)
{
    const char* close = nullptr;
    for (const char* q = p; q + 1 < end; ++q) {
        if (q[0] == '?' && q[1] == '>') {
            close = q;
            break;
        }
    }
    if (close == nullptr) {
        return end - p > 256 ? giveUp() : nullptr;
    }
    const char* q = p + 5;
    // One pseudo-attribute: its name, "=", its value in either quote.
    auto pseudo = [&](std::string_view name, std::string_view& value) {
        const char* at = skipSpace(q, close);
        if (at == q || !startsWith(at, close, name)) {
            return false;
        }
        at = skipSpace(at + name.size(), close);
        if (at == close || *at != '=') {
            return false;
        }
        at = skipSpace(at + 1, close);
        if (at == close || (*at != '"' && *at != '\'')) {
            return false;
        }
        const char quote = *at;
        const char* valueEnd = std::find(at + 1, close, quote);
        if (valueEnd == close) {
            return false;
        }
        value = std::string_view(at + 1, static_cast<std::size_t>(valueEnd - at - 1));
        q = valueEnd + 1;
        return true;
    };
    std::string_view value;
    if (!pseudo("version", value) || value != "1.0") {
        return giveUp();
    }
    if (pseudo("encoding", value)) {
        if (value.size() != 5 || (value[0] | 0x20) != 'u' || (value[1] | 0x20) != 't' ||
            (value[2] | 0x20) != 'f' || value.substr(3) != "-8") {
            return giveUp();
        }
    }
    if (pseudo("standalone", value) && value != "yes" && value != "no") {
        return giveUp();
    }
    if (skipSpace(q, close) != close) {
        return giveUp();
    }
    return close + 2;
}

const char* XmlScanner::startTag(const char* p, const char* end)
{
    if (where_ == Where::Epilog) {
        return giveUp(); // a second root element
    }
    const char* name = p + 1;
    const char* q = skipName(name, end);
    if (q == end) {
        return nullptr;
    }
    const auto nameSize = static_cast<std::size_t>(q - name);
    tag_.clear();
    attrs_.clear();
    bool empty = false;
    for (;;) {
        const char* before = q;
        q = skipSpace(q, end);
        if (q == end) {
            return nullptr;
        }
        if (*q == '>') {
            ++q;
            break;
        }
        if (*q == '/') {
            if (end - q < 2) {
                return nullptr;
            }
            if (q[1] != '>') {
                return giveUp();
            }
            q += 2;
            empty = true;
            break;
        }
        if (q == before || !kNameStart[byte(*q)]) {
            return giveUp(); // attributes are set apart by whitespace
        }
        const char* attr = q;
        q = skipName(q, end);
        if (q == end) {
            return nullptr;
        }
        const auto attrSize = static_cast<std::uint32_t>(q - attr);
        q = skipSpace(q, end);
        if (q == end) {
            return nullptr;
        }
        if (*q != '=') {
            return giveUp();
        }
        q = skipSpace(q + 1, end);
        if (q == end) {
            return nullptr;
        }
        const char quote = *q;
        if (quote != '"' && quote != '\'') {
            return giveUp();
        }
        for (const Attribute& other : attrs_) {
            if (other.nameSize == attrSize && sameName(tag_.data() + other.name, attr, attrSize)) {
                return giveUp(); // expat: "duplicate attribute"
            }
        }
        const auto nameAt = static_cast<std::uint32_t>(tag_.size());
        tag_.append(attr, attrSize);
        tag_.push('\0');
        const auto valueAt = static_cast<std::uint32_t>(tag_.size());
        q = attributeValue(q + 1, end, quote);
        if (q == nullptr) {
            return nullptr;
        }
        attrs_.push_back({nameAt, attrSize, valueAt});
    }

    // The whole tag is here: over to the handler. The name goes on the stack of open elements
    // (for a moment only, when the element is empty), where it is NUL-ended for the handler.
    atts_.clear();
    for (const Attribute& attribute : attrs_) {
        atts_.push_back(tag_.data() + attribute.name);
        atts_.push_back(tag_.data() + attribute.value);
    }
    atts_.push_back(nullptr);
    if (where_ == Where::Prolog) {
        where_ = Where::Content;
    }
    const auto at = static_cast<std::uint32_t>(open_.size());
    open_.append(name, nameSize);
    open_.push('\0');
    const char* local = localName(open_.data() + at);
    handler_.startElement(local, atts_.data());
    if (failed_) {
        return giveUp();
    }
    if (!empty) {
        starts_.push_back(at);
        return q;
    }
    handler_.endElement(local);
    if (failed_) {
        return giveUp();
    }
    open_.shrink(at);
    if (starts_.empty()) {
        where_ = Where::Epilog;
    }
    return q;
}

const char* XmlScanner::endTag(const char* p, const char* end)
{
    if (starts_.empty()) {
        return giveUp();
    }
    const char* name = p + 2;
    const char* q = skipName(name, end);
    if (q == end) {
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(q - name);
    q = skipSpace(q, end);
    if (q == end) {
        return nullptr;
    }
    const std::uint32_t at = starts_.back();
    if (*q != '>' || size != open_.size() - at - 1 || !sameName(open_.data() + at, name, size)) {
        return giveUp(); // not the element that is open
    }
    handler_.endElement(localName(open_.data() + at));
    if (failed_) {
        return giveUp();
    }
    open_.shrink(at);
    starts_.pop_back();
    if (starts_.empty()) {
        where_ = Where::Epilog;
    }
    return q + 1;
}

// Reads an attribute value after its opening quote into tag_, NUL-ended, normalised as XML
// says for an attribute without a declaration: references replaced, each whitespace character
// (a CR LF pair as one) a space.
const char* XmlScanner::attributeValue(const char* q, const char* end, char quote)
{
    for (;;) {
        const char* run = q;
        while (q < end && !kValueStop[byte(*q)]) {
            ++q;
        }
        tag_.append(run, static_cast<std::size_t>(q - run));
        if (q == end) {
            return nullptr;
        }
        const char c = *q;
        if (c == quote) {
            tag_.push('\0');
            return q + 1;
        }
        switch (c) {
        case '"':
        case '\'':
            tag_.push(c);
            ++q;
            break;
        case '\t':
        case '\n':
            tag_.push(' ');
            ++q;
            break;
        case '\r':
            if (end - q < 2) {
                return nullptr;
            }
            tag_.push(' ');
            q += q[1] == '\n' ? 2 : 1;
            break;
        case '&': {
            char decoded[4];
            std::size_t size = 0;
            const char* after = reference(q, end, decoded, size);
            if (after == nullptr) {
                return nullptr;
            }
            tag_.append(decoded, size);
            q = after;
            break;
        }
        default: {
            if (byte(c) < 0x80) {
                return giveUp(); // "<" or a control character
            }
            const int size = characterLength(q, end);
            if (size == kIncomplete) {
                return nullptr;
            }
            if (size == 0) {
                return giveUp();
            }
            tag_.append(q, static_cast<std::size_t>(size));
            q += size;
            break;
        }
        }
    }
}

// Text inside the root element, up to the next "<". Returns where it stopped: at the "<", or
// before something cut off at the end; nullptr when it gave up.
const char* XmlScanner::text(const char* p, const char* end, bool final)
{
    const char* run = p;
    const char* q = p;
    auto flush = [&](const char* upTo) {
        if (upTo > run) {
            handler_.characters(std::string_view(run, static_cast<std::size_t>(upTo - run)));
        }
    };
    for (;;) {
        while (q < end && !kTextStop[byte(*q)]) {
            ++q;
        }
        if (q == end) {
            break;
        }
        const char c = *q;
        if (c == '<') {
            flush(q);
            return failed_ ? giveUp() : q;
        }
        if (c == '>') {
            // "]]>" may not stand in text. A "]" at the end of a chunk is held over, so both
            // brackets are in this window when they are there at all.
            if (q - window_ >= 2 && q[-1] == ']' && q[-2] == ']') {
                return giveUp();
            }
            ++q;
            continue;
        }
        if (c == '&') {
            flush(q);
            char decoded[4];
            std::size_t size = 0;
            const char* after = reference(q, end, decoded, size);
            if (after == nullptr) {
                return gaveUp_ || final || failed_ ? giveUp() : q;
            }
            handler_.characters(std::string_view(decoded, size));
            q = after;
            run = q;
            continue;
        }
        if (c == '\r') {
            if (end - q < 2 && !final) {
                break; // is it CR LF? The next chunk tells.
            }
            flush(q);
            handler_.characters("\n");
            q += end - q >= 2 && q[1] == '\n' ? 2 : 1;
            run = q;
            continue;
        }
        if (byte(c) < 0x80) {
            return giveUp(); // a control character
        }
        const int size = characterLength(q, end);
        if (size == 0 || (size == kIncomplete && final)) {
            return giveUp();
        }
        if (size == kIncomplete) {
            break;
        }
        q += size;
    }
    // Cut off by the end of the bytes (or before a character or CR that is): hold over any
    // "]" at the end for the "]]>" test.
    const char* stop = q;
    if (stop == end && !final) {
        while (stop > run && stop[-1] == ']') {
            --stop;
        }
    }
    flush(stop);
    return failed_ ? giveUp() : stop;
}

// Decodes the reference at p ("&..."). nullptr when it is cut off (gaveUp_ unset) or not one
// the scanner knows (gaveUp_ set): an undefined entity, a character XML does not allow.
const char* XmlScanner::reference(const char* p, const char* end, char (&out)[4], std::size_t& size)
{
    const char* limit = end - p > kMaxReference ? p + kMaxReference : end;
    const char* semicolon = std::find(p + 1, limit, ';');
    if (semicolon == limit) {
        return limit == end ? nullptr : giveUp();
    }
    const std::string_view name(p + 1, static_cast<std::size_t>(semicolon - p - 1));
    char c = 0;
    if (name == "lt") {
        c = '<';
    } else if (name == "gt") {
        c = '>';
    } else if (name == "amp") {
        c = '&';
    } else if (name == "quot") {
        c = '"';
    } else if (name == "apos") {
        c = '\'';
    }
    if (c != 0) {
        out[0] = c;
        size = 1;
        return semicolon + 1;
    }
    if (name.size() < 2 || name[0] != '#') {
        return giveUp();
    }
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) {
        return giveUp();
    }
    std::uint32_t value = 0;
    for (const char d : digits) {
        int digit = -1;
        if (d >= '0' && d <= '9') {
            digit = d - '0';
        } else if (hex && d >= 'a' && d <= 'f') {
            digit = d - 'a' + 10;
        } else if (hex && d >= 'A' && d <= 'F') {
            digit = d - 'A' + 10;
        }
        if (digit < 0) {
            return giveUp();
        }
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        if (value > 0x10FFFF) {
            return giveUp();
        }
    }
    if (!allowedCharacter(value)) {
        return giveUp();
    }
    size = encodeUtf8(value, out);
    return semicolon + 1;
}

bool scanPart(ZipPackage& package, std::string_view part, XmlHandler& handler, bool background)
{
    XmlScanner scanner(handler);
    const auto source = package.stream(part, background);
    for (;;) {
        const auto chunk = source->next();
        if (chunk.empty()) {
            return scanner.finish();
        }
        if (!scanner.feed(chunk)) {
            return false;
        }
    }
}

} // namespace sheets::xlsx
