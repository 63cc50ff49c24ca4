#pragma once

// Directory listing with the DOS wildcard rules, matched on the long names with letter case
// ignored, and the file attributes mapped onto the bits the batch's search works with:
//   hidden    = a name that begins with "."
//   directory = a folder; a symbolic link to a folder carries it together with faSymLink and is
//               never entered (no loops)
//   read-only = no write permission (only from FileAttributes, since it costs a system call)

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace DirListing {

enum : uint32_t {
    faReadOnly = 0x001,
    faHidden = 0x002,
    faSysFile = 0x004,
    faVolumeId = 0x008,
    faDirectory = 0x010,
    faArchive = 0x020,
    faNormal = 0x080,
    faSymLink = 0x400, // above the nine bits the search looks at
};

// A DOS wildcard mask compiled once and matched against many names:
//   "*" matches any run of characters, dots included;
//   "?" matches one character, or nothing at the end of the name or before a ".";
//   a "." that ends the mask, or is followed only by "*" and "?", also matches the end of a name
//       without a dot, so "*.*" lists every name;
//   everything else matches itself, letter case ignored.
class WildcardMask {
public:
    explicit WildcardMask(const QString& mask);
    bool Matches(QStringView name) const;
    bool IsEmpty() const { return FTokens.empty(); }

private:
    template <typename States> bool Run(QStringView name) const;

    enum class Kind : uint8_t { Literal, Star, Question, Dot };
    struct Token {
        Kind K;
        char16_t C; // case-folded, for Literal
    };
    std::vector<Token> FTokens;
    bool FTooLong = false;
    bool FMatchesAll = false; // "*", "*.*": no need to look at the name
};

struct Entry {
    QString Name;
    uint32_t Attr = 0;
};

// One open listing of folder + mask. `folder` ends with "/" or is empty (the current folder).
// Entries whose attributes include faHidden or faDirectory are left out unless `requested`
// contains that bit, as the platform's find-file functions do. "." and ".." are never returned.
// A folder that cannot be opened yields no entries.
class Listing {
public:
    Listing(const QString& folder, const QString& mask, uint32_t requested);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    bool Next(Entry& entry);

private:
    void* FDir = nullptr; // DIR*
    QByteArray FFolder;   // encoded, with trailing "/" (or empty)
    WildcardMask FMask;
    uint32_t FRequested;
};

// The attributes of one path (following a final symbolic link for the read-only test); 0 with
// ok = false when it does not exist.
uint32_t FileAttributes(const QString& path, bool* ok = nullptr);

} // namespace DirListing
