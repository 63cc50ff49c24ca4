#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace sheets {

enum class DateSystem : unsigned char { D1900, D1904 };

// A number format code ("0.00", "#,##0_);(#,##0)", "m/d/yyyy h:mm", "General", ...) compiled
// once and applied to many cells. Immutable after compile(), so one instance may be shared by
// every cell and thread that uses it. Output follows en-US conventions.
class NumberFormat {
public:
    // Never fails: a code that cannot be parsed renders as General would.
    static std::shared_ptr<const NumberFormat> compile(std::string_view code);

    // The code of a built-in format id (0-49, and 50-81 mapped to their en-US stand-ins);
    // "General" for an id that has no built-in code.
    static std::string_view builtinCode(int id);

    // The shared compiled General format.
    static const NumberFormat& general();

    virtual ~NumberFormat() = default;

    // True when the format shows dates or times.
    virtual bool isDate() const = 0;

    // Appends the text a cell holding this number shows.
    virtual void formatNumber(double value, DateSystem dates, std::string& out) const = 0;

    // Appends the text a cell holding this text shows (the text section, "@", literals).
    virtual void formatText(std::string_view text, std::string& out) const = 0;
};

} // namespace sheets
