#include "sheets/numfmt/Decimal.h"

#include <charconv>
#include <cmath>

namespace sheets::numfmt {

namespace {

constexpr std::uint64_t kPow10[] = {1ULL,
                                    10ULL,
                                    100ULL,
                                    1000ULL,
                                    10000ULL,
                                    100000ULL,
                                    1000000ULL,
                                    10000000ULL,
                                    100000000ULL,
                                    1000000000ULL,
                                    10000000000ULL,
                                    100000000000ULL,
                                    1000000000000ULL,
                                    10000000000000ULL,
                                    100000000000000ULL,
                                    1000000000000000ULL,
                                    10000000000000000ULL,
                                    100000000000000000ULL,
                                    1000000000000000000ULL};

int digitCount(std::uint64_t v)
{
    int n = 1;
    while (n < 19 && v >= kPow10[n]) {
        ++n;
    }
    return n;
}

// Sets d to digits * 10^exponent (digits > 0), the trailing zeros of digits moved into the
// exponent.
void setDigits(Decimal& d, std::uint64_t digits, int exponent)
{
    while (digits % 10 == 0) {
        digits /= 10;
        ++exponent;
    }
    d.digits = digits;
    d.exponent = exponent;
    d.count = digitCount(digits);
}

} // namespace

Decimal Decimal::of(double value)
{
    Decimal d;
    if (!(value != 0) || !std::isfinite(value)) {
        return d; // zero, and the impossible cases a cell cannot hold
    }
    d.negative = value < 0;
    const double magnitude = std::fabs(value);
    if (magnitude < 1e15 && magnitude == std::floor(magnitude)) {
        // Whole numbers below 10^15 are their own 15-digit decimal: no conversion needed.
        setDigits(d, static_cast<std::uint64_t>(magnitude), 0);
        return d;
    }
    // Shortest round-trip scientific form, e.g. "2.675e+00": at most 17 significant digits.
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    const char* p = buf;
    std::uint64_t digits = 0;
    int taken = 0;
    bool roundUp = false;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p == '.') {
            continue;
        }
        const int digit = *p - '0';
        if (taken < 15) {
            digits = digits * 10 + static_cast<std::uint64_t>(digit);
            ++taken;
        } else if (taken == 15) {
            roundUp = digit >= 5; // half away from zero on the 16th digit
            ++taken;
        }
    }
    int exp10 = 0;
    if (p < res.ptr) {
        std::from_chars(p[1] == '+' ? p + 2 : p + 1, res.ptr, exp10);
    }
    const int kept = taken > 15 ? 15 : taken;
    // digits holds the leading `kept` digits, the first of them at 10^exp10.
    int exponent = exp10 - (kept - 1);
    if (roundUp) {
        ++digits;
        if (digits == kPow10[15]) {
            digits = kPow10[14];
            ++exponent;
        }
    }
    setDigits(d, digits, exponent);
    return d;
}

Fixed fixedDigits(const Decimal& d, int fractionDigits)
{
    Fixed f;
    if (d.isZero()) {
        return f;
    }
    const int shift = d.exponent + fractionDigits;
    std::uint64_t lead = d.digits;
    if (shift >= 0) {
        f.zeros = shift;
    } else {
        const int drop = -shift;
        if (drop > 15) {
            return f; // less than half a unit of the last place shown
        }
        const std::uint64_t unit = kPow10[drop];
        const std::uint64_t rest = lead % unit;
        lead /= unit;
        if (rest * 2 >= unit) {
            ++lead;
        }
        if (lead == 0) {
            return f;
        }
    }
    auto res = std::to_chars(f.head, f.head + sizeof f.head, lead);
    f.headLength = static_cast<int>(res.ptr - f.head);
    return f;
}

void appendUnsigned(std::uint64_t v, std::string& out)
{
    char tmp[24];
    auto res = std::to_chars(tmp, tmp + sizeof tmp, v);
    out.append(tmp, res.ptr);
}

void appendGeneral(const Decimal& d, bool withSign, std::string& out)
{
    if (d.isZero()) {
        out.push_back('0');
        return;
    }
    if (withSign && d.negative) {
        out.push_back('-');
    }
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, d.digits);
    const int n = static_cast<int>(res.ptr - digits);
    const int lead = d.leadExponent();
    if (lead >= 15 || lead < -4) {
        out.push_back(digits[0]);
        if (n > 1) {
            out.push_back('.');
            out.append(digits + 1, res.ptr);
        }
        out.push_back('E');
        out.push_back(lead < 0 ? '-' : '+');
        const int e = lead < 0 ? -lead : lead;
        if (e < 10) {
            out.push_back('0');
        }
        appendUnsigned(static_cast<std::uint64_t>(e), out);
        return;
    }
    if (lead < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-lead - 1), '0');
        out.append(digits, res.ptr);
        return;
    }
    // lead + 1 integer digits; the decimal's own digits may end before them (trailing zeros).
    const int intDigits = lead + 1;
    if (n <= intDigits) {
        out.append(digits, res.ptr);
        out.append(static_cast<std::size_t>(intDigits - n), '0');
    } else {
        out.append(digits, digits + intDigits);
        out.push_back('.');
        out.append(digits + intDigits, res.ptr);
    }
}

void appendGeneral(double value, std::string& out)
{
    if (std::isnan(value) || std::isinf(value)) {
        out.append("#NUM!");
        return;
    }
    appendGeneral(Decimal::of(value), true, out);
}

} // namespace sheets::numfmt
