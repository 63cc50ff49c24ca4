#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/numfmt/Format.h"

namespace sheets::numfmt {

namespace {

// ---------------------------------------------------------------------------------------------
// Lexing: a section's code becomes a list of raw tokens whose meaning (number, fraction, date)
// is only settled once the whole section has been seen.

enum class Raw : unsigned char {
    Literal,
    Placeholder, // 0 # ?
    Point,
    Comma,
    Percent,
    Exponent, // E+ E- e+ e-
    Slash,
    Digit, // 1-9 outside quotes (fixed denominators)
    At,
    General,
    DatePart, // a run of y m d h s e b g, letter in `letter`, run length in `count`
    Elapsed,  // [h] [mm] [ss]...
    AmPm,
    AP,
};

struct RawToken {
    Raw kind = Raw::Literal;
    char letter = 0; // Placeholder: the char; DatePart/Elapsed: lower-case letter; AP: 'A'/'a'
    int count = 0;
    std::string text; // the source text, or the literal's text
};

bool isLower(char c, char lower)
{
    return c == lower || c == static_cast<char>(lower - 32);
}

char toLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithNoCase(std::string_view s, std::size_t at, std::string_view word)
{
    if (s.size() - at < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (toLower(s[at + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// Length of the UTF-8 character starting at s[i] (1 for a stray continuation byte).
std::size_t charLength(std::string_view s, std::size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (c >= 0xF0) {
        n = 4;
    } else if (c >= 0xE0) {
        n = 3;
    } else if (c >= 0xC0) {
        n = 2;
    }
    return i + n <= s.size() ? n : s.size() - i;
}

// The spreadsheet's own en-US stand-ins for the system date and time formats.
constexpr std::string_view kSystemLongDate = "dddd, mmmm d, yyyy";
constexpr std::string_view kSystemTime = "h:mm:ss AM/PM";

struct LexedSection {
    std::vector<RawToken> tokens;
    Condition condition;
    bool onlyAttributes = false;  // nothing but [Red], [$-409] and the like
    std::string_view replacement; // a system date/time tag replaces the section's own tokens
};

class Lexer {
public:
    explicit Lexer(LexedSection& out) : out_(out) {}

    void run(std::string_view s)
    {
        std::size_t i = 0;
        bool sawAttribute = false;
        while (i < s.size()) {
            const char c = s[i];
            switch (c) {
            case '"': {
                const std::size_t close = s.find('"', i + 1);
                const std::size_t end = close == std::string_view::npos ? s.size() : close;
                literal(s.substr(i + 1, end - i - 1));
                i = close == std::string_view::npos ? s.size() : close + 1;
                break;
            }
            case '\\': {
                if (i + 1 < s.size()) {
                    const std::size_t n = charLength(s, i + 1);
                    literal(s.substr(i + 1, n));
                    i += 1 + n;
                } else {
                    ++i;
                }
                break;
            }
            case '_':
                // Room for the next character's width: one space in a text file.
                literal(" ");
                i += 1 + (i + 1 < s.size() ? charLength(s, i + 1) : 0);
                break;
            case '*':
                // Repeat the next character to fill the cell: nothing in a text file.
                i += 1 + (i + 1 < s.size() ? charLength(s, i + 1) : 0);
                break;
            case '[': {
                const std::size_t close = s.find(']', i + 1);
                if (close == std::string_view::npos) {
                    i = s.size(); // an unclosed bracket: the rest cannot be read
                    sawAttribute = true;
                    break;
                }
                bracket(s.substr(i + 1, close - i - 1));
                sawAttribute = true;
                i = close + 1;
                break;
            }
            case '0':
            case '#':
            case '?':
                push(Raw::Placeholder, std::string(1, c), c);
                ++i;
                break;
            case '.':
                push(Raw::Point, ".");
                ++i;
                break;
            case ',':
                push(Raw::Comma, ",");
                ++i;
                break;
            case '%':
                push(Raw::Percent, "%");
                ++i;
                break;
            case '/':
                push(Raw::Slash, "/");
                ++i;
                break;
            case '@':
                push(Raw::At, "@");
                ++i;
                break;
            default:
                i = other(s, i);
                break;
            }
        }
        out_.onlyAttributes = sawAttribute && out_.tokens.empty() && out_.replacement.empty();
    }

private:
    LexedSection& out_;

    void push(Raw kind, std::string text, char letter = 0, int count = 0)
    {
        RawToken t;
        t.kind = kind;
        t.letter = letter;
        t.count = count;
        t.text = std::move(text);
        out_.tokens.push_back(std::move(t));
    }

    void literal(std::string_view text)
    {
        if (!out_.tokens.empty() && out_.tokens.back().kind == Raw::Literal) {
            out_.tokens.back().text.append(text);
            return;
        }
        push(Raw::Literal, std::string(text));
    }

    std::size_t other(std::string_view s, std::size_t i)
    {
        const char c = s[i];
        if (c >= '1' && c <= '9') {
            push(Raw::Digit, std::string(1, c), c);
            return i + 1;
        }
        if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            push(Raw::Exponent, std::string(s.substr(i, 2)), s[i + 1]);
            return i + 2;
        }
        if ((c == 'G' || c == 'g') && startsWithNoCase(s, i, "general")) {
            push(Raw::General, std::string(s.substr(i, 7)));
            return i + 7;
        }
        if (c == 'A' || c == 'a') {
            if (startsWithNoCase(s, i, "am/pm")) {
                push(Raw::AmPm, std::string(s.substr(i, 5)));
                return i + 5;
            }
            if (startsWithNoCase(s, i, "a/p")) {
                push(Raw::AP, std::string(s.substr(i, 3)), c);
                return i + 3;
            }
        }
        if ((c == 'B' || c == 'b') && i + 1 < s.size() && (s[i + 1] == '1' || s[i + 1] == '2')) {
            return i + 2; // calendar choice (Gregorian / Hijri): shown in Gregorian here
        }
        const char lower = toLower(c);
        if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's' ||
            lower == 'e' || lower == 'b' || lower == 'g') {
            std::size_t j = i;
            while (j < s.size() && isLower(s[j], lower)) {
                ++j;
            }
            push(Raw::DatePart, std::string(s.substr(i, j - i)), lower, static_cast<int>(j - i));
            return j;
        }
        const std::size_t n = charLength(s, i);
        literal(s.substr(i, n));
        return i + n;
    }

    void bracket(std::string_view b)
    {
        if (b.empty()) {
            return;
        }
        if (b[0] == '$') {
            currency(b.substr(1));
            return;
        }
        if (b[0] == '<' || b[0] == '>' || b[0] == '=') {
            condition(b);
            return;
        }
        const char lower = toLower(b[0]);
        if (lower == 'h' || lower == 'm' || lower == 's') {
            bool same = true;
            for (char c : b) {
                same = same && isLower(c, lower);
            }
            if (same) {
                // Built up piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
                // "[" + std::string(b) + "]".
                std::string text;
                text.reserve(b.size() + 2);
                text += '[';
                text += b;
                text += ']';
                push(Raw::Elapsed, std::move(text), lower, static_cast<int>(b.size()));
                return;
            }
        }
        // Colours ([Red], [Color12]), digit shapes ([DBNum1]) and anything else: nothing to
        // write.
    }

    // [$€-407], [$USD], [$-409], [$-F800]: the symbol before the dash is printed; the locale
    // after it picks the language of names, which stays en-US here, except for the system
    // long-date and time ids that stand for whole formats.
    void currency(std::string_view b)
    {
        const std::size_t dash = b.find('-');
        const std::string_view symbol = b.substr(0, dash);
        if (!symbol.empty()) {
            literal(symbol);
        }
        if (dash == std::string_view::npos) {
            return;
        }
        const std::string_view locale = b.substr(dash + 1);
        if (startsWithNoCase(locale, 0, "x-sysdate")) {
            out_.replacement = kSystemLongDate;
            return;
        }
        if (startsWithNoCase(locale, 0, "x-systime")) {
            out_.replacement = kSystemTime;
            return;
        }
        std::uint64_t id = 0;
        auto res = std::from_chars(locale.data(), locale.data() + locale.size(), id, 16);
        if (res.ec != std::errc{}) {
            return;
        }
        if ((id & 0xFFFF) == 0xF800) {
            out_.replacement = kSystemLongDate;
        } else if ((id & 0xFFFF) == 0xF400) {
            out_.replacement = kSystemTime;
        }
    }

    void condition(std::string_view b)
    {
        CondOp op = CondOp::None;
        std::size_t n = 1;
        if (b.starts_with("<=")) {
            op = CondOp::Le;
            n = 2;
        } else if (b.starts_with(">=")) {
            op = CondOp::Ge;
            n = 2;
        } else if (b.starts_with("<>")) {
            op = CondOp::Ne;
            n = 2;
        } else if (b[0] == '<') {
            op = CondOp::Lt;
        } else if (b[0] == '>') {
            op = CondOp::Gt;
        } else {
            op = CondOp::Eq;
        }
        std::string_view number = b.substr(n);
        while (!number.empty() && number.front() == ' ') {
            number.remove_prefix(1);
        }
        if (!number.empty() && number.front() == '+') {
            number.remove_prefix(1);
        }
        double value = 0;
        auto res = std::from_chars(number.data(), number.data() + number.size(), value);
        if (res.ec != std::errc{}) {
            return; // not a condition the spreadsheet would accept: ignored
        }
        out_.condition = Condition{op, value};
    }
};

LexedSection lexSection(std::string_view code)
{
    LexedSection lexed;
    Lexer(lexed).run(code);
    if (!lexed.replacement.empty()) {
        LexedSection replaced;
        Lexer(replaced).run(lexed.replacement);
        replaced.condition = lexed.condition;
        return replaced;
    }
    return lexed;
}

// Splits at the semicolons that are neither quoted, escaped nor bracketed.
std::vector<std::string_view> splitSections(std::string_view code)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < code.size()) {
        const char c = code[i];
        if (c == '"') {
            const std::size_t close = code.find('"', i + 1);
            i = close == std::string_view::npos ? code.size() : close + 1;
        } else if (c == '\\' || c == '_' || c == '*') {
            i += 2;
        } else if (c == '[') {
            const std::size_t close = code.find(']', i + 1);
            i = close == std::string_view::npos ? code.size() : close + 1;
        } else if (c == ';') {
            parts.push_back(code.substr(start, i - start));
            start = ++i;
        } else {
            ++i;
        }
    }
    parts.push_back(code.substr(start < code.size() ? start : code.size()));
    return parts;
}

// ---------------------------------------------------------------------------------------------
// Building: raw tokens to the tokens a section renders.

class Builder {
public:
    explicit Builder(Section& s) : s_(s) {}

    void literal(std::string_view text)
    {
        if (text.empty()) {
            return;
        }
        if (!s_.tokens.empty() && s_.tokens.back().kind == TokenKind::Literal &&
            s_.tokens.back().offset + s_.tokens.back().length == s_.text.size()) {
            s_.text.append(text);
            s_.tokens.back().length += static_cast<unsigned>(text.size());
            return;
        }
        Token t;
        t.kind = TokenKind::Literal;
        t.offset = static_cast<unsigned>(s_.text.size());
        t.length = static_cast<unsigned>(text.size());
        s_.text.append(text);
        s_.tokens.push_back(t);
    }

    Token& token(TokenKind kind, char ch = 0, unsigned index = 0)
    {
        Token t;
        t.kind = kind;
        t.ch = ch;
        t.index = index;
        s_.tokens.push_back(t);
        return s_.tokens.back();
    }

    Token& textToken(TokenKind kind, std::string_view text, char ch = 0)
    {
        Token& t = token(kind, ch);
        t.offset = static_cast<unsigned>(s_.text.size());
        t.length = static_cast<unsigned>(text.size());
        s_.text.append(text);
        return t;
    }

private:
    Section& s_;
};

bool isDateToken(const RawToken& t)
{
    switch (t.kind) {
    case Raw::DatePart:
        return t.letter != 'g';
    case Raw::Elapsed:
    case Raw::AmPm:
    case Raw::AP:
        return true;
    default:
        return false;
    }
}

bool isTimeKind(TokenKind k)
{
    return k >= TokenKind::Year2 && k <= TokenKind::AP && k != TokenKind::SubSecond;
}

void buildDate(const std::vector<RawToken>& raw, Section& s)
{
    s.kind = SectionKind::Date;
    Builder b(s);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawToken& t = raw[i];
        switch (t.kind) {
        case Raw::DatePart: {
            const int n = t.count;
            switch (t.letter) {
            case 'y':
                b.token(n <= 2 ? TokenKind::Year2 : TokenKind::Year4);
                break;
            case 'e':
                b.token(TokenKind::Year4);
                break;
            case 'b':
                b.token(n <= 2 ? TokenKind::BuddhistYear2 : TokenKind::BuddhistYear4);
                break;
            case 'm': {
                static constexpr TokenKind kinds[] = {TokenKind::Month, TokenKind::Month2,
                                                      TokenKind::MonthAbbr, TokenKind::MonthFull,
                                                      TokenKind::MonthLetter};
                b.token(n <= 5 ? kinds[n - 1] : TokenKind::MonthFull);
                break;
            }
            case 'd': {
                static constexpr TokenKind kinds[] = {TokenKind::Day, TokenKind::Day2,
                                                      TokenKind::DayAbbr, TokenKind::DayFull};
                b.token(n <= 4 ? kinds[n - 1] : TokenKind::DayFull);
                break;
            }
            case 'h':
                b.token(n == 1 ? TokenKind::Hour : TokenKind::Hour2);
                break;
            case 's':
                b.token(n == 1 ? TokenKind::Second : TokenKind::Second2);
                break;
            default:
                break; // an era name: none in the Gregorian calendar
            }
            break;
        }
        case Raw::Elapsed: {
            const TokenKind kind = t.letter == 'h'   ? TokenKind::ElapsedHours
                                   : t.letter == 'm' ? TokenKind::ElapsedMinutes
                                                     : TokenKind::ElapsedSeconds;
            b.token(kind).width = static_cast<unsigned short>(t.count > 255 ? 255 : t.count);
            break;
        }
        case Raw::AmPm:
            b.token(TokenKind::AmPm);
            s.twelveHour = true;
            break;
        case Raw::AP:
            b.token(TokenKind::AP, t.letter);
            s.twelveHour = true;
            break;
        case Raw::Point: {
            // ".0", ".00", ".000": fractions of a second.
            std::size_t j = i + 1;
            while (j < raw.size() && raw[j].kind == Raw::Placeholder && raw[j].letter == '0' &&
                   j - i <= 3) {
                ++j;
            }
            const int digits = static_cast<int>(j - i - 1);
            if (digits == 0) {
                b.literal(".");
                break;
            }
            b.token(TokenKind::SubSecond).width = static_cast<unsigned short>(digits);
            if (digits > s.subSecondDigits) {
                s.subSecondDigits = digits;
            }
            i = j - 1;
            break;
        }
        case Raw::Exponent:
            // "e+" in a date: the year, then the sign as text.
            b.token(TokenKind::Year4);
            b.literal(std::string_view(t.text).substr(1));
            break;
        default:
            b.literal(t.text);
            break;
        }
    }
    // The minute rule: m or mm right after an hour or right before a second means minutes,
    // looking past any literal text in between.
    auto& toks = s.tokens;
    for (std::size_t i = 0; i < toks.size(); ++i) {
        if (toks[i].kind != TokenKind::Month && toks[i].kind != TokenKind::Month2) {
            continue;
        }
        bool minutes = false;
        for (std::size_t j = i; j-- > 0;) {
            if (isTimeKind(toks[j].kind)) {
                const TokenKind k = toks[j].kind;
                minutes =
                    k == TokenKind::Hour || k == TokenKind::Hour2 || k == TokenKind::ElapsedHours;
                break;
            }
        }
        if (!minutes) {
            for (std::size_t j = i + 1; j < toks.size(); ++j) {
                if (isTimeKind(toks[j].kind)) {
                    const TokenKind k = toks[j].kind;
                    minutes = k == TokenKind::Second || k == TokenKind::Second2 ||
                              k == TokenKind::ElapsedSeconds;
                    break;
                }
            }
        }
        if (minutes) {
            toks[i].kind =
                toks[i].kind == TokenKind::Month ? TokenKind::Minute : TokenKind::Minute2;
        }
    }
    for (const Token& t : toks) {
        s.needsDate = s.needsDate || (t.kind >= TokenKind::Year2 && t.kind <= TokenKind::DayFull);
    }
}

// What each comma does in a number section.
enum class CommaRole : unsigned char { Literal, Grouping, Scaling, Dropped };

// A comma between two integer placeholders turns on thousands grouping; a run of commas after
// the last placeholder divides by 1000 each; one after a placeholder with more placeholders
// further on (but not next) does nothing; anywhere else it is text.
std::vector<CommaRole> commaRoles(const std::vector<RawToken>& raw, std::size_t end)
{
    std::vector<CommaRole> roles(raw.size(), CommaRole::Literal);
    bool afterPoint = false;
    for (std::size_t i = 0; i < end; ++i) {
        if (raw[i].kind == Raw::Point) {
            afterPoint = true;
        }
        if (raw[i].kind != Raw::Comma) {
            continue;
        }
        std::size_t runEnd = i;
        while (runEnd < end && raw[runEnd].kind == Raw::Comma) {
            ++runEnd;
        }
        const bool afterDigit =
            i > 0 &&
            (raw[i - 1].kind == Raw::Placeholder ||
             (raw[i - 1].kind == Raw::Point && i > 1 && raw[i - 2].kind == Raw::Placeholder));
        CommaRole role = CommaRole::Literal;
        if (afterDigit) {
            bool moreDigits = false;
            for (std::size_t j = runEnd; j < end; ++j) {
                moreDigits = moreDigits || raw[j].kind == Raw::Placeholder;
            }
            if (!moreDigits) {
                role = CommaRole::Scaling;
            } else if (!afterPoint && runEnd < end && raw[runEnd].kind == Raw::Placeholder) {
                role = CommaRole::Grouping;
            } else {
                role = CommaRole::Dropped;
            }
        }
        for (std::size_t j = i; j < runEnd; ++j) {
            roles[j] = role;
        }
        i = runEnd - 1;
    }
    return roles;
}

void buildNumber(const std::vector<RawToken>& raw, Section& s)
{
    // Scientific notation: E+/E- after at least one placeholder.
    std::size_t exponentAt = raw.size();
    bool seenPlaceholder = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        seenPlaceholder = seenPlaceholder || raw[i].kind == Raw::Placeholder;
        if (raw[i].kind == Raw::Exponent && seenPlaceholder) {
            exponentAt = i;
            break;
        }
    }
    s.kind = exponentAt < raw.size() ? SectionKind::Scientific : SectionKind::Number;
    const auto roles = commaRoles(raw, exponentAt);
    Builder b(s);
    bool afterPoint = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawToken& t = raw[i];
        if (i > exponentAt) {
            if (t.kind == Raw::Placeholder) {
                b.token(TokenKind::ExpDigit, t.letter, static_cast<unsigned>(s.expDigits++));
            } else {
                b.literal(t.text);
            }
            continue;
        }
        switch (t.kind) {
        case Raw::Placeholder:
            s.hasPlaceholders = true;
            if (afterPoint) {
                b.token(TokenKind::FracDigit, t.letter, static_cast<unsigned>(s.fracDigits++));
            } else {
                b.token(TokenKind::IntDigit, t.letter, static_cast<unsigned>(s.intDigits++));
            }
            break;
        case Raw::Point:
            if (afterPoint) {
                b.literal(".");
            } else {
                afterPoint = true;
                s.hasPoint = true;
                b.token(TokenKind::Point);
            }
            break;
        case Raw::Comma:
            if (roles[i] == CommaRole::Grouping) {
                s.grouping = true;
            } else if (roles[i] == CommaRole::Scaling) {
                s.scale -= 3;
            } else if (roles[i] == CommaRole::Literal) {
                b.literal(",");
            }
            break;
        case Raw::Percent:
            s.scale += 2;
            b.literal("%");
            break;
        case Raw::Exponent:
            if (i == exponentAt) {
                b.textToken(TokenKind::Exponent, std::string_view(t.text).substr(0, 1), t.letter);
            } else {
                b.literal(t.text); // no digit before it: just text
            }
            break;
        default:
            b.literal(t.text);
            break;
        }
    }
}

