#include "batch/VBScriptRegex.h"

#include "platform/Pcre2Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace VBScriptRegex {

const std::vector<TVBScriptErrRec>& VBScriptErrors()
{
    static const std::vector<TVBScriptErrRec> rows = {
        {429, "ActiveX component can't create object"},
        {507, "An exception occurred"},
        {449, "Argument not optional"},
        {17, "Can't perform requested operation"},
        {430, "Class doesn't support Automation"},
        {506, "Class not defined"},
        {11, "Division by zero"},
        {48, "Error in loading DLL"},
        {5020, "Expected ')' in regular expression"},
        {5019, "Expected ']' in regular expression"},
        {432, "File name or class name not found during Automation operation"},
        {92, "For loop not initialized"},
        {5008, "Illegal assignment"},
        {51, "Internal error"},
        {505, "Invalid or unqualified reference"},
        {481, "Invalid picture"},
        {5, "Invalid procedure call or argument"},
        {5021, "Invalid range in character set"},
        {94, "Invalid use of Null"},
        {448, "Named argument not found"},
        {447, "Object doesn't support current locale setting"},
        {445, "Object doesn't support this action"},
        {438, "Object doesn't support this property or method"},
        {451, "Object not a collection"},
        {504, "Object not safe for creating"},
        {503, "Object not safe for initializing"},
        {502, "Object not safe for scripting"},
        {424, "Object required"},
        {91, "Object variable not set"},
        {7, "Out of Memory"},
        {28, "Out of stack space"},
        {14, "Out of string space"},
        {6, "Overflow"},
        {35, "Sub or function not defined"},
        {9, "Subscript out of range"},
        {5017, "Syntax error in regular expression"},
        {462, "The remote server machine does not exist or is unavailable"},
        {10, "This array is fixed or temporarily locked"},
        {13, "Type mismatch"},
        {5018, "Unexpected quantifier"},
        {500, "Variable is undefined"},
        {458, "Variable uses an Automation type not supported in VBScript"},
        {450, "Wrong number of arguments or invalid property assignment"},
    };
    return rows;
}

QString VBScriptErrorMessage(int32_t errorCode)
{
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(errorCode) & 0xFFFFu);
    for (const auto& row : VBScriptErrors()) {
        if (row.Code == low) {
            return QString::fromLatin1(row.Msg);
        }
    }
    return {};
}

namespace {

QString MessageFor(int32_t errorCode, const QString& ownMessage)
{
    QString msg = VBScriptErrorMessage(errorCode);
    return msg.isEmpty() ? ownMessage : msg;
}

} // namespace

ERegexException::ERegexException(int32_t errorCode, const QString& ownMessage)
    : Exception(MessageFor(errorCode, ownMessage)), FErrorCode(errorCode)
{}

int VBScriptCodeForCompileError(int pcre2Error)
{
    switch (pcre2Error) {
    case PCRE2_ERROR_QUANTIFIER_INVALID:
    case PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER:
    case PCRE2_ERROR_QUANTIFIER_TOO_BIG:
        return 5018;
    case PCRE2_ERROR_MISSING_SQUARE_BRACKET:
        return 5019;
    case PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS:
        return 5020;
    case PCRE2_ERROR_CLASS_RANGE_ORDER:
    case PCRE2_ERROR_CLASS_INVALID_RANGE:
        return 5021;
    default:
        return 5017;
    }
}

namespace {

// Engine failures while matching: the limits stand for the stack and memory errors of the
// VBScript runtime, anything else is an internal error.
int VBScriptCodeForMatchError(int pcre2Error)
{
    switch (pcre2Error) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
        return 28;
    case PCRE2_ERROR_NOMEMORY:
    case PCRE2_ERROR_HEAPLIMIT:
        return 7;
    default:
        return 51;
    }
}

class TSubMatches : public ISubMatches {
public:
    TSubMatches(std::vector<QVariant> items) : FItems(std::move(items)) {}
    int Count() const override { return static_cast<int>(FItems.size()); }
    QVariant Item(int index) const override
    {
        if (index < 0 || index >= Count()) {
            throw ERegexException(MakeErrorCode(5), QString());
        }
        return FItems[static_cast<size_t>(index)];
    }

private:
    std::vector<QVariant> FItems;
};

class TMatch : public IMatch {
public:
    TMatch(const QString& subject, const Pcre2Regex::Match& m)
    {
        const auto& whole = m.Groups.at(0);
        FValue = subject.mid(whole.Start, whole.Length);
        FFirstIndex = whole.Start;
        FLength = whole.Length;
        std::vector<QVariant> subs;
        for (size_t i = 1; i < m.Groups.size(); ++i) {
            const auto& g = m.Groups[i];
            subs.push_back(g.Start < 0 ? QVariant() : QVariant(subject.mid(g.Start, g.Length)));
        }
        FSubMatches = std::make_shared<TSubMatches>(std::move(subs));
    }
    QString Value() const override { return FValue; }
    int FirstIndex() const override { return FFirstIndex; }
    int Length() const override { return FLength; }
    std::shared_ptr<ISubMatches> SubMatches() const override { return FSubMatches; }

private:
    QString FValue;
    int FFirstIndex = 0;
    int FLength = 0;
    std::shared_ptr<ISubMatches> FSubMatches;
};

