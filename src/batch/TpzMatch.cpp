#include "batch/TpzMatch.h"

#include "batch/VBScriptRegex.h"

#include <array>

namespace {

// The filter tests up to two expressions per listed file, the same two for a whole search.
// Compiling them for every file would cost more than the listing itself, so each thread keeps
// the few it used last. Nothing is shared between threads, and a compiled expression answers
// exactly as a fresh one would.
struct CacheEntry {
    QString Pattern;
    std::shared_ptr<VBScriptRegex::IRegex> Regex;
};
constexpr size_t CacheSize = 4;
thread_local std::array<CacheEntry, CacheSize> tCache;
thread_local size_t tNextSlot = 0;

std::shared_ptr<VBScriptRegex::IRegex> CompiledFor(const QString& pattern)
{
    for (const auto& entry : tCache) {
        if (entry.Regex && entry.Pattern == pattern) {
            return entry.Regex;
        }
    }
    auto regex = VBScriptRegex::Regex::Compile(pattern, VBScriptRegex::roIgnoreCase);
    tCache[tNextSlot] = CacheEntry{pattern, regex};
    tNextSlot = (tNextSlot + 1) % CacheSize;
    return regex;
}

} // namespace

bool TpzMatch::Matches(const QString& fileName, const QString& pattern)
{
    try {
        return CompiledFor(pattern)->IsMatch(fileName);
    } catch (...) {
        return true;
    }
}
