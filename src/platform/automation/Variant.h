#pragma once

// The value that travels through late-bound automation calls: empty, null, a Boolean, a 16- or
// 32-bit integer, a double, a text, an error code (the missing optional argument among them) or
// a reference to an automation object.

#include <QString>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>

namespace automation {

class AutomationObject;

// The codes of the automation layer, as the component system numbers them.
enum : int32_t {
    E_FAIL = static_cast<int32_t>(0x80004005),
    E_NOINTERFACE = static_cast<int32_t>(0x80004002),
    E_OUTOFMEMORY = static_cast<int32_t>(0x8007000E),
    E_INVALIDARG = static_cast<int32_t>(0x80070057),
    DISP_E_MEMBERNOTFOUND = static_cast<int32_t>(0x80020003),
    DISP_E_PARAMNOTFOUND = static_cast<int32_t>(0x80020004),
    DISP_E_TYPEMISMATCH = static_cast<int32_t>(0x80020005),
    DISP_E_UNKNOWNNAME = static_cast<int32_t>(0x80020006),
    DISP_E_EXCEPTION = static_cast<int32_t>(0x80020009),
    DISP_E_OVERFLOW = static_cast<int32_t>(0x8002000A),
    DISP_E_BADINDEX = static_cast<int32_t>(0x8002000B),
    DISP_E_BADPARAMCOUNT = static_cast<int32_t>(0x8002000E),
    REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154),
    CO_E_CLASSSTRING = static_cast<int32_t>(0x800401F3),
    RPC_E_DISCONNECTED = static_cast<int32_t>(0x80010108),
};

enum class VarType : std::uint8_t {
    Empty,
    Null,
    Boolean,
    Int16,
    Int32,
    Double,
    Text,
    Error,
    Object
};

// A name for the type, for messages: "Empty", "Null", "Boolean", "Smallint", "Integer",
// "Double", "String", "Error", "Dispatch".
QString VarTypeName(VarType type);

class Variant {
public:
    Variant() = default; // Empty
    Variant(bool value) : FType(VarType::Boolean), FInt(value ? 1 : 0) {}
    Variant(int16_t value) : FType(VarType::Int16), FInt(value) {}
    Variant(int32_t value) : FType(VarType::Int32), FInt(value) {}
    Variant(double value) : FType(VarType::Double), FDouble(value) {}
    Variant(const QString& value) : FType(VarType::Text), FText(value) {}
    // Without this, a string literal would turn into a Boolean.
    Variant(const char* value) : Variant(QString::fromUtf8(value)) {}
    template <class T>
    requires std::derived_from<T, AutomationObject> Variant(std::shared_ptr<T> object)
        : FType(object ? VarType::Object : VarType::Null), FObject(std::move(object))
    {}

    static Variant Null();
    static Variant ErrorCode(int32_t code);
    // The value passed for an optional argument that is left out: an error holding
    // DISP_E_PARAMNOTFOUND.
    static Variant Missing() { return ErrorCode(DISP_E_PARAMNOTFOUND); }

    VarType Type() const { return FType; }
    bool IsEmpty() const { return FType == VarType::Empty; }
    bool IsNull() const { return FType == VarType::Null; }
    bool IsObject() const { return FType == VarType::Object; }
    bool IsError() const { return FType == VarType::Error; }
    bool IsMissing() const;
    bool IsNumber() const;
    // The code of an error value; 0 for any other type.
    int32_t ErrorValue() const;

    // Conversions as the variant arithmetic does them. A value that cannot be converted throws
    // AutomationError (DISP_E_TYPEMISMATCH, or DISP_E_OVERFLOW for a number out of range).
    // Booleans are numbers too: true is -1, false 0. A double becomes an integer by rounding
    // half to even. Text is read as a number in the C notation ("2.5", "-4158").
    bool ToBool() const;
    int32_t ToInt32() const;
    double ToDouble() const;
    // Numbers in their shortest form ("16", "2.5"), Booleans as "True" and "False", Empty as "".
    QString ToString() const;
    // The referenced object; empty for every other type.
    std::shared_ptr<AutomationObject> Object() const;

    // Late-bound calls on the referenced object, by member name, arguments by position. A
    // Variant that references no object throws AutomationError with "Variant does not
    // reference an automation object".
    Variant Get(const QString& name) const;                                       // read
    Variant Get(const QString& name, std::initializer_list<Variant> index) const; // indexed read
    void Put(const QString& name, const Variant& value) const;
    Variant Call(const QString& name, std::initializer_list<Variant> args = {}) const;

private:
    // The value as a number, as ToDouble reads it; false for a type that is not one.
    bool Number(double& out) const;

    // Plain members rather than a std::variant: the type tag says which one holds the value.
    VarType FType = VarType::Empty;
    int32_t FInt = 0; // Boolean (0 or 1), Int16, Int32 and Error
    double FDouble = 0;
    QString FText;
    std::shared_ptr<AutomationObject> FObject;
};

} // namespace automation
