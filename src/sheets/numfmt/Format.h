#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/NumberFormat.h"

// The compiled form of a number format code: up to three sections for numbers and one for
// text, each a flat list of tokens ready to render without further parsing.
namespace sheets::numfmt {

enum class TokenKind : unsigned char {
    Literal,
    IntDigit,  // digit placeholder left of the decimal point (or the mantissa's)
    FracDigit, // right of the decimal point
    ExpDigit,  // in the exponent of scientific notation
    NumDigit,  // numerator of a fraction
    DenDigit,  // denominator placeholder of a fraction
    DenFixed,  // a fixed denominator written as a number ("# ?/8")
    Point,
    Exponent, // "E+" / "E-"
    Slash,    // the fraction bar
    Text,     // @
    General,
    Year2,
    Year4,
    BuddhistYear2,
    BuddhistYear4,
    Month,
    Month2,
    MonthAbbr,
    MonthFull,
    MonthLetter,
    Day,
    Day2,
    DayAbbr,
    DayFull,
    Hour,
    Hour2,
    Minute,
    Minute2,
    Second,
    Second2,
    ElapsedHours,
    ElapsedMinutes,
    ElapsedSeconds,
    SubSecond,
    AmPm,
    AP,
};

struct Token {
    TokenKind kind = TokenKind::Literal;
    // Digit placeholders: '0', '#' or '?'. Exponent: '+' or '-'. AmPm/AP: 'A' or 'a'.
    char ch = 0;
    // Elapsed time: minimum digits. SubSecond: digits shown.
    unsigned short width = 0;
    // Digit placeholders: position within their group, from the left.
    unsigned index = 0;
    // Literal, DenFixed and Exponent: the text in Section::text.
    unsigned offset = 0;
    unsigned length = 0;
};

enum class CondOp : unsigned char { None, Lt, Le, Gt, Ge, Eq, Ne };

struct Condition {
    CondOp op = CondOp::None;
    double value = 0;

    bool present() const { return op != CondOp::None; }
    bool test(double v) const;
    // Only negative numbers can meet it ([<0], [<=-5], [=-2]): such a section shows the
    // number without a minus sign, the section's own text standing for it.
    bool impliesNegative() const;
};

enum class SectionKind : unsigned char {
    Number,     // 0 # ? . , % and literals (also a section of literals only)
    Scientific, // with E+ / E-
    Fraction,
    Date,
    General,
    Text,
    Empty, // shows nothing
};

struct Section {
    SectionKind kind = SectionKind::Empty;
    Condition condition;
    std::vector<Token> tokens;
    std::string text; // literal texts of the tokens

    // Numbers
    int intDigits = 0;
    int fracDigits = 0;
    int expDigits = 0;
    int scale = 0; // powers of ten: +2 per %, -3 per scaling comma
    bool grouping = false;
    bool hasPoint = false;
    bool hasPlaceholders = false;

    // Fractions
    int numDigits = 0;
    int denDigits = 0;
    std::uint64_t fixedDenominator = 0; // 0: chosen by the placeholders
    char numeratorStyle = '#';          // '0' when any numerator placeholder is 0, else '?' or '#'
    bool hasInteger = false;
    unsigned fractionBegin = 0; // tokens [fractionBegin, fractionEnd) make up the fraction
    unsigned fractionEnd = 0;

    // Dates and times
    int subSecondDigits = 0; // the most fractional-second digits any token shows
    bool twelveHour = false;
    bool needsDate = false; // shows a part of the date, not only the time

    std::string_view literal(const Token& t) const
    {
        return std::string_view(text).substr(t.offset, t.length);
    }
};

struct Compiled {
    std::vector<Section> numeric; // at most three
    Section textSection;
    bool hasTextSection = false;
    bool anyCondition = false;
    bool isDate = false;
};

// Never fails: what cannot be read is kept as literal text or left out.
Compiled parseFormat(std::string_view code);

// Rendering, with the compiled form above.
void renderNumber(const Compiled& f, double value, DateSystem dates, std::string& out);
void renderText(const Compiled& f, std::string_view text, std::string& out);

} // namespace sheets::numfmt