// "# ?/?", "# ??/??", "?/8", "0/100", "??/??": a fraction is a slash with a placeholder
// before it and a placeholder or a digit after it.
std::size_t findFractionSlash(const std::vector<RawToken>& raw)
{
    bool seenPlaceholder = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].kind == Raw::Placeholder) {
            seenPlaceholder = true;
        }
        if (raw[i].kind != Raw::Slash || !seenPlaceholder) {
            continue;
        }
        for (std::size_t j = i + 1; j < raw.size(); ++j) {
            if (raw[j].kind == Raw::Placeholder || raw[j].kind == Raw::Digit) {
                return i;
            }
            if (raw[j].kind != Raw::Literal) {
                break;
            }
        }
    }
    return raw.size();
}

void buildFraction(const std::vector<RawToken>& raw, std::size_t slash, Section& s)
{
    s.kind = SectionKind::Fraction;
    s.hasPlaceholders = true;
    // The numerator is the run of placeholders closest before the slash; any placeholders
    // before that run show the whole part.
    std::size_t numEnd = slash;
    while (numEnd > 0 && raw[numEnd - 1].kind != Raw::Placeholder) {
        --numEnd;
    }
    std::size_t numBegin = numEnd;
    while (numBegin > 0 && raw[numBegin - 1].kind == Raw::Placeholder) {
        --numBegin;
    }
    // Denominator: placeholders, or a number written out, after the slash.
    std::size_t denBegin = slash + 1;
    while (denBegin < raw.size() && raw[denBegin].kind == Raw::Literal) {
        ++denBegin;
    }
    std::size_t denEnd = denBegin;
    const bool fixed = raw[denBegin].kind == Raw::Digit;
    while (denEnd < raw.size() &&
           (raw[denEnd].kind == Raw::Placeholder || (fixed && raw[denEnd].kind == Raw::Digit))) {
        if (fixed && raw[denEnd].kind == Raw::Placeholder && raw[denEnd].letter != '0') {
            break;
        }
        ++denEnd;
    }

    const auto roles = commaRoles(raw, numBegin);
    Builder b(s);
    bool sawNumeratorStyle0 = false;
    bool sawNumeratorStyleQ = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawToken& t = raw[i];
        if (i == numBegin) {
            s.fractionBegin = static_cast<unsigned>(s.tokens.size());
            // The literal text between the whole part and the numerator belongs to the
            // fraction: it disappears with it.
            for (std::size_t k = s.tokens.size(); k-- > 0;) {
                if (s.tokens[k].kind == TokenKind::IntDigit) {
                    break;
                }
                s.fractionBegin = static_cast<unsigned>(k);
            }
            if (s.intDigits == 0) {
                s.fractionBegin = 0;
            }
        }
        if (i < numBegin && t.kind == Raw::Placeholder) {
            b.token(TokenKind::IntDigit, t.letter, static_cast<unsigned>(s.intDigits++));
        } else if (i >= numBegin && i < numEnd) {
            b.token(TokenKind::NumDigit, t.letter, static_cast<unsigned>(s.numDigits++));
            sawNumeratorStyle0 = sawNumeratorStyle0 || t.letter == '0';
            sawNumeratorStyleQ = sawNumeratorStyleQ || t.letter == '?';
        } else if (i == slash) {
            b.token(TokenKind::Slash);
        } else if (i >= denBegin && i < denEnd) {
            if (fixed) {
                std::string digits;
                for (std::size_t k = denBegin; k < denEnd; ++k) {
                    digits += raw[k].text;
                }
                // Digits past the fifteenth cannot matter to a double; a denominator that
                // long is capped (the text still shows as written).
                std::uint64_t den = 0;
                std::from_chars(digits.data(),
                                digits.data() + std::min<std::size_t>(digits.size(), 15), den);
                s.fixedDenominator = den == 0 ? 1 : den;
                b.textToken(TokenKind::DenFixed, digits);
                i = denEnd - 1;
            } else {
                b.token(TokenKind::DenDigit, t.letter, static_cast<unsigned>(s.denDigits++));
            }
            if (i + 1 == denEnd) {
                s.fractionEnd = static_cast<unsigned>(s.tokens.size());
            }
        } else if (t.kind == Raw::Comma && i < numBegin) {
            if (roles[i] == CommaRole::Grouping) {
                s.grouping = true;
            } else if (roles[i] == CommaRole::Literal) {
                b.literal(",");
            }
        } else if (t.kind == Raw::Percent) {
            s.scale += 2;
            b.literal("%");
        } else {
            b.literal(t.text);
        }
    }
    s.hasInteger = s.intDigits > 0;
    s.numeratorStyle = sawNumeratorStyle0 ? '0' : (sawNumeratorStyleQ ? '?' : '#');
}

