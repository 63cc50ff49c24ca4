#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// A compiled regular expression on the 16-bit PCRE2 library, so that QString texts are matched
// as they are (UTF-16) without conversion. The expression object is read-only once compiled and
// may be used from several threads at once; each match brings its own match data.
//
// The dialect is the one of the VBScript/JScript regular-expression object, which is
// ECMAScript-like: PCRE2 is asked for its JavaScript-compatible behaviour where it has a switch
// for it (\u escapes, [] and [^], unset back-references, "$" only at the very end).
class Pcre2Regex {
public:
    struct Options {
        bool IgnoreCase = false;
        bool Multiline = false;
    };

    // One match: offsets in UTF-16 code units; a group that took no part has Start -1.
    struct Group {
        int Start = -1;
        int Length = 0;
    };
    struct Match {
        std::vector<Group> Groups; // [0] is the whole match
    };

    // Never throws: a pattern that does not compile leaves the object invalid, with the engine's
    // error code and message at hand for the caller to report.
    Pcre2Regex(const QString& pattern, Options options);
    ~Pcre2Regex();
    Pcre2Regex(const Pcre2Regex&) = delete;
    Pcre2Regex& operator=(const Pcre2Regex&) = delete;

    const QString& Pattern() const { return FPattern; }
    Options GetOptions() const { return FOptions; }

    bool IsValid() const { return FCode != nullptr; }
    int CompileError() const { return FCompileError; }             // PCRE2 compile error code
    int CompileErrorOffset() const { return FCompileErrorOffset; } // in code units
    QString CompileErrorText() const;

    // Finds the first match at or after `start`. Returns false when there is none. On an engine
    // failure (match limit, memory) sets `error` to the PCRE2 code (negative) and returns false.
    bool Find(const QString& subject, int start, Match& match, int& error) const;

    // Describes a PCRE2 error code (compile or match) in the engine's own words.
    static QString ErrorText(int code);

private:
    QString FPattern;
    Options FOptions;
    void* FCode = nullptr; // pcre2_code_16*
    bool FJit = false;
    int FCompileError = 0;
    int FCompileErrorOffset = 0;
};
