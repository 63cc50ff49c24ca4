#pragma once

#include <cstdint>
#include <string>

// The decimal a cell shows: every rendering starts from the value's 15-significant-digit decimal
// form and does the rest (rounding, scaling, digit placement) in integer arithmetic, the way the
// spreadsheet application does. Rounding binary doubles directly would turn 2.675 into 2.67.
namespace sheets::numfmt {

struct Decimal {
    // |value| = digits * 10^exponent; digits has at most 15 decimal digits and no trailing
    // zeros. Zero is digits == 0.
    std::uint64_t digits = 0;
    int exponent = 0;
    int count = 0; // number of decimal digits in `digits` (0 for zero)
    bool negative = false;

    bool isZero() const { return digits == 0; }
    // Power of ten of the leading digit: 1234.5 -> 3, 0.05 -> -2.
    int leadExponent() const { return exponent + count - 1; }

    // The 15-significant-digit decimal of a finite value, rounded half away from zero from the
    // shortest decimal that reads back as the same double.
    static Decimal of(double value);
};

// round(|d| * 10^fractionDigits), half away from zero, as its leading digits followed by a run
// of zeros, so that values like 1E+300 under "0.00" need no big buffer.
struct Fixed {
    char head[20]; // no leading zeros; empty when the rounded value is zero
    int headLength = 0;
    int zeros = 0; // zeros that follow head

    int length() const { return headLength + zeros; }
    char digit(int i) const { return i < headLength ? head[i] : '0'; }
};
Fixed fixedDigits(const Decimal& d, int fractionDigits);

// Appends the General form of a value: up to 15 significant digits, no grouping, no trailing
// zeros; fixed for 0.0001 <= |v| < 1E+15 (after rounding to 15 digits), scientific outside it
// with at least two exponent digits (1E-05, 1.23456789012346E+19).
void appendGeneral(double value, std::string& out);
// The same for a decimal already taken (its sign is ignored when `withSign` is false).
void appendGeneral(const Decimal& d, bool withSign, std::string& out);

// Appends a non-negative integer.
void appendUnsigned(std::uint64_t v, std::string& out);

} // namespace sheets::numfmt
