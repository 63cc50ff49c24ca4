#include "platform/automation/Automation.h"

#include "platform/ClassRegistry.h"

namespace automation {

namespace {

platform::ClassRegistry<AutomationFactory>& Classes()
{
    static platform::ClassRegistry<AutomationFactory> registry; // by ProgID
    return registry;
}

AutomationFactory FindClass(const QString& progId)
{
    return Classes().Find(progId);
}

thread_local bool ThreadInitialized = false;

[[noreturn]] void CreationFailed(const QString& text, int32_t code, const QString& progId)
{
    throw AutomationError(code, QStringLiteral("%1, ProgID: \"%2\"").arg(text, progId));
}

} // namespace

AutomationError::AutomationError(int32_t code, const QString& description)
    : Exception(description.isEmpty() ? SysErrorMessage(code) : description), FCode(code)
{}

QString SysErrorMessage(int32_t code)
{
    switch (code) {
    case E_FAIL:
        return QStringLiteral("Unspecified error");
    case E_NOINTERFACE:
        return QStringLiteral("No such interface supported");
    case E_OUTOFMEMORY:
        return QStringLiteral("Not enough memory resources are available to complete this "
                              "operation.");
    case E_INVALIDARG:
        return QStringLiteral("The parameter is incorrect.");
    case DISP_E_MEMBERNOTFOUND:
        return QStringLiteral("Member not found.");
    case DISP_E_PARAMNOTFOUND:
        return QStringLiteral("Parameter not found.");
    case DISP_E_TYPEMISMATCH:
        return QStringLiteral("Type mismatch.");
    case DISP_E_UNKNOWNNAME:
        return QStringLiteral("Unknown name.");
    case DISP_E_EXCEPTION:
        return QStringLiteral("Exception occurred.");
    case DISP_E_OVERFLOW:
        return QStringLiteral("Out of present range.");
    case DISP_E_BADINDEX:
        return QStringLiteral("Invalid index.");
    case DISP_E_BADPARAMCOUNT:
        return QStringLiteral("Invalid number of parameters.");
    case REGDB_E_CLASSNOTREG:
        return QStringLiteral("Class not registered");
    case CO_E_CLASSSTRING:
        return QStringLiteral("Invalid class string");
    case RPC_E_DISCONNECTED:
        return QStringLiteral("The object invoked has disconnected from its clients.");
    default:
        return QStringLiteral("Automation error 0x%1")
            .arg(QString::number(static_cast<uint32_t>(code), 16)
                     .toUpper()
                     .rightJustified(8, QLatin1Char('0')));
    }
}

AutomationError UnknownMember(const QString& name)
{
    return AutomationError(
        DISP_E_UNKNOWNNAME,
        QStringLiteral("Method '%1' not supported by automation object").arg(name));
}

AutomationError MemberNotFound(const QString& name)
{
    return AutomationError(
        DISP_E_MEMBERNOTFOUND,
        QStringLiteral("Member not found: '%1' cannot be used that way").arg(name));
}

const Variant& Argument(std::span<const Variant> args, std::size_t index)
{
    static const Variant missing = Variant::Missing();
    return index < args.size() ? args[index] : missing;
}

bool IsOmitted(std::span<const Variant> args, std::size_t index)
{
    return Argument(args, index).IsMissing();
}

void RegisterAutomationClass(const QString& progId, AutomationFactory factory)
{
    Classes().Register(progId, std::move(factory));
}

void UnregisterAutomationClass(const QString& progId)
{
    Classes().Unregister(progId);
}

bool IsAutomationClassRegistered(const QString& progId)
{
    return static_cast<bool>(FindClass(progId));
}

void InitializeThread()
{
    ThreadInitialized = true;
}

bool IsThreadInitialized()
{
    return ThreadInitialized;
}

std::shared_ptr<AutomationObject> CreateAutomationObject(const QString& progId)
{
    InitializeThread();
    const AutomationFactory factory = FindClass(progId);
    if (!factory) {
        CreationFailed(SysErrorMessage(CO_E_CLASSSTRING), CO_E_CLASSSTRING, progId);
    }
    std::shared_ptr<AutomationObject> object;
    try {
        object = factory();
    } catch (const AutomationError& error) {
        CreationFailed(error.Message(), error.Code(), progId);
    } catch (const Exception& error) {
        CreationFailed(error.Message(), E_FAIL, progId);
    } catch (const std::exception& error) {
        CreationFailed(QString::fromLocal8Bit(error.what()), E_FAIL, progId);
    }
    if (!object) {
        CreationFailed(SysErrorMessage(E_NOINTERFACE), E_NOINTERFACE, progId);
    }
    return object;
}

} // namespace automation
