#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "sheets/numfmt/Calendar.h"
#include "sheets/numfmt/Decimal.h"
#include "sheets/numfmt/Format.h"

namespace sheets::numfmt {

namespace {

constexpr std::string_view kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
constexpr std::string_view kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

Fixed fixedOf(std::uint64_t v)
{
    Fixed f;
    if (v != 0) {
        auto res = std::to_chars(f.head, f.head + sizeof f.head, v);
        f.headLength = static_cast<int>(res.ptr - f.head);
    }
    return f;
}

void appendPadded(std::uint64_t v, int width, std::string& out)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    const int n = static_cast<int>(res.ptr - buf);
    if (n < width) {
        out.append(static_cast<std::size_t>(width - n), '0');
    }
    out.append(buf, res.ptr);
}

// Number of characters (not bytes) of a UTF-8 text: the width a blanked-out part takes.
std::size_t charCount(std::string_view s)
{
    std::size_t n = 0;
    for (char c : s) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return n;
}

// The digits of a whole number placed into a run of placeholders, right-aligned: digits beyond
// the placeholders all go to the first one; missing leading digits show as 0 for "0", a space
// for "?" and nothing for "#". With grouping, a comma follows every third digit from the right.
class IntegerWriter {
public:
    IntegerWriter(const Fixed& digits, int length, int placeholders, bool grouping)
        : digits_(digits), length_(length), placeholders_(placeholders), grouping_(grouping)
    {}

    // Placeholder `index` (from the left) of the run, written as `ch`.
    void placeholder(unsigned index, char ch, std::string& out) const
    {
        const int i = static_cast<int>(index);
        const int k = length_ - placeholders_ + i;
        if (i == 0) {
            extra(out);
        }
        const int fromRight = placeholders_ - 1 - i;
        if (k >= 0) {
            out.push_back(digits_.digit(k));
            separator(fromRight, '0', out);
        } else if (ch == '0') {
            out.push_back('0');
            separator(fromRight, '0', out);
        } else if (ch == '?') {
            out.push_back(' ');
            separator(fromRight, '?', out);
        }
    }

    // Digits with no placeholder of their own (all of them when there is none).
    void extra(std::string& out) const
    {
        for (int k = 0; k < length_ - placeholders_; ++k) {
            out.push_back(digits_.digit(k));
            separator(length_ - 1 - k, '0', out);
        }
    }

private:
    const Fixed& digits_;
    int length_;
    int placeholders_;
    bool grouping_;

