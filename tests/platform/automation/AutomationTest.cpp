// The automation layer: Variant conversions, late-bound calls and their failures, the class
// registry and CreateAutomationObject.

#include "platform/automation/Automation.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <thread>

using namespace automation;

namespace {

// Records every call and answers a few members.
class Recorder : public AutomationObject {
public:
    QStringList Calls;

    Variant Invoke(const QString& name, InvokeKind kind, std::span<const Variant> args) override
    {
        QStringList parts;
        for (const Variant& a : args) {
            parts.append(a.IsMissing() ? QStringLiteral("<missing>")
                                       : VarTypeName(a.Type()) + u':' + a.ToString());
        }
        Calls.append(
            QStringLiteral("%1 %2(%3)").arg(static_cast<int>(kind)).arg(name, parts.join(u',')));
        if (name.compare(QLatin1String("Fail"), Qt::CaseInsensitive) == 0) {
            throw AutomationError(DISP_E_EXCEPTION, QStringLiteral("the object's own words"));
        }
        if (name.compare(QLatin1String("Value"), Qt::CaseInsensitive) == 0) {
            return QStringLiteral("v");
        }
        throw UnknownMember(name);
    }
};

std::string Message(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const Exception& e) {
        return e.Message().toStdString();
    }
    return "(no error)";
}

} // namespace

// --- Variant --------------------------------------------------------------------------------

TEST(VariantTest, KeepsItsTypeAndValue)
{
    EXPECT_EQ(Variant().Type(), VarType::Empty);
    EXPECT_EQ(Variant::Null().Type(), VarType::Null);
    EXPECT_EQ(Variant(true).Type(), VarType::Boolean);
    EXPECT_EQ(Variant(int16_t{-4158}).Type(), VarType::Int16);
    EXPECT_EQ(Variant(int16_t{-4158}).ToInt32(), -4158);
    EXPECT_EQ(Variant(7).Type(), VarType::Int32);
    EXPECT_EQ(Variant(2.5).Type(), VarType::Double);
    // A string literal is text, not a Boolean.
    EXPECT_EQ(Variant("a.xls").Type(), VarType::Text);
    EXPECT_EQ(Variant("a.xls").ToString(), "a.xls");

    const Variant missing = Variant::Missing();
    EXPECT_TRUE(missing.IsError());
    EXPECT_TRUE(missing.IsMissing());
    EXPECT_EQ(missing.ErrorValue(), DISP_E_PARAMNOTFOUND);
    EXPECT_FALSE(Variant::ErrorCode(DISP_E_TYPEMISMATCH).IsMissing());

    // An object reference is shared, and a null reference is Null.
    auto object = std::make_shared<Recorder>();
    const Variant a(object);
    const Variant b = a; // NOLINT(performance-unnecessary-copy-initialization): the copy is tested
    EXPECT_TRUE(b.IsObject());
    EXPECT_EQ(b.Object().get(), object.get());
    EXPECT_TRUE(Variant(std::shared_ptr<Recorder>()).IsNull());
    EXPECT_EQ(Variant(5).Object(), nullptr);
}

struct Conversion {
    Variant Value;
    std::optional<bool> Bool; // nothing: the conversion fails
    std::optional<int32_t> Int;
    std::optional<QString> Text;
};

TEST(VariantTest, ConvertsLikeTheVariantArithmetic)
{
    const std::vector<Conversion> cases = {
        {Variant(), false, 0, QString()},
        {Variant::Null(), std::nullopt, std::nullopt, std::nullopt},
        {Variant(true), true, -1, "True"},
        {Variant(false), false, 0, "False"},
        {Variant(int16_t{-4158}), true, -4158, "-4158"},
        {Variant(0), false, 0, "0"},
        {Variant(16.0), true, 16, "16"},
        {Variant(2.5), true, 2, "2.5"}, // half to even
        {Variant(3.5), true, 4, "3.5"},
        {Variant(-2.5), true, -2, "-2.5"},
        {Variant(0.1 + 0.2), true, 0, "0.3"},
        {Variant(1e10), true, std::nullopt, "10000000000"}, // out of Integer's range
        {Variant(std::numeric_limits<double>::quiet_NaN()), true, std::nullopt, "nan"},
        {Variant("16.0"), true, 16, "16.0"},
        {Variant(" 42 "), true, 42, " 42 "},
        {Variant("TRUE"), true, std::nullopt, "TRUE"},
        {Variant("false"), false, std::nullopt, "false"},
        {Variant("abc"), std::nullopt, std::nullopt, "abc"},
        {Variant(""), std::nullopt, std::nullopt, ""},
        {Variant::Missing(), std::nullopt, std::nullopt, std::nullopt},
        {Variant(std::make_shared<Recorder>()), std::nullopt, std::nullopt, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Conversion& c = cases[i];
        SCOPED_TRACE(testing::Message()
                     << "case " << i << " type " << VarTypeName(c.Value.Type()).toStdString());
        if (c.Bool) {
            EXPECT_EQ(c.Value.ToBool(), *c.Bool);
        } else {
            EXPECT_THROW(c.Value.ToBool(), AutomationError);
        }
        if (c.Int) {
            EXPECT_EQ(c.Value.ToInt32(), *c.Int);
        } else {
            EXPECT_THROW(c.Value.ToInt32(), AutomationError);
        }
        if (c.Text) {
            EXPECT_EQ(c.Value.ToString().toStdString(), c.Text->toStdString());
        } else {
            EXPECT_THROW(c.Value.ToString(), AutomationError);
        }
    }
}

TEST(VariantTest, AFailedConversionSaysWhatWasConvertedToWhat)
{
    try {
        (void)Variant("abc").ToInt32();
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Code(), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(e.Message(), "Cannot convert a value of type String to Integer");
    }
    try {
        (void)Variant(1e10).ToInt32();
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Code(), DISP_E_OVERFLOW);
    }
}

