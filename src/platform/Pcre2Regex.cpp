#include "platform/Pcre2Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>

namespace {

pcre2_code_16* Code(void* p)
{
    return static_cast<pcre2_code_16*>(p);
}

PCRE2_SPTR16 Units(const QString& s)
{
    return reinterpret_cast<PCRE2_SPTR16>(s.utf16());
}

// One block of match data per thread, grown when a pattern has more groups: the file filter
// tests every listed path, and an allocation per test would cost more than the test.
class ThreadMatchData {
public:
    ~ThreadMatchData()
    {
        if (FData != nullptr) {
            pcre2_match_data_free_16(FData);
        }
    }
    // Match data with room for the whole match and `groups` capture groups.
    pcre2_match_data_16* For(uint32_t groups)
    {
        if (FData == nullptr || FPairs < groups + 1) {
            if (FData != nullptr) {
                pcre2_match_data_free_16(FData);
            }
            FPairs = std::max<uint32_t>(groups + 1, 16);
            FData = pcre2_match_data_create_16(FPairs, nullptr);
        }
        return FData;
    }

private:
    pcre2_match_data_16* FData = nullptr;
    uint32_t FPairs = 0;
};

thread_local ThreadMatchData tMatchData;

} // namespace

Pcre2Regex::Pcre2Regex(const QString& pattern, Options options)
    : FPattern(pattern), FOptions(options)
{
    // UTF mode gives Unicode case folding for IgnoreCase; invalid UTF-16 (a lone surrogate in a
    // file name) is still matched instead of failing the whole test.
    uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX |
                     PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF;
    if (options.IgnoreCase) {
        flags |= PCRE2_CASELESS;
    }
    if (options.Multiline) {
        flags |= PCRE2_MULTILINE;
    } else {
        flags |= PCRE2_DOLLAR_ENDONLY;
    }
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code_16* code = pcre2_compile_16(Units(pattern), static_cast<PCRE2_SIZE>(pattern.size()),
                                           flags, &error, &offset, nullptr);
    if (code == nullptr) {
        FCompileError = error;
        FCompileErrorOffset = static_cast<int>(offset);
        return;
    }
    FCode = code;
    // JIT makes the per-file test cheap; an engine without JIT support simply interprets.
    FJit = pcre2_jit_compile_16(code, PCRE2_JIT_COMPLETE) == 0;
}

Pcre2Regex::~Pcre2Regex()
{
    if (FCode != nullptr) {
        pcre2_code_free_16(Code(FCode));
    }
}

QString Pcre2Regex::CompileErrorText() const
{
    if (FCompileError == 0) {
        return {};
    }
    return ErrorText(FCompileError);
}

QString Pcre2Regex::ErrorText(int code)
{
    PCRE2_UCHAR16 buffer[256];
    int n = pcre2_get_error_message_16(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (n < 0) {
        return QStringLiteral("regular expression error %1").arg(code);
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), n);
}

bool Pcre2Regex::Find(const QString& subject, int start, Match& match, int& error) const
{
    error = 0;
    match.Groups.clear();
    if (FCode == nullptr || start < 0 || start > subject.size()) {
        return false;
    }
    uint32_t groups = 0;
    pcre2_pattern_info_16(Code(FCode), PCRE2_INFO_CAPTURECOUNT, &groups);
    pcre2_match_data_16* data = tMatchData.For(groups);
    if (data == nullptr) {
        error = PCRE2_ERROR_NOMEMORY;
        return false;
    }
    const auto length = static_cast<PCRE2_SIZE>(subject.size());
    int rc = FJit ? pcre2_jit_match_16(Code(FCode), Units(subject), length,
                                       static_cast<PCRE2_SIZE>(start), 0, data, nullptr)
                  : pcre2_match_16(Code(FCode), Units(subject), length,
                                   static_cast<PCRE2_SIZE>(start), 0, data, nullptr);
    bool found = false;
    if (rc >= 0) {
        found = true;
        // Every group of the pattern is reported; those past the highest one that took part
        // (rc) are unset.
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(data);
        match.Groups.resize(groups + 1);
        for (uint32_t i = 0; i <= groups; ++i) {
            const PCRE2_SIZE a = ovector[2 * i];
            const PCRE2_SIZE b = ovector[2 * i + 1];
            if (a == PCRE2_UNSET || i >= static_cast<uint32_t>(rc)) {
                match.Groups[i] = Group{};
            } else {
                match.Groups[i] = Group{static_cast<int>(a), static_cast<int>(b - a)};
            }
        }
    } else if (rc != PCRE2_ERROR_NOMATCH) {
        error = rc;
    }
    return found;
}