    void separator(int fromRight, char style, std::string& out) const
    {
        if (!grouping_ || fromRight <= 0 || fromRight % 3 != 0) {
            return;
        }
        out.push_back(style == '?' ? ' ' : ',');
    }
};

void appendLiteral(const Section& s, const Token& t, std::string& out)
{
    out.append(s.literal(t));
}

// ---------------------------------------------------------------------------------------------

void renderDecimal(const Section& s, double value, bool minus, std::string& out)
{
    Decimal d = Decimal::of(value);
    if (!d.isZero()) {
        d.exponent += s.scale;
    }
    const Fixed fx = fixedDigits(d, s.fracDigits);
    const int length = fx.length();
    const int intLength = length > s.fracDigits ? length - s.fracDigits : 0;
    // The last fraction digit that is not a trailing zero: "#" and "?" show nothing or a space
    // from there on.
    int lastSignificant = -1;
    for (int j = s.fracDigits - 1; j >= 0; --j) {
        const int k = length - s.fracDigits + j;
        if (k >= 0 && fx.digit(k) != '0') {
            lastSignificant = j;
            break;
        }
    }
    // A negative number that rounds to nothing shows no minus sign.
    if (minus && (length > 0 || !s.hasPlaceholders)) {
        out.push_back('-');
    }
    const IntegerWriter integer(fx, intLength, s.intDigits, s.grouping);
    for (const Token& t : s.tokens) {
        switch (t.kind) {
        case TokenKind::IntDigit:
            integer.placeholder(t.index, t.ch, out);
            break;
        case TokenKind::Point:
            if (s.intDigits == 0) {
                integer.extra(out);
            }
            out.push_back('.');
            break;
        case TokenKind::FracDigit: {
            const int j = static_cast<int>(t.index);
            if (j <= lastSignificant) {
                const int k = length - s.fracDigits + j;
                out.push_back(k >= 0 ? fx.digit(k) : '0');
            } else if (t.ch == '0') {
                out.push_back('0');
            } else if (t.ch == '?') {
                out.push_back(' ');
            }
            break;
        }
        case TokenKind::Literal:
            appendLiteral(s, t, out);
            break;
        default:
            break;
        }
    }
}

void renderScientific(const Section& s, double value, bool minus, std::string& out)
{
    Decimal d = Decimal::of(value);
    int exponent = 0;
    Fixed fx;
    if (!d.isZero()) {
        d.exponent += s.scale;
        // With several integer placeholders the exponent steps by their count ("##0.0E+0" is
        // engineering notation).
        const int period = s.intDigits > 1 ? s.intDigits : 1;
        const int lead = d.leadExponent();
        exponent = (lead >= 0 ? lead / period : -((-lead + period - 1) / period)) * period;
        Decimal m = d;
        m.exponent -= exponent;
        fx = fixedDigits(m, s.fracDigits);
        if (fx.length() - s.fracDigits > period) {
            // Rounding carried into a new digit (9.99 -> 10.0): next step of the exponent.
            exponent += period;
            m.exponent -= period;
            fx = fixedDigits(m, s.fracDigits);
        }
    }
    const int length = fx.length();
    const int intLength = length > s.fracDigits ? length - s.fracDigits : 0;
    int lastSignificant = -1;
    for (int j = s.fracDigits - 1; j >= 0; --j) {
        const int k = length - s.fracDigits + j;
        if (k >= 0 && fx.digit(k) != '0') {
            lastSignificant = j;
            break;
        }
    }
    if (minus && !d.isZero()) {
        out.push_back('-');
    }
    const IntegerWriter integer(fx, intLength, s.intDigits, s.grouping);
    const Fixed expDigits =
        fixedOf(static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent));
    const IntegerWriter exp(expDigits, expDigits.length(), s.expDigits, false);
    for (const Token& t : s.tokens) {
        switch (t.kind) {
        case TokenKind::IntDigit:
            integer.placeholder(t.index, t.ch, out);
            break;
        case TokenKind::Point:
            if (s.intDigits == 0) {
                integer.extra(out);
            }
            out.push_back('.');
            break;
        case TokenKind::FracDigit: {
            const int j = static_cast<int>(t.index);
            if (j <= lastSignificant) {
                const int k = length - s.fracDigits + j;
                out.push_back(k >= 0 ? fx.digit(k) : '0');
            } else if (t.ch == '0') {
                out.push_back('0');
            } else if (t.ch == '?') {
                out.push_back(' ');
            }
            break;
        }
        case TokenKind::Exponent:
            appendLiteral(s, t, out);
            if (exponent < 0) {
                out.push_back('-');
            } else if (t.ch == '+') {
                out.push_back('+');
            }
            break;
        case TokenKind::ExpDigit:
            exp.placeholder(t.index, t.ch, out);
            break;
        case TokenKind::Literal:
            appendLiteral(s, t, out);
            break;
        default:
            break;
        }
    }
}

// The last convergent of the continued fraction of x whose denominator stays within maxDen.
// The spreadsheet stops there rather than looking at the fractions in between, so 0.3 under
// "?/?" is 2/7 while 1.3 shows 1 1/3 (its fraction part is a hair above 0.3). It also stops
// once a convergent is as good as the double allows, instead of chasing the noise.
void convergent(double x, std::uint64_t maxDen, std::uint64_t& num, std::uint64_t& den)
{
    std::uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double y = x;
    for (int iteration = 0; iteration < 64; ++iteration) {
        if (!(y < 1e18)) {
            break;
        }
        const auto a = static_cast<std::uint64_t>(std::floor(y));
        if (q1 != 0 && a > (maxDen - q0) / q1) {
            break;
        }
        const std::uint64_t q2 = a * q1 + q0;
        if (q2 > maxDen) {
            break;
        }
        const std::uint64_t p2 = a * p1 + p0;
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const double error = std::fabs(x - static_cast<double>(p1) / static_cast<double>(q1));
        if (error < 1e-14 * (x > 1 ? x : 1)) {
            break;
        }
        const double rest = y - std::floor(y);
        if (!(rest > 0)) {
            break;
        }
        y = 1 / rest;
    }
    num = p1;
    den = q1 == 0 ? 1 : q1;
}