// --- calls ----------------------------------------------------------------------------------

TEST(DispatchTest, PassesNameKindAndArgumentsByPosition)
{
    auto object = std::make_shared<Recorder>();
    const Variant v(object);
    EXPECT_EQ(v.Get("Value").ToString(), "v");
    EXPECT_THROW(v.Get("Sheets", {Variant(2)}), AutomationError);
    EXPECT_THROW(v.Put("DisplayAlerts", Variant(false)), AutomationError);
    EXPECT_THROW(v.Call("Open", {Variant("a.xls"), Variant::Missing(), Variant(true)}),
                 AutomationError);
    EXPECT_EQ(object->Calls,
              (QStringList{"0 Value()", "1 Sheets(Integer:2)", "2 DisplayAlerts(Boolean:False)",
                           "3 Open(String:a.xls,<missing>,Boolean:True)"}));
}

TEST(DispatchTest, FailuresCarryTheirMessages)
{
    const Variant v(std::make_shared<Recorder>());
    EXPECT_EQ(Message([&] { v.Call("Frobnicate"); }),
              "Method 'Frobnicate' not supported by automation object");
    EXPECT_EQ(Message([&] { v.Call("Fail"); }), "the object's own words");
    for (const Variant& none : {Variant(), Variant::Null(), Variant(3), Variant("Excel")}) {
        EXPECT_EQ(Message([&] { none.Get("Version"); }),
                  "Variant does not reference an automation object");
        EXPECT_EQ(Message([&] { none.Call("Quit"); }),
                  "Variant does not reference an automation object");
    }
}

TEST(DispatchTest, ErrorsWithoutADescriptionUseTheSystemText)
{
    EXPECT_EQ(AutomationError(DISP_E_TYPEMISMATCH).Message(), "Type mismatch.");
    EXPECT_EQ(AutomationError(DISP_E_TYPEMISMATCH, "own").Message(), "own");
    EXPECT_EQ(AutomationError(CO_E_CLASSSTRING).Message(), "Invalid class string");
    EXPECT_EQ(AutomationError(static_cast<int32_t>(0x80041234)).Message(),
              "Automation error 0x80041234");
    // It is the program's error class, so a conversion records it on the item.
    const Exception& asException = AutomationError(E_FAIL);
    EXPECT_EQ(asException.Message(), "Unspecified error");
}

TEST(DispatchTest, OmittedArguments)
{
    const std::vector<Variant> args{Variant("a"), Variant::Missing()};
    EXPECT_FALSE(IsOmitted(args, 0));
    EXPECT_TRUE(IsOmitted(args, 1));
    EXPECT_TRUE(IsOmitted(args, 7));
    EXPECT_TRUE(Argument(args, 7).IsMissing());
}

// --- classes by name ------------------------------------------------------------------------

TEST(RegistryTest, CreatesByClassNameWithoutLetterCase)
{
    int made = 0;
    RegisterAutomationClass("Test.Recorder", [&] {
        ++made;
        return std::make_shared<Recorder>();
    });
    EXPECT_TRUE(IsAutomationClassRegistered("TEST.RECORDER"));
    EXPECT_NE(CreateAutomationObject("test.recorder"), nullptr);
    EXPECT_NE(CreateAutomationObject("Test.Recorder"), nullptr);
    EXPECT_EQ(made, 2);
    UnregisterAutomationClass("Test.Recorder");
    EXPECT_FALSE(IsAutomationClassRegistered("Test.Recorder"));
}

TEST(RegistryTest, CreationFailuresNameTheProgID)
{
    try {
        CreateAutomationObject("Nobody.Here");
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Message(), "Invalid class string, ProgID: \"Nobody.Here\"");
        EXPECT_EQ(e.Code(), CO_E_CLASSSTRING);
    }

    RegisterAutomationClass("Test.Broken", []() -> std::shared_ptr<AutomationObject> {
        throw AutomationError(E_OUTOFMEMORY, "no room for it");
    });
    EXPECT_EQ(Message([] { CreateAutomationObject("Test.Broken"); }),
              "no room for it, ProgID: \"Test.Broken\"");
    RegisterAutomationClass("Test.Broken", []() -> std::shared_ptr<AutomationObject> {
        throw std::runtime_error("plain failure");
    });
    EXPECT_EQ(Message([] { CreateAutomationObject("Test.Broken"); }),
              "plain failure, ProgID: \"Test.Broken\"");
    RegisterAutomationClass("Test.Broken", [] { return std::shared_ptr<AutomationObject>(); });
    EXPECT_EQ(Message([] { CreateAutomationObject("Test.Broken"); }),
              "No such interface supported, ProgID: \"Test.Broken\"");
    UnregisterAutomationClass("Test.Broken");
}

TEST(RegistryTest, CreationInitialisesTheCallingThreadOnly)
{
    bool before = true;
    bool after = false;
    std::thread([&] {
        before = IsThreadInitialized();
        try {
            CreateAutomationObject("Nobody.Here");
        } catch (const AutomationError&) {
        }
        after = IsThreadInitialized();
    }).join();
    EXPECT_FALSE(before);
    EXPECT_TRUE(after);
    bool other = true;
    std::thread([&] { other = IsThreadInitialized(); }).join();
    EXPECT_FALSE(other);
}