void buildGeneral(const std::vector<RawToken>& raw, Section& s)
{
    s.kind = SectionKind::General;
    Builder b(s);
    for (const RawToken& t : raw) {
        if (t.kind == Raw::General) {
            b.token(TokenKind::General);
        } else {
            b.literal(t.text);
        }
    }
}

void buildText(const std::vector<RawToken>& raw, Section& s)
{
    s.kind = SectionKind::Text;
    Builder b(s);
    for (const RawToken& t : raw) {
        if (t.kind == Raw::At) {
            b.token(TokenKind::Text);
        } else {
            b.literal(t.text);
        }
    }
}

Section buildSection(const LexedSection& lexed, bool asText)
{
    Section s;
    s.condition = lexed.condition;
    const auto& raw = lexed.tokens;
    if (asText) {
        buildText(raw, s);
        return s;
    }
    if (raw.empty()) {
        // A section of nothing but a colour shows the number as General would.
        s.kind = lexed.onlyAttributes ? SectionKind::General : SectionKind::Empty;
        if (lexed.onlyAttributes) {
            Builder(s).token(TokenKind::General);
        }
        return s;
    }
    bool date = false;
    bool general = false;
    for (const RawToken& t : raw) {
        date = date || isDateToken(t);
        general = general || t.kind == Raw::General;
    }
    if (date) {
        buildDate(raw, s);
    } else if (general) {
        buildGeneral(raw, s);
    } else if (const std::size_t slash = findFractionSlash(raw); slash < raw.size()) {
        buildFraction(raw, slash, s);
    } else {
        buildNumber(raw, s);
    }
    return s;
}

