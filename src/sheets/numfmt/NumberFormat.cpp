#include "sheets/NumberFormat.h"

#include "sheets/numfmt/Decimal.h"
#include "sheets/numfmt/Format.h"

namespace sheets {

namespace {

bool isGeneralCode(std::string_view code)
{
    if (code.empty()) {
        return true; // a cell format without a code shows numbers as General
    }
    if (code.size() != 7) {
        return false;
    }
    constexpr std::string_view word = "general";
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = code[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != word[i]) {
            return false;
        }
    }
    return true;
}

// The format nearly every cell has: no sections to choose from.
class GeneralFormat final : public NumberFormat {
public:
    bool isDate() const override { return false; }
    void formatNumber(double value, DateSystem /*dates*/, std::string& out) const override
    {
        numfmt::appendGeneral(value, out);
    }
    void formatText(std::string_view text, std::string& out) const override { out.append(text); }
};

class CompiledFormat final : public NumberFormat {
public:
    explicit CompiledFormat(numfmt::Compiled compiled) : compiled_(std::move(compiled)) {}

    bool isDate() const override { return compiled_.isDate; }
    void formatNumber(double value, DateSystem dates, std::string& out) const override
    {
        numfmt::renderNumber(compiled_, value, dates, out);
    }
    void formatText(std::string_view text, std::string& out) const override
    {
        numfmt::renderText(compiled_, text, out);
    }

private:
    numfmt::Compiled compiled_;
};

} // namespace

std::shared_ptr<const NumberFormat> NumberFormat::compile(std::string_view code)
{
    if (isGeneralCode(code)) {
        return std::make_shared<GeneralFormat>();
    }
    return std::make_shared<CompiledFormat>(numfmt::parseFormat(code));
}

const NumberFormat& NumberFormat::general()
{
    static const GeneralFormat instance;
    return instance;
}

} // namespace sheets