void renderFraction(const Section& s, double value, bool minus, std::string& out)
{
    if (s.scale != 0) {
        // "# ?/?%": percent signs scale fractions too.
        value *= std::pow(10.0, s.scale);
        if (!(value <= std::numeric_limits<double>::max())) {
            value = std::numeric_limits<double>::max();
        }
    }
    // Beyond 15 digits a number has no fraction worth showing: whole part only, and numbers
    // that large are carried as digit strings rather than integers.
    constexpr double kExact = 1e15;
    Fixed whole;
    Fixed numerator;
    std::uint64_t num = 0; // the numerator when it fits; 1 stands for "not zero" otherwise
    std::uint64_t den = s.fixedDenominator != 0 ? s.fixedDenominator : 1;
    if (s.hasInteger && value >= kExact) {
        whole = fixedDigits(Decimal::of(value), 0);
    } else {
        std::uint64_t integer = 0;
        double part = value;
        if (s.hasInteger) {
            integer = static_cast<std::uint64_t>(std::floor(value));
            part = value - std::floor(value);
        }
        if (s.fixedDenominator != 0) {
            const double scaled = part * static_cast<double>(den);
            if (scaled >= kExact) {
                numerator = fixedDigits(Decimal::of(scaled), 0);
                num = 1;
            } else {
                num = static_cast<std::uint64_t>(std::floor(scaled + 0.5));
            }
        } else if (part >= kExact) {
            numerator = fixedDigits(Decimal::of(part), 0);
            num = 1;
        } else {
            int digits = s.denDigits < 1 ? 1 : (s.denDigits > 15 ? 15 : s.denDigits);
            std::uint64_t maxDen = 1;
            while (digits-- > 0) {
                maxDen *= 10;
            }
            --maxDen;
            // Keep numerator and denominator within 64 bits.
            const double cap = 1e18 / (part > 1 ? part : 1);
            if (static_cast<double>(maxDen) > cap) {
                maxDen = static_cast<std::uint64_t>(cap);
            }
            convergent(part, maxDen, num, den);
        }
        if (s.hasInteger && num >= den) {
            integer += num / den;
            num %= den;
        }
        whole = fixedOf(integer);
        if (numerator.length() == 0) {
            numerator = fixedOf(num);
        }
    }
    if (minus) {
        out.push_back('-');
    }
    const bool noFraction = s.hasInteger && num == 0;
    if (noFraction && whole.length() == 0) {
        whole = fixedOf(0);
        whole.head[0] = '0';
        whole.headLength = 1;
    }
    if (!noFraction && numerator.length() == 0) {
        numerator.head[0] = '0';
        numerator.headLength = 1;
    }
    const Fixed denominator = fixedOf(den);
    const IntegerWriter integer(whole, whole.length(), s.intDigits, s.grouping);
    const IntegerWriter top(numerator, numerator.length(), s.numDigits, false);
    for (std::size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        if (noFraction && i >= s.fractionBegin && i < s.fractionEnd) {
            // A whole number: the fraction shows as 0/1 ("0 0/0"), as blanks of its width
            // ("# ?/?") or not at all ("# #/#").
            if (s.numeratorStyle == '?') {
                std::size_t width = 1;
                if (t.kind == TokenKind::Literal || t.kind == TokenKind::DenFixed) {
                    width = charCount(s.literal(t));
                }
                out.append(width, ' ');
                continue;
            }
            if (s.numeratorStyle == '#') {
                continue;
            }
        }
        switch (t.kind) {
        case TokenKind::IntDigit:
            integer.placeholder(t.index, t.ch, out);
            break;
        case TokenKind::NumDigit:
            if (noFraction) {
                // "0 0/0": the zero numerator shows once, in the last placeholder.
                if (t.index + 1 == static_cast<unsigned>(s.numDigits) || t.ch == '0') {
                    out.push_back('0');
                } else if (t.ch == '?') {
                    out.push_back(' ');
                }
            } else {
                top.placeholder(t.index, t.ch, out);
            }
            break;
        case TokenKind::Slash:
            out.push_back('/');
            break;
        case TokenKind::DenDigit: {
            // Denominators are left-aligned: "1/4 " under "??/??".
            const int i2 = static_cast<int>(t.index);
            if (i2 == 0 && denominator.length() > s.denDigits) {
                for (int k = 0; k < denominator.length() - s.denDigits; ++k) {
                    out.push_back(denominator.digit(k));
                }
            }
            const int k =
                i2 + (denominator.length() > s.denDigits ? denominator.length() - s.denDigits : 0);
            if (k < denominator.length()) {
                out.push_back(denominator.digit(k));
            } else if (t.ch == '?') {
                out.push_back(' ');
            } else if (t.ch == '0') {
                out.push_back('0');
            }
            break;
        }
        case TokenKind::DenFixed:
        case TokenKind::Literal:
            appendLiteral(s, t, out);
            break;
        default:
            break;
        }
    }
}

void renderGeneralSection(const Section& s, double value, bool minus, std::string& out)
{
    if (minus) {
        out.push_back('-');
    }
    for (const Token& t : s.tokens) {
        if (t.kind == TokenKind::General) {
            appendGeneral(Decimal::of(value), false, out);
        } else if (t.kind == TokenKind::Literal) {
            appendLiteral(s, t, out);
        }
    }
}

