#include "core/TpzInfo.h"

#include "core/TpzApp.h"
#include "core/TpzFileUtils.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "platform/ShellOpen.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Characters that may stand in a query value as they are. Everything else is percent-encoded:
// above all "&", "#", "%", "+", "?" and blanks, which would change the link's meaning, and
// every non-ASCII character as its UTF-8 bytes.
bool IsPlainInValue(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           QByteArrayView("-._~!$'()*,;:@/=").contains(c);
}

// Characters that a caller's own query fragment keeps: its separators "&" and "=" and its own
// percent codes stay, so that it still says what the caller meant.
bool IsPlainInFragment(char c)
{
    return IsPlainInValue(c) || c == '&' || c == '%' || c == '+' || c == '?';
}

QString PercentEncode(const QString& text, bool (*isPlain)(char))
{
    static const char hex[] = "0123456789ABCDEF";
    QString result;
    for (const char c : text.toUtf8()) {
        if (isPlain(c)) {
            result += QLatin1Char(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            result += u'%';
            result += QLatin1Char(hex[byte >> 4]);
            result += QLatin1Char(hex[byte & 0x0F]);
        }
    }
    return result;
}

QString NameOf(const QString& line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? line : line.left(eq);
}

// The scrambling of the store body: each byte is mixed with a key stream drawn from the stamp
// and with the previous scrambled byte, so equal texts under different stamps look unrelated.
// It keeps casual edits out of the counters; it is not meant as protection.
class KeyStream {
public:
    explicit KeyStream(int32_t key) : FState(static_cast<uint32_t>(key) ^ 0x9E3779B9U) {}
    uint8_t Next()
    {
        FState = FState * 1664525U + 1013904223U;
        return static_cast<uint8_t>(FState >> 24);
    }

private:
    uint32_t FState;
};

std::optional<uint32_t> ParseHex(QStringView digits)
{
    uint32_t value = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        uint32_t digit = 0;
        if (u >= u'0' && u <= u'9') {
            digit = u - u'0';
        } else if (u >= u'A' && u <= u'F') {
            digit = u - u'A' + 10;
        } else if (u >= u'a' && u <= u'f') {
            digit = u - u'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

uint32_t SumOfCodeUnits(QStringView text)
{
    uint32_t sum = 0;
    for (const QChar c : text) {
        sum += c.unicode();
    }
    return sum;
}

QString Hex(uint32_t value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

} // namespace

TpzInfo::TpzInfo(const QString& exeName)
    : FExeName(exeName), FStoreFile(platform::ChangeFileExt(exeName, QStringLiteral(".ext")))
{
    // The install stamp is the birth time of the executable's folder. Where the file system
    // keeps none, the change time would move with every file written beside the executable and
    // lose the counters at each start, so the stamp is then simply unknown (-1).
    const QString folder =
        platform::ExcludeTrailingPathDelimiter(platform::ExtractFilePath(exeName));
    if (const std::optional<QDateTime> born = platform::BirthTime(folder)) {
        FStamp = platform::PackDosDateTime(*born);
        FLocalStamp = platform::PackDosDateTime(born->toLocalTime());
    }
    LoadStore();
    AddCount(QStringLiteral("R"), 0, 1);
}

TpzInfo::~TpzInfo()
{
    const QMutexLocker locker(&FLock);
    SaveStoreLocked();
}

// --- the store -----------------------------------------------------------------------------

QString TpzInfo::EncodeStore(const QString& storeText, int32_t key)
{
    QString text = Hex(static_cast<uint32_t>(key), 8);
    KeyStream stream(key);
    uint8_t previous = 0;
    for (const QChar c : storeText) {
        const auto plain = static_cast<uint8_t>(c.unicode() & 0xFF);
        const auto scrambled = static_cast<uint8_t>(plain ^ stream.Next() ^ previous);
        text += Hex(scrambled, 3);
        previous = scrambled;
    }
    text += Hex(SumOfCodeUnits(text), 8);
    return text;
}

bool TpzInfo::DecodeStore(const QString& fileText, int32_t key, QString* storeText)
{
    const qsizetype size = fileText.size();
    if (size <= 15 || (size - 16) % 3 != 0) {
        return false;
    }
    const QStringView view(fileText);
    const std::optional<uint32_t> fileKey = ParseHex(view.left(8));
    const std::optional<uint32_t> check = ParseHex(view.right(8));
    if (!fileKey || *fileKey != static_cast<uint32_t>(key) || !check ||
        *check != SumOfCodeUnits(view.left(size - 8))) {
        return false;
    }
    QString text;
    KeyStream stream(key);
    uint8_t previous = 0;
    for (qsizetype at = 8; at < size - 8; at += 3) {
        const std::optional<uint32_t> scrambled = ParseHex(view.mid(at, 3));
        if (!scrambled || *scrambled > 0xFF) {
            return false;
        }
        const auto byte = static_cast<uint8_t>(*scrambled);
        text += QChar(static_cast<char16_t>(byte ^ stream.Next() ^ previous));
        previous = byte;
    }
    *storeText = text;
    return true;
}

bool TpzInfo::TryLoad(int32_t key)
{
    FStore.clear();
    try {
        if (QFileInfo::exists(FStoreFile)) {
            QString storeText;
            if (DecodeStore(TpzFileUtils::ReadText(FStoreFile, 2), key, &storeText)) {
                FStore = platform::SplitLines(storeText);
            }
        }
    } catch (const std::exception&) {
        FStore.clear();
    }
    if (ValueLocked(QStringLiteral("R")).isEmpty()) {
        FStore.clear();
        return false;
    }
    return true;
}

void TpzInfo::LoadStore()
{
    const QMutexLocker locker(&FLock);
    if (!TryLoad(FStamp) && FLocalStamp != FStamp) {
        TryLoad(FLocalStamp);
    }
    SetValueLocked(QStringLiteral("v"), QStringLiteral("2"));
}

void TpzInfo::SaveStoreLocked()
{
    try {
        QFile file(FStoreFile);
        if (file.exists() && !QFileInfo(FStoreFile).isWritable()) {
            file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
        }
        TpzFileUtils::WriteText(FStoreFile, EncodeStore(platform::JoinLines(FStore), FStamp), 2,
                                false);
    } catch (const std::exception&) {
        // A folder the user cannot write to: the counters live on in memory for this run.
    }
}

QString TpzInfo::ValueLocked(const QString& name) const
{
    for (const QString& line : FStore) {
        if (line.size() > name.size() && line.at(name.size()) == u'=' && line.startsWith(name)) {
            return line.mid(name.size() + 1);
        }
    }
    return {};
}

void TpzInfo::SetValueLocked(const QString& name, const QString& value)
{
    for (QString& line : FStore) {
        if (line.size() > name.size() && line.at(name.size()) == u'=' && line.startsWith(name)) {
            line = name + u'=' + value;
            return;
        }
    }
    FStore.append(name + u'=' + value);
}

void TpzInfo::AddCount(const QString& name, int64_t value, int64_t increment)
{
    const QMutexLocker locker(&FLock);
    const QString current = ValueLocked(name);
    if (value <= 0) {
        bool ok = false;
        const qint64 number = current.toLongLong(&ok);
        value = (ok ? number : 0) + increment;
    }
    const QString text = QString::number(value);
    if (current != text) {
        SetValueLocked(name, text);
        SaveStoreLocked();
    }
}

QStringList TpzInfo::StoreLines() const
{
    const QMutexLocker locker(&FLock);
    return FStore;
}

QString TpzInfo::StoreValue(const QString& name) const
{
    const QMutexLocker locker(&FLock);
    return ValueLocked(name);
}

void TpzInfo::SetStoreValue(const QString& name, const QString& value)
{
    const QMutexLocker locker(&FLock);
    SetValueLocked(name, value);
    SaveStoreLocked();
}

bool TpzInfo::IsQuiet() const
{
    return TpzProject::ParseBoolean(StoreValue(QStringLiteral("+")), false);
}

// --- links ---------------------------------------------------------------------------------

QString TpzInfo::LinkFor(const QString& page, const QString& action, const QString& extra) const
{
    QString title;
    QString version;
    QString shortName;
    if (pzProject != nullptr) {
        title = pzProject->Title();
        version = pzProject->Version();
        shortName = pzProject->ShortName();
    }

    if (page == u"supports") {
        const qsizetype amp = title.indexOf(u'&');
        if (amp >= 0) {
            title.replace(amp, 1, QStringLiteral("And"));
        }
        const QString subject =
            QStringLiteral("Support required for %1 %2 - %3").arg(title, version).arg(FStamp);
        return QStringLiteral("mailto:") + QLatin1String(SupportMail) +
               QStringLiteral("?subject=") + PercentEncode(subject, IsPlainInValue);
    }
    if (page == u"h") {
        const QString help = platform::ChangeFileExt(FExeName, QStringLiteral(".chm"));
        return QFileInfo::exists(help) ? help
                                       : platform::ChangeFileExt(FExeName, QStringLiteral(".pdf"));
    }

    QString link = QLatin1String(WebSite);
    if (!page.isEmpty()) {
        link += QStringLiteral("/en/") + shortName + u'/' + page + QStringLiteral(".htm");
    } else if (!action.isEmpty()) {
        if (IsQuiet()) {
            return {};
        }
        link += QStringLiteral("/net/");
    }

    QStringList pairs;
    const auto add = [&pairs](const QString& key, QString value, bool keepEmpty) {
        value.remove(u'"');
        if (!value.isEmpty() || keepEmpty) {
            pairs.append(key + u'=' + PercentEncode(value, IsPlainInValue));
        }
    };
    // "err&e=<message>": the action names a second pair whose value is the rest of the text.
    // Splitting it here lets both be escaped, so the message cannot bring pairs of its own.
    const qsizetype amp = action.indexOf(u'&');
    const qsizetype eq = amp < 0 ? -1 : action.indexOf(u'=', amp);
    const QString subKey = eq < 0 ? QString() : action.mid(amp + 1, eq - amp - 1);
    const bool splitAction = !subKey.isEmpty() && !subKey.contains(u'&') && !subKey.contains(u' ');
    if (splitAction) {
        add(QStringLiteral("a"), action.left(amp), false);
        add(subKey, action.mid(eq + 1), true);
    } else {
        add(QStringLiteral("a"), action, false);
    }
    add(QStringLiteral("p"), shortName, false);
    add(QStringLiteral("v"), version, false);
    QString counters;
    {
        const QMutexLocker locker(&FLock);
        for (const QString& line : FStore) {
            const QChar first = line.isEmpty() ? QChar() : line.at(0);
            if (first >= u'A' && first <= u'Z') {
                counters += first.toLower() + line.mid(NameOf(line).size() + 1);
            }
        }
    }
    add(QStringLiteral("c"), counters, false);
    add(QStringLiteral("i"), QString::number(FStamp), false);
    QString query = pairs.join(u'&');
    if (!extra.isEmpty()) {
        query += u'&' + PercentEncode(extra, IsPlainInFragment);
    }
    return link + u'?' + query;
}

void TpzInfo::OpenLink(const QString& page, const QString& action, const QString& extra)
{
    const QString link = LinkFor(page, action, extra);
    if (!link.isEmpty()) {
        platform::ShellOpen(link);
    }
}

void TpzInfo::AppException(QObject* sender, const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    AppException(sender, own != nullptr ? own->Message() : QString::fromLocal8Bit(error.what()));
}

void TpzInfo::AppException(QObject* /*sender*/, const QString& message)
{
    try {
        AddCount(QStringLiteral("E"), 0, 1);
    } catch (...) {
        // Counting must not turn one error into two.
    }
    try {
        OpenLink(QString(), QStringLiteral("err&e=") + message, QString());
    } catch (...) {
        // The notice is a courtesy; failing to open it changes nothing.
    }
}
