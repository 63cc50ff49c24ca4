#pragma once

// The regular-expression wrapper: the interface of the VBScript RegExp object (Pattern,
// IgnoreCase, Multiline, Test, Execute, Replace) over the PCRE2 engine, with the VBScript error
// table so that users see the messages they know from that object.

#include "platform/Exception.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

namespace VBScriptRegex {

enum TRegexOption : unsigned { roIgnoreCase = 1u << 0, roMultiline = 1u << 1 };
using TRegexOptions = unsigned;

// The automation error codes of the VBScript runtime: FACILITY_CONTROL (0x800A0000) plus the
// number of the error-table row.
constexpr uint32_t VBScriptFacility = 0x800A0000u;
constexpr int32_t MakeErrorCode(int code)
{
    return static_cast<int32_t>(VBScriptFacility | static_cast<uint32_t>(code & 0xFFFF));
}

struct TVBScriptErrRec {
    int32_t Code;
    const char* Msg;
};

// The 43 rows, searched from the first.
const std::vector<TVBScriptErrRec>& VBScriptErrors();

// The message of the row whose Code equals the low 16 bits of `errorCode`; empty when none.
QString VBScriptErrorMessage(int32_t errorCode);

class ERegexException : public Exception {
public:
    // The message is the table's text for the code, or `ownMessage` when no row has it.
    ERegexException(int32_t errorCode, const QString& ownMessage);
    int32_t ErrorCode() const { return FErrorCode; }

private:
    int32_t FErrorCode;
};

class ISubMatches {
public:
    virtual ~ISubMatches() = default;
    virtual int Count() const = 0;
    // The text of group `index` (0-based), or an invalid QVariant (Empty) for a group that took
    // no part in the match.
    virtual QVariant Item(int index) const = 0;
};

class IMatch {
public:
    virtual ~IMatch() = default;
    virtual QString Value() const = 0;
    virtual int FirstIndex() const = 0;
    virtual int Length() const = 0;
    virtual std::shared_ptr<ISubMatches> SubMatches() const = 0;
};

class IMatchCollection {
public:
    virtual ~IMatchCollection() = default;
    virtual int Count() const = 0;
    // Raises ERegexException "Invalid procedure call or argument" for an index out of range.
    virtual std::shared_ptr<IMatch> Item(int index) const = 0;
};

class IRegex {
public:
    virtual ~IRegex() = default;
    virtual QString Pattern() const = 0;
    virtual bool IgnoreCase() const = 0;
    virtual bool Multiline() const = 0;
    // Each raises ERegexException when the pattern does not compile or the engine fails.
    virtual bool IsMatch(const QString& input) const = 0;
    virtual std::shared_ptr<IMatchCollection> Match(const QString& input) const = 0;
    virtual std::shared_ptr<IMatchCollection> MatchAll(const QString& input) const = 0;
    // The replacement understands $1..$99, $&, $`, $' and $$, as the VBScript object does.
    virtual QString Replace(const QString& input, const QString& replacement) const = 0;
    virtual QString ReplaceAll(const QString& input, const QString& replacement) const = 0;
};

class Regex {
public:
    // Never fails: like the platform object, a bad pattern is reported by the first operation
    // that uses it.
    static std::shared_ptr<IRegex> Compile(const QString& pattern, TRegexOptions options);
    static bool IsMatch(const QString& pattern, TRegexOptions options, const QString& input);
    // Replaces the first match only, case-sensitively.
    static QString Replace(const QString& pattern, const QString& input,
                           const QString& replacement);
};

// The VBScript code for a PCRE2 compile error where the two correspond (syntax, unexpected
// quantifier, missing "]" or ")", invalid range); 5017 (syntax error) otherwise.
int VBScriptCodeForCompileError(int pcre2Error);

} // namespace VBScriptRegex