// Returns false when the value is outside what a date can show.
bool renderDate(const Section& s, double value, bool minus, DateSystem dates, std::string& out)
{
    const std::int64_t last =
        dates == DateSystem::D1904 ? kLastSerial1900 - kOffset1904 : kLastSerial1900;
    if (!(value < static_cast<double>(last + 1))) {
        return false;
    }
    std::int64_t day = static_cast<std::int64_t>(std::floor(value));
    std::int64_t unit = 1;
    for (int i = 0; i < s.subSecondDigits; ++i) {
        unit *= 10;
    }
    const std::int64_t dayTicks = 86400 * unit;
    // The time is rounded to what the format shows; rounding up may carry into the next day.
    auto ticks = static_cast<std::int64_t>(
        std::floor((value - std::floor(value)) * static_cast<double>(dayTicks) + 0.5));
    if (ticks >= dayTicks) {
        ticks -= dayTicks;
        ++day;
    }
    if (day > last) {
        return false;
    }
    DateParts date;
    if (s.needsDate) {
        date = dateFromSerial(day, dates);
    }
    const std::int64_t seconds = ticks / unit;
    const std::int64_t sub = ticks % unit;
    const int hour = static_cast<int>(seconds / 3600);
    const int minute = static_cast<int>(seconds / 60 % 60);
    const int second = static_cast<int>(seconds % 60);
    const std::int64_t totalTicks = day * dayTicks + ticks;

    if (minus) {
        out.push_back('-');
    }
    for (const Token& t : s.tokens) {
        switch (t.kind) {
        case TokenKind::Literal:
            appendLiteral(s, t, out);
            break;
        case TokenKind::Year2:
            appendPadded(static_cast<std::uint64_t>(date.year % 100), 2, out);
            break;
        case TokenKind::Year4:
            appendPadded(static_cast<std::uint64_t>(date.year), 4, out);
            break;
        case TokenKind::BuddhistYear2:
            appendPadded(static_cast<std::uint64_t>((date.year + 543) % 100), 2, out);
            break;
        case TokenKind::BuddhistYear4:
            appendPadded(static_cast<std::uint64_t>(date.year) + 543, 4, out);
            break;
        case TokenKind::Month:
            appendPadded(static_cast<std::uint64_t>(date.month), 1, out);
            break;
        case TokenKind::Month2:
            appendPadded(static_cast<std::uint64_t>(date.month), 2, out);
            break;
        case TokenKind::MonthAbbr:
            out.append(kMonths[date.month - 1].substr(0, 3));
            break;
        case TokenKind::MonthFull:
            out.append(kMonths[date.month - 1]);
            break;
        case TokenKind::MonthLetter:
            out.append(kMonths[date.month - 1].substr(0, 1));
            break;
        case TokenKind::Day:
            appendPadded(static_cast<std::uint64_t>(date.day), 1, out);
            break;
        case TokenKind::Day2:
            appendPadded(static_cast<std::uint64_t>(date.day), 2, out);
            break;
        case TokenKind::DayAbbr:
            out.append(kDays[date.weekday].substr(0, 3));
            break;
        case TokenKind::DayFull:
            out.append(kDays[date.weekday]);
            break;
        case TokenKind::Hour:
        case TokenKind::Hour2: {
            int h = hour;
            if (s.twelveHour) {
                h = h % 12 == 0 ? 12 : h % 12;
            }
            appendPadded(static_cast<std::uint64_t>(h), t.kind == TokenKind::Hour ? 1 : 2, out);
            break;
        }
        case TokenKind::Minute:
        case TokenKind::Minute2:
            appendPadded(static_cast<std::uint64_t>(minute), t.kind == TokenKind::Minute ? 1 : 2,
                         out);
            break;
        case TokenKind::Second:
        case TokenKind::Second2:
            appendPadded(static_cast<std::uint64_t>(second), t.kind == TokenKind::Second ? 1 : 2,
                         out);
            break;
        case TokenKind::ElapsedHours:
            appendPadded(static_cast<std::uint64_t>(totalTicks / (3600 * unit)), t.width, out);
            break;
        case TokenKind::ElapsedMinutes:
            appendPadded(static_cast<std::uint64_t>(totalTicks / (60 * unit)), t.width, out);
            break;
        case TokenKind::ElapsedSeconds:
            appendPadded(static_cast<std::uint64_t>(totalTicks / unit), t.width, out);
            break;
        case TokenKind::SubSecond: {
            // The digits of the rounded fraction of a second, as many as this token shows.
            char digits[4] = {'0', '0', '0', '0'};
            std::int64_t rest = sub;
            for (int i = s.subSecondDigits - 1; i >= 0; --i) {
                digits[i] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            }
            out.push_back('.');
            out.append(digits, t.width);
            break;
        }
        case TokenKind::AmPm:
            out.append(hour < 12 ? "AM" : "PM");
            break;
        case TokenKind::AP: {
            const char c = hour < 12 ? 'A' : 'P';
            out.push_back(t.ch == 'a' ? static_cast<char>(c + 32) : c);
            break;
        }
        default:
            break;
        }
    }
    return true;
}

