#pragma once

// Late-bound automation: objects invoked by member name with positional arguments, created by
// class name (ProgID) from a registry of factories. It stands in for the component system of
// the original platform: a converter drives its spreadsheet application through these calls
// alone, without knowing the class behind them.

#include "platform/Exception.h"
#include "platform/automation/Variant.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace automation {

// How a member is invoked: a read passes no arguments and takes a property's value or a method's
// result; an indexed read is a property read with arguments; a put sets a property (its one
// argument is the new value); a method is a call.
enum class InvokeKind : std::uint8_t { Read, IndexedRead, Put, Method };

// A failure of an automation call, with the code the component system gives it. The message is
// the object's own description of the failure when it gave one (a file it cannot open, say),
// otherwise the system's text for the code.
class AutomationError : public Exception {
public:
    explicit AutomationError(int32_t code, const QString& description = QString());
    int32_t Code() const noexcept { return FCode; }

private:
    int32_t FCode;
};

// The system's text for a code: "Type mismatch.", "Invalid class string", ... and
// "Automation error 0x80041234" for a code this layer has no text for.
QString SysErrorMessage(int32_t code);

// "Method 'Name' not supported by automation object": what the dispatcher says about a member
// name the object does not know. Objects throw it from Invoke.
AutomationError UnknownMember(const QString& name);
// A known member invoked in a way it does not support (a put on a method, say).
AutomationError MemberNotFound(const QString& name);

// An object that answers late-bound calls. It is used only on the thread that created it.
class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    // Member names are compared without letter case. A name the object does not know throws
    // UnknownMember(name). Arguments beyond those given count as omitted, as do arguments that
    // are Variant::Missing().
    virtual Variant Invoke(const QString& name, InvokeKind kind, std::span<const Variant> args) = 0;
};

// The argument at position index (0-based), Missing when fewer were given.
const Variant& Argument(std::span<const Variant> args, std::size_t index);
// True when the argument at index was not given or is Missing.
bool IsOmitted(std::span<const Variant> args, std::size_t index);

// --- classes by name ------------------------------------------------------------------------

using AutomationFactory = std::function<std::shared_ptr<AutomationObject>()>;

// Registers (or replaces) the class of progId; names are compared without letter case.
void RegisterAutomationClass(const QString& progId, AutomationFactory factory);
void UnregisterAutomationClass(const QString& progId);
bool IsAutomationClassRegistered(const QString& progId);

// The per-thread initialisation that must come before any object is created on a thread. Kept
// for the order of calls; it costs a flag test.
void InitializeThread();
bool IsThreadInitialized();

// Initialises the calling thread and creates an object of the class registered as progId. A
// class that is not registered, or a factory that fails, throws AutomationError with the
// message "<system text or the factory's message>, ProgID: \"<progId>\"".
std::shared_ptr<AutomationObject> CreateAutomationObject(const QString& progId);

} // namespace automation
