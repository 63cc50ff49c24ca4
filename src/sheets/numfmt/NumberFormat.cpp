#include "sheets/NumberFormat.h"

#include "sheets/numfmt/Decimal.h"

namespace sheets {

namespace {

// First cut: every code renders as General until the code parser lands.
class GeneralFormat final : public NumberFormat {
public:
    bool isDate() const override { return false; }
    void formatNumber(double value, DateSystem /*dates*/, std::string& out) const override
    {
        numfmt::appendGeneral(value, out);
    }
    void formatText(std::string_view text, std::string& out) const override { out.append(text); }
};

} // namespace

std::shared_ptr<const NumberFormat> NumberFormat::compile(std::string_view /*code*/)
{
    return std::make_shared<GeneralFormat>();
}

const NumberFormat& NumberFormat::general()
{
    static const GeneralFormat instance;
    return instance;
}

} // namespace sheets
