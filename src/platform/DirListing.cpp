#include "platform/DirListing.h"

#include <QFile>
#include <bitset>
#include <dirent.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace DirListing {

namespace {

constexpr size_t MaxTokens = 511;

char16_t Fold(char16_t c)
{
    if (c < 0x80) {
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    return QChar(c).toCaseFolded().unicode();
}

} // namespace

WildcardMask::WildcardMask(const QString& mask)
{
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const char16_t c = mask[i].unicode();
        if (c == u'*') {
            if (!FTokens.empty() && FTokens.back().K == Kind::Star) {
                continue; // "**" is "*"
            }
            FTokens.push_back({Kind::Star, 0});
        } else if (c == u'?') {
            FTokens.push_back({Kind::Question, 0});
        } else if (c == u'.') {
            bool onlyWild = true;
            for (qsizetype j = i + 1; j < mask.size() && onlyWild; ++j) {
                onlyWild = mask[j] == u'*' || mask[j] == u'?';
            }
            FTokens.push_back({onlyWild ? Kind::Dot : Kind::Literal, u'.'});
        } else {
            FTokens.push_back({Kind::Literal, Fold(c)});
        }
    }
    // A name is at most 255 bytes, so a longer mask of literals could never match anyway.
    FTooLong = FTokens.size() > MaxTokens;
    FMatchesAll = !FTokens.empty() && FTokens[0].K == Kind::Star &&
                  (FTokens.size() == 1 || (FTokens.size() == 3 && FTokens[1].K == Kind::Dot &&
                                           FTokens[2].K == Kind::Star));
}

bool WildcardMask::Matches(QStringView name) const
{
    if (FMatchesAll) {
        return true;
    }
    if (FTooLong) {
        return false;
    }
    // Masks are short: the states fit one machine word nearly always.
    return FTokens.size() < 64 ? Run<uint64_t>(name) : Run<std::bitset<MaxTokens + 1>>(name);
}

namespace {

template <typename S> bool Test(const S& s, size_t i)
{
    if constexpr (std::is_same_v<S, uint64_t>) {
        return ((s >> i) & 1u) != 0;
    } else {
        return s.test(i);
    }
}

template <typename S> void Set(S& s, size_t i)
{
    if constexpr (std::is_same_v<S, uint64_t>) {
        s |= uint64_t{1} << i;
    } else {
        s.set(i);
    }
}

template <typename S> bool None(const S& s)
{
    if constexpr (std::is_same_v<S, uint64_t>) {
        return s == 0;
    } else {
        return s.none();
    }
}

} // namespace

template <typename States> bool WildcardMask::Run(QStringView name) const
{
    // A set-of-states simulation of the mask: linear in the name, no backtracking.
    const size_t n = FTokens.size();
    States states{};
    Set(states, 0);
    const auto closure = [&](States& s, bool atEnd, bool atDot) {
        for (size_t i = 0; i < n; ++i) {
            if (!Test(s, i)) {
                continue;
            }
            const Kind k = FTokens[i].K;
            if (k == Kind::Star || (k == Kind::Question && (atEnd || atDot)) ||
                (k == Kind::Dot && atEnd)) {
                Set(s, i + 1);
            }
        }
    };
    for (qsizetype p = 0; p < name.size(); ++p) {
        const char16_t c = Fold(name[p].unicode());
        closure(states, false, c == u'.');
        States next{};
        for (size_t i = 0; i < n; ++i) {
            if (!Test(states, i)) {
                continue;
            }
            const Token& t = FTokens[i];
            switch (t.K) {
            case Kind::Star:
                Set(next, i);
                break;
            case Kind::Question:
                Set(next, i + 1);
                break;
            case Kind::Dot:
            case Kind::Literal:
                if (t.C == c) {
                    Set(next, i + 1);
                }
                break;
            }
        }
        states = next;
        if (None(states)) {
            return false;
        }
    }
    closure(states, true, false);
    return Test(states, n);
}

Listing::Listing(const QString& folder, const QString& mask, uint32_t requested)
    : FFolder(QFile::encodeName(folder)), FMask(mask), FRequested(requested)
{
    FDir = opendir(FFolder.isEmpty() ? "." : FFolder.constData());
}

Listing::~Listing()
{
    if (FDir != nullptr) {
        closedir(static_cast<DIR*>(FDir));
    }
}

bool Listing::Next(Entry& entry)
{
    if (FDir == nullptr) {
        return false;
    }
    while (dirent* d = readdir(static_cast<DIR*>(FDir))) {
        const char* raw = d->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0))) {
            continue;
        }
        uint32_t attr = 0;
        if (raw[0] == '.') {
            attr |= faHidden;
        }
        if ((attr & faHidden) != 0 && (FRequested & faHidden) == 0) {
            continue;
        }
        // The type first, the name after: the type is nearly always free (d_type), while
        // decoding and matching the name is not.
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            // The file system did not say, or the entry is a link whose target decides
            // whether it is a folder.
            const QByteArray path = FFolder + QByteArray(raw);
            struct stat st {};
            if (lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
                attr |= faSymLink;
                struct stat target {};
                if (stat(path.constData(), &target) == 0 && S_ISDIR(target.st_mode)) {
                    attr |= faDirectory;
                }
            } else if (S_ISDIR(st.st_mode)) {
                attr |= faDirectory;
            }
        } else if (type == DT_DIR) {
            attr |= faDirectory;
        }
        if ((attr & faDirectory) != 0 && (FRequested & faDirectory) == 0) {
            continue;
        }
        QString name = QFile::decodeName(raw);
        if (!FMask.Matches(name)) {
            continue;
        }
        if ((attr & (faDirectory | faHidden)) == 0) {
            attr |= faNormal;
        }
        entry.Name = std::move(name);
        entry.Attr = attr;
        return true;
    }
    return false;
}

uint32_t FileAttributes(const QString& path, bool* ok)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    uint32_t attr = 0;
    if (lstat(encoded.constData(), &st) != 0) {
        if (ok != nullptr) {
            *ok = false;
        }
        return 0;
    }
    if (S_ISLNK(st.st_mode)) {
        attr |= faSymLink;
        struct stat target {};
        if (stat(encoded.constData(), &target) == 0 && S_ISDIR(target.st_mode)) {
            attr |= faDirectory;
        }
    } else if (S_ISDIR(st.st_mode)) {
        attr |= faDirectory;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    if (path.mid(slash + 1).startsWith(u'.')) {
        attr |= faHidden;
    }
    if (access(encoded.constData(), W_OK) != 0) {
        attr |= faReadOnly;
    }
    if ((attr & (faDirectory | faHidden | faReadOnly)) == 0) {
        attr |= faNormal;
    }
    if (ok != nullptr) {
        *ok = true;
    }
    return attr;
}

} // namespace DirListing
