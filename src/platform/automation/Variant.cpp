#include "platform/automation/Variant.h"

#include "platform/automation/Automation.h"

#include <cmath>
#include <limits>

namespace automation {

namespace {

[[noreturn]] void CannotConvert(VarType from, const char* to)
{
    throw AutomationError(DISP_E_TYPEMISMATCH,
                          QStringLiteral("Cannot convert a value of type %1 to %2")
                              .arg(VarTypeName(from), QLatin1String(to)));
}

[[noreturn]] void OutOfRange(VarType from, const char* to)
{
    throw AutomationError(DISP_E_OVERFLOW,
                          QStringLiteral("The value of type %1 is out of the range of %2")
                              .arg(VarTypeName(from), QLatin1String(to)));
}

// Text read as a number in the C notation; nothing when it is not one.
bool TextToDouble(const QString& text, double& out)
{
    bool ok = false;
    out = text.trimmed().toDouble(&ok);
    return ok;
}

int32_t RoundToInt32(double value, VarType from)
{
    // Half to even, as the variant arithmetic rounds (the default rounding mode).
    const double rounded = std::nearbyint(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<int32_t>::max()))) {
        OutOfRange(from, "Integer");
    }
    return static_cast<int32_t>(rounded);
}

Variant Dispatch(const Variant& target, const QString& name, InvokeKind kind,
                 std::span<const Variant> args)
{
    const std::shared_ptr<AutomationObject> object = target.Object();
    if (!object) {
        throw AutomationError(DISP_E_TYPEMISMATCH,
                              QStringLiteral("Variant does not reference an automation object"));
    }
    return object->Invoke(name, kind, args);
}

} // namespace

QString VarTypeName(VarType type)
{
    switch (type) {
    case VarType::Empty:
        return QStringLiteral("Empty");
    case VarType::Null:
        return QStringLiteral("Null");
    case VarType::Boolean:
        return QStringLiteral("Boolean");
    case VarType::Int16:
        return QStringLiteral("Smallint");
    case VarType::Int32:
        return QStringLiteral("Integer");
    case VarType::Double:
        return QStringLiteral("Double");
    case VarType::Text:
        return QStringLiteral("String");
    case VarType::Error:
        return QStringLiteral("Error");
    case VarType::Object:
        return QStringLiteral("Dispatch");
    }
    return QStringLiteral("Unknown");
}

Variant Variant::Null()
{
    Variant v;
    v.FType = VarType::Null;
    return v;
}

Variant Variant::ErrorCode(int32_t code)
{
    Variant v;
    v.FType = VarType::Error;
    v.FInt = code;
    return v;
}

bool Variant::IsMissing() const
{
    return FType == VarType::Error && FInt == DISP_E_PARAMNOTFOUND;
}

bool Variant::IsNumber() const
{
    return FType == VarType::Int16 || FType == VarType::Int32 || FType == VarType::Double;
}

int32_t Variant::ErrorValue() const
{
    return FType == VarType::Error ? FInt : 0;
}

bool Variant::Number(double& out) const
{
    switch (FType) {
    case VarType::Empty:
        out = 0;
        return true;
    case VarType::Boolean:
        out = (FInt != 0) ? -1 : 0;
        return true;
    case VarType::Int16:
    case VarType::Int32:
        out = FInt;
        return true;
    case VarType::Double:
        out = FDouble;
        return true;
    case VarType::Text:
        return TextToDouble(FText, out);
    default:
        return false;
    }
}

bool Variant::ToBool() const
{
    if (FType == VarType::Text) {
        const QString text = FText.trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
            return true;
        }
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            return false;
        }
    }
    double number = 0;
    if (!Number(number)) {
        CannotConvert(FType, "Boolean");
    }
    return number != 0;
}

int32_t Variant::ToInt32() const
{
    if (FType == VarType::Int16 || FType == VarType::Int32) {
        return FInt;
    }
    double number = 0;
    if (!Number(number)) {
        CannotConvert(FType, "Integer");
    }
    return RoundToInt32(number, FType);
}

double Variant::ToDouble() const
{
    double number = 0;
    if (!Number(number)) {
        CannotConvert(FType, "Double");
    }
    return number;
}

QString Variant::ToString() const
{
    switch (FType) {
    case VarType::Empty:
        return {};
    case VarType::Boolean:
        return (FInt != 0) ? QStringLiteral("True") : QStringLiteral("False");
    case VarType::Int16:
    case VarType::Int32:
        return QString::number(FInt);
    case VarType::Double:
        return QString::number(FDouble, 'g', 15);
    case VarType::Text:
        return FText;
    default:
        break;
    }
    CannotConvert(FType, "String");
}

std::shared_ptr<AutomationObject> Variant::Object() const
{
    if (FType != VarType::Object) {
        return {};
    }
    return FObject;
}

Variant Variant::Get(const QString& name) const
{
    return Dispatch(*this, name, InvokeKind::Read, {});
}

Variant Variant::Get(const QString& name, std::initializer_list<Variant> index) const
{
    return Dispatch(*this, name, InvokeKind::IndexedRead,
                    std::span<const Variant>(index.begin(), index.size()));
}

void Variant::Put(const QString& name, const Variant& value) const
{
    Dispatch(*this, name, InvokeKind::Put, std::span<const Variant>(&value, 1));
}

Variant Variant::Call(const QString& name, std::initializer_list<Variant> args) const
{
    return Dispatch(*this, name, InvokeKind::Method,
                    std::span<const Variant>(args.begin(), args.size()));
}

} // namespace automation