class TMatchCollection : public IMatchCollection {
public:
    explicit TMatchCollection(std::vector<std::shared_ptr<IMatch>> items) : FItems(std::move(items))
    {}
    int Count() const override { return static_cast<int>(FItems.size()); }
    std::shared_ptr<IMatch> Item(int index) const override
    {
        if (index < 0 || index >= Count()) {
            throw ERegexException(MakeErrorCode(5), QString());
        }
        return FItems[static_cast<size_t>(index)];
    }

private:
    std::vector<std::shared_ptr<IMatch>> FItems;
};

class TRegex : public IRegex {
public:
    TRegex(const QString& pattern, TRegexOptions options)
        : FEngine(pattern,
                  Pcre2Regex::Options{(options & roIgnoreCase) != 0, (options & roMultiline) != 0})
    {}

    QString Pattern() const override { return FEngine.Pattern(); }
    bool IgnoreCase() const override { return FEngine.GetOptions().IgnoreCase; }
    bool Multiline() const override { return FEngine.GetOptions().Multiline; }

    bool IsMatch(const QString& input) const override
    {
        Pcre2Regex::Match m;
        return Find(input, 0, m);
    }

    std::shared_ptr<IMatchCollection> Match(const QString& input) const override
    {
        return Collect(input, false);
    }

    std::shared_ptr<IMatchCollection> MatchAll(const QString& input) const override
    {
        return Collect(input, true);
    }

    QString Replace(const QString& input, const QString& replacement) const override
    {
        return DoReplace(input, replacement, false);
    }

    QString ReplaceAll(const QString& input, const QString& replacement) const override
    {
        return DoReplace(input, replacement, true);
    }

private:
    void CheckCompiled() const
    {
        if (!FEngine.IsValid()) {
            const int code = VBScriptCodeForCompileError(FEngine.CompileError());
            throw ERegexException(MakeErrorCode(code), FEngine.CompileErrorText());
        }
    }

    bool Find(const QString& input, int start, Pcre2Regex::Match& m) const
    {
        CheckCompiled();
        int error = 0;
        bool found = FEngine.Find(input, start, m, error);
        if (error != 0) {
            throw ERegexException(MakeErrorCode(VBScriptCodeForMatchError(error)),
                                  Pcre2Regex::ErrorText(error));
        }
        return found;
    }

    // Walks the matches the way the script engines do with Global set: an empty match moves
    // the search on by one character so the walk always ends.
    template <typename F> void ForEachMatch(const QString& input, bool global, F&& onMatch) const
    {
        int start = 0;
        Pcre2Regex::Match m;
        while (start <= input.size() && Find(input, start, m)) {
            onMatch(m);
            if (!global) {
                return;
            }
            const auto& whole = m.Groups[0];
            start = whole.Start + (whole.Length > 0 ? whole.Length : 1);
        }
    }

    std::shared_ptr<IMatchCollection> Collect(const QString& input, bool global) const
    {
        std::vector<std::shared_ptr<IMatch>> items;
        ForEachMatch(input, global, [&](const Pcre2Regex::Match& m) {
            items.push_back(std::make_shared<TMatch>(input, m));
        });
        return std::make_shared<TMatchCollection>(std::move(items));
    }

    static void Expand(const QString& input, const Pcre2Regex::Match& m, const QString& replacement,
                       QString& out)
    {
        const auto& whole = m.Groups[0];
        const int groups = static_cast<int>(m.Groups.size()) - 1;
        for (int i = 0; i < replacement.size(); ++i) {
            const QChar c = replacement[i];
            if (c != u'$' || i + 1 >= replacement.size()) {
                out += c;
                continue;
            }
            const QChar n = replacement[i + 1];
            if (n == u'$') {
                out += u'$';
                ++i;
            } else if (n == u'&') {
                out += input.mid(whole.Start, whole.Length);
                ++i;
            } else if (n == u'`') {
                out += input.left(whole.Start);
                ++i;
            } else if (n == u'\'') {
                out += input.mid(whole.Start + whole.Length);
                ++i;
            } else if (n.isDigit() && n.digitValue() >= 0) {
                // Two digits when that names an existing group, else one ($10 with nine
                // groups is group 1 followed by "0"), else the text stays as written.
                int number = n.digitValue();
                int used = 1;
                if (i + 2 < replacement.size() && replacement[i + 2].isDigit()) {
                    const int two = number * 10 + replacement[i + 2].digitValue();
                    if (two >= 1 && two <= groups) {
                        number = two;
                        used = 2;
                    }
                }
                if (number >= 1 && number <= groups) {
                    const auto& g = m.Groups[static_cast<size_t>(number)];
                    if (g.Start >= 0) {
                        out += input.mid(g.Start, g.Length);
                    }
                    i += used;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
    }

    QString DoReplace(const QString& input, const QString& replacement, bool global) const
    {
        QString out;
        int copied = 0;
        ForEachMatch(input, global, [&](const Pcre2Regex::Match& m) {
            const auto& whole = m.Groups[0];
            out += QStringView(input).mid(copied, whole.Start - copied);
            Expand(input, m, replacement, out);
            copied = whole.Start + whole.Length;
        });
        out += QStringView(input).mid(copied);
        return out;
    }

    Pcre2Regex FEngine;
};

} // namespace

std::shared_ptr<IRegex> Regex::Compile(const QString& pattern, TRegexOptions options)
{
    return std::make_shared<TRegex>(pattern, options);
}

bool Regex::IsMatch(const QString& pattern, TRegexOptions options, const QString& input)
{
    return Compile(pattern, options)->IsMatch(input);
}

QString Regex::Replace(const QString& pattern, const QString& input, const QString& replacement)
{
    return Compile(pattern, 0)->Replace(input, replacement);
}

} // namespace VBScriptRegex