// The General form of the value; `minus` decides the sign.
void renderFallback(double value, bool minus, std::string& out)
{
    const Decimal d = Decimal::of(value);
    if (minus && !d.isZero()) {
        out.push_back('-');
    }
    appendGeneral(d, false, out);
}

} // namespace

void renderNumber(const Compiled& f, double value, DateSystem dates, std::string& out)
{
    if (std::isnan(value) || std::isinf(value)) {
        out.append("#NUM!");
        return;
    }
    const std::size_t n = f.numeric.size();
    const bool negative = value < 0;
    const double magnitude = std::fabs(value);
    if (n == 0) {
        renderFallback(magnitude, negative, out);
        return;
    }
    const Section* section = nullptr;
    bool minus = false;
    if (!f.anyCondition) {
        if (n == 1) {
            section = &f.numeric[0];
            minus = negative;
        } else if (n == 2) {
            section = &f.numeric[negative ? 1 : 0];
        } else {
            section = &f.numeric[value > 0 ? 0 : (negative ? 1 : 2)];
        }
    } else {
        // Conditions replace the sign rule. The first section's default is "positive" (or
        // "not negative" with two sections); the second's is "negative", or "the rest" when
        // the first has a condition of its own and there are only two.
        const Section& first = f.numeric[0];
        Condition c0 = first.condition;
        if (!c0.present() && n > 1) {
            c0 = Condition{n >= 3 ? CondOp::Gt : CondOp::Ge, 0};
        }
        // The "rest" shows a minus only when the first condition was about larger numbers or
        // equality ([>100], [=5]): measured behaviour of the spreadsheet.
        const bool restMinus =
            negative && (c0.op == CondOp::Eq || c0.op == CondOp::Gt || c0.op == CondOp::Ge);
        if (c0.test(value)) {
            section = &first;
            minus = negative && !c0.impliesNegative();
        } else if (n == 1) {
            renderFallback(magnitude, restMinus, out);
            return;
        } else {
            const Section& second = f.numeric[1];
            if (second.condition.present()) {
                if (second.condition.test(value)) {
                    section = &second;
                    minus = negative && !second.condition.impliesNegative();
                } else if (n >= 3) {
                    section = &f.numeric[2];
                    minus = negative;
                }
            } else if (n == 2) {
                section = &second;
                minus = restMinus;
            } else {
                section = negative ? &second : &f.numeric[2];
            }
        }
        if (section == nullptr) {
            // No section takes the value: the spreadsheet shows a row of #; the number itself
            // loses nothing.
            renderFallback(magnitude, negative, out);
            return;
        }
    }
    switch (section->kind) {
    case SectionKind::Number:
        renderDecimal(*section, magnitude, minus, out);
        break;
    case SectionKind::Scientific:
        renderScientific(*section, magnitude, minus, out);
        break;
    case SectionKind::Fraction:
        renderFraction(*section, magnitude, minus, out);
        break;
    case SectionKind::General:
        renderGeneralSection(*section, magnitude, minus, out);
        break;
    case SectionKind::Date: {
        // Negative serials are no dates in the 1900 system (the spreadsheet fills the cell
        // with #); the 1904 system shows them with a minus sign. A value no date can show is
        // written in its General form, so that nothing is lost.
        const bool invalid = negative && dates == DateSystem::D1900;
        const std::size_t mark = out.size();
        if (invalid || !renderDate(*section, magnitude, minus, dates, out)) {
            out.resize(mark);
            renderFallback(magnitude, negative, out);
        }
        break;
    }
    case SectionKind::Text:
    case SectionKind::Empty:
        break;
    }
}

void renderText(const Compiled& f, std::string_view text, std::string& out)
{
    if (!f.hasTextSection) {
        out.append(text);
        return;
    }
    const Section& s = f.textSection;
    for (const Token& t : s.tokens) {
        if (t.kind == TokenKind::Text) {
            out.append(text);
        } else if (t.kind == TokenKind::Literal) {
            appendLiteral(s, t, out);
        }
    }
}

} // namespace sheets::numfmt