bool hasAt(const LexedSection& lexed)
{
    for (const RawToken& t : lexed.tokens) {
        if (t.kind == Raw::At) {
            return true;
        }
    }
    return false;
}

} // namespace

bool Condition::test(double v) const
{
    switch (op) {
    case CondOp::Lt:
        return v < value;
    case CondOp::Le:
        return v <= value;
    case CondOp::Gt:
        return v > value;
    case CondOp::Ge:
        return v >= value;
    case CondOp::Eq:
        return v == value;
    case CondOp::Ne:
        return v != value;
    case CondOp::None:
        break;
    }
    return true;
}

bool Condition::impliesNegative() const
{
    switch (op) {
    case CondOp::Lt:
        return value <= 0;
    case CondOp::Le:
    case CondOp::Eq:
        return value < 0;
    default:
        return false;
    }
}

Compiled parseFormat(std::string_view code)
{
    Compiled f;
    auto parts = splitSections(code);
    if (parts.size() > 4) {
        parts.resize(4); // the spreadsheet refuses more; keep what it would have read
    }
    std::vector<LexedSection> lexed;
    lexed.reserve(parts.size());
    for (std::string_view part : parts) {
        lexed.push_back(lexSection(part));
    }
    // The text section is the fourth, or the first one that holds "@"; the sections before it
    // are for numbers.
    std::size_t textAt = lexed.size();
    if (lexed.size() == 4) {
        textAt = 3;
    } else {
        for (std::size_t i = 0; i < lexed.size(); ++i) {
            if (hasAt(lexed[i])) {
                textAt = i;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < textAt; ++i) {
        f.numeric.push_back(buildSection(lexed[i], false));
        f.anyCondition = f.anyCondition || f.numeric.back().condition.present();
        f.isDate = f.isDate || f.numeric.back().kind == SectionKind::Date;
    }
    if (textAt < lexed.size()) {
        f.textSection = buildSection(lexed[textAt], true);
        f.hasTextSection = true;
    }
    return f;
}

} // namespace sheets::numfmt
