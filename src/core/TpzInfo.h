#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>

class QObject;

// Product information: the usage counters kept in a small store file beside the executable,
// the links to the help file, the web site and the support mailbox, the notices of errors, and
// the handler of errors that nothing else caught.
//
// Store entries: the counters "R" (starts), "C" (runs), "A" (files listed), "S" (converted),
// "F" (failed), "E" (unhandled errors), "H" (help opened), "W" (spreadsheet engine version),
// then "v" (store format, "2") and "+" (quiet flag: no notice links when true). Entries whose
// name begins with A-Z are counters and travel in links.
//
// Threads: AddCount is reached from worker threads; one lock serialises every read and change
// of the store and the writing of its file.
class TpzInfo {
public:
    // Where the maker lives on the web and where support mail goes.
    static constexpr const char* WebSite = "https://www.tabulix.example";
    static constexpr const char* SupportMail = "support@tabulix.example";

    // Reads the store beside exeName (its extension replaced by ".ext") and counts one start.
    // The install stamp is the creation time of the executable's folder.
    explicit TpzInfo(const QString& exeName);
    // Saves the store; a store that cannot be written is given up silently.
    ~TpzInfo();
    TpzInfo(const TpzInfo&) = delete;
    TpzInfo& operator=(const TpzInfo&) = delete;

    // Sets a counter to value, or, when value is 0 or less, adds increment to its current
    // number (0 when missing or not a number). Saves the store when the text changed. A store
    // file that cannot be written leaves the counters in memory only; nothing is reported.
    void AddCount(const QString& name, int64_t value, int64_t increment);

    // Opens the help file (page "h"), a mail to support (page "supports"), a page of the web
    // site (any other page), the home page (no page, no action) or a notice (no page, an
    // action: "ins", "uni", "err&e=" + message). Notices are not opened when IsQuiet.
    //
    // Pass raw text: every query value is escaped here (space, "&", "#", "%", "+", "?",
    // controls and non-ASCII as UTF-8 percent codes), so a message cannot add query keys of its
    // own. An action of the form "name&key=rest" gives the pairs a=name and key=rest, both
    // escaped. A caller that turns "?" into "%3F" itself would see it escaped twice. extra is
    // a query fragment of the caller's own ("k=v&k2=v2") and keeps its "&" and "="; only
    // characters that cannot stand in a link are escaped there.
    void OpenLink(const QString& page, const QString& action, const QString& extra);
    // The link OpenLink would open; empty when it would open nothing.
    QString LinkFor(const QString& page, const QString& action, const QString& extra) const;

    // The handler of errors nobody caught (window mode): counts "E" and opens the error notice.
    // Never throws, never shows anything.
    void AppException(QObject* sender, const std::exception& error);
    void AppException(QObject* sender, const QString& message);

    // The "+" entry read as a Boolean; false when missing or unreadable.
    bool IsQuiet() const;

    // The store's current entries (name=value lines in store order), and one entry's value.
    QStringList StoreLines() const;
    QString StoreValue(const QString& name) const;
    void SetStoreValue(const QString& name, const QString& value);

    int32_t Stamp() const { return FStamp; }
    const QString& StoreFile() const { return FStoreFile; }

    // The store file's text format: the key as 8 hex digits, each scrambled character as 3 hex
    // digits, then the sum of all code units before it as 8 hex digits. Decode returns false
    // when the text fails any check (length, key, check sum, digits).
    static QString EncodeStore(const QString& storeText, int32_t key);
    static bool DecodeStore(const QString& fileText, int32_t key, QString* storeText);

private:
    void LoadStore();
    bool TryLoad(int32_t key);
    void SaveStoreLocked();
    QString ValueLocked(const QString& name) const;
    void SetValueLocked(const QString& name, const QString& value);

    mutable QMutex FLock;
    QString FExeName;
    QString FStoreFile;
    QStringList FStore;
    int32_t FStamp = -1;
    int32_t FLocalStamp = -1;
};
