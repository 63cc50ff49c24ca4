#include "core/TpzProject.h"

#include "batch/pzBatch.h"
#include "core/TpzApp.h"
#include "core/TpzInfo.h"
#include "core/TpzPropList.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <limits>

namespace {

QString KeyOf(const QString& line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.left(eq);
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool HasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

TpzProject::TpzProject(const QString& exeName) : FExeName(exeName)
{
    try {
        const QString historyFile = HistoryFile();
        if (QFileInfo::exists(historyFile)) {
            // Blank lines and lines with control characters are not paths anybody saved; they
            // come from a damaged or foreign file and would only clutter the recent list.
            for (const QString& line : platform::ReadTextFile(historyFile)) {
                if (!line.isEmpty() && !HasControlCharacter(line)) {
                    FHistory.append(line);
                }
            }
        }
    } catch (const std::exception&) {
        FHistory.clear();
    }
}

TpzProject::~TpzProject()
{
    for (const QPointer<QObject>& control : std::as_const(FControls)) {
        if (control && control->property("tag").toInt() > 0) {
            TpzPropList::Unbind(control);
        }
    }
    try {
        platform::WriteTextFile(HistoryFile(), FHistory);
    } catch (const std::exception&) {
        // A history that cannot be written is only a convenience lost.
    }
}

// --- settings ------------------------------------------------------------------------------

int TpzProject::IndexOfKey(const QString& key) const
{
    if (key.isEmpty()) {
        return -1;
    }
    for (qsizetype i = 0; i < FSettings.size(); ++i) {
        const QString& line = FSettings.at(i);
        const qsizetype eq = line.indexOf(u'=');
        if (eq == key.size() && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString TpzProject::OptionLocked(const QString& key) const
{
    const int index = IndexOfKey(key);
    return index < 0 ? QString() : FSettings.at(index).mid(key.size() + 1);
}

QString TpzProject::GetOption(const QString& key) const
{
    const QMutexLocker locker(&FLock);
    return OptionLocked(key);
}

void TpzProject::SetOptionLocked(const QString& key, const QString& value)
{
    if (key.isEmpty()) {
        return;
    }
    const int index = IndexOfKey(key);
    if (value.isEmpty()) {
        if (index >= 0) {
            FSettings.removeAt(index);
        }
    } else if (index >= 0) {
        // The line keeps the key as it was written; only the value changes.
        FSettings[index] = KeyOf(FSettings.at(index)) + u'=' + value;
    } else {
        FSettings.append(key + u'=' + value);
    }
}

void TpzProject::SetOption(const QString& key, const QString& value)
{
    const QMutexLocker locker(&FLock);
    SetOptionLocked(key, value);
}

QString TpzProject::SettingsText() const
{
    return platform::JoinLines(SettingsLines());
}

void TpzProject::SetSettingsText(const QString& text)
{
    SetSettingsLines(platform::SplitLines(text));
}

QStringList TpzProject::SettingsLines() const
{
    const QMutexLocker locker(&FLock);
    return FSettings;
}

void TpzProject::SetSettingsLines(const QStringList& lines)
{
    const QMutexLocker locker(&FLock);
    FSettings = lines;
}

// --- value parsing -------------------------------------------------------------------------

std::optional<int> TpzProject::TryParseInteger(const QString& value)
{
    qsizetype i = 0;
    while (i < value.size() && IsBlank(value.at(i))) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value.at(i) == u'+' || value.at(i) == u'-')) {
        negative = value.at(i) == u'-';
        ++i;
    }
    int base = 10;
    if (i < value.size() && value.at(i) == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < value.size() && value.at(i) == u'0' &&
               (value.at(i + 1) == u'x' || value.at(i + 1) == u'X')) {
        base = 16;
        i += 2;
    }
    const QStringView digits = QStringView(value).mid(i);
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    qint64 number = 0;
    for (const QChar c : digits) {
        const int digit = c.isDigit() && c.unicode() < 128 ? c.unicode() - u'0'
                          : base == 16 && c.toLower() >= u'a' && c.toLower() <= u'f'
                              ? c.toLower().unicode() - u'a' + 10
                              : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        number = number * base + digit;
        if (number > static_cast<qint64>(std::numeric_limits<int>::max()) + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        number = -number;
    }
    if (number > std::numeric_limits<int>::max() || number < std::numeric_limits<int>::min()) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

std::optional<bool> TpzProject::TryParseBoolean(const QString& value)
{
    if (const std::optional<int> number = TryParseInteger(value)) {
        return *number != 0;
    }
    // Decimal fractions are numbers too, written the user's way or the C way.
    const QString trimmed = value.trimmed();
    bool ok = false;
    double number = QLocale::system().toDouble(trimmed, &ok);
    if (!ok) {
        number = QLocale::c().toDouble(trimmed, &ok);
    }
    if (ok && std::isfinite(number)) {
        return number != 0.0;
    }
    if (value.compare(u"True", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (value.compare(u"False", Qt::CaseInsensitive) == 0) {
        return false;
    }
    return std::nullopt;
}

bool TpzProject::ParseBoolean(const QString& value, bool defaultValue)
{
    return TryParseBoolean(value).value_or(defaultValue);
}

int TpzProject::ParseInteger(const QString& value, int defaultValue)
{
    return TryParseInteger(value).value_or(defaultValue);
}

// --- typed options -------------------------------------------------------------------------

bool TpzProject::GetBoolOption(const QString& key, bool defaultValue) const
{
    return ParseBoolean(GetOption(key), defaultValue);
}

int TpzProject::GetIntOption(const QString& key, int defaultValue) const
{
    return ParseInteger(GetOption(key), defaultValue);
}

QString TpzProject::Source() const
{
    return GetOption(QStringLiteral("Source"));
}
QString TpzProject::Target() const
{
    return GetOption(QStringLiteral("Target"));
}
QString TpzProject::RenameSource() const
{
    return GetOption(QStringLiteral("RenameSource"));
}
bool TpzProject::Subdir() const
{
    return GetBoolOption(QStringLiteral("Subdir"), false);
}
bool TpzProject::KeepTargetSubdirs() const
{
    return GetBoolOption(QStringLiteral("KeepTargetSubdirs"), true);
}
bool TpzProject::KeepFileTime() const
{
    return GetBoolOption(QStringLiteral("KeepFileTime"), false);
}
bool TpzProject::DeleteSource() const
{
    return GetBoolOption(QStringLiteral("DeleteSource"), false);
}
bool TpzProject::PureConsole() const
{
    return GetBoolOption(QStringLiteral("PureConsole"), false);
}
int TpzProject::ThreadsCount() const
{
    return GetIntOption(QStringLiteral("ThreadsCount"), 1);
}
int TpzProject::Daemon() const
{
    return GetIntOption(QStringLiteral("Daemon"), 0);
}

TpzOverwrite TpzProject::IsOverwrite() const
{
    const QString value = GetOption(QStringLiteral("IsOverwrite"));
    if (value.compare(u"skip", Qt::CaseInsensitive) == 0) {
        return TpzOverwrite::Skip;
    }
    return ParseBoolean(value, true) ? TpzOverwrite::Overwrite : TpzOverwrite::Rename;
}

bool TpzProject::IsAutoRun() const
{
    return GetBoolOption(QStringLiteral("RunAndClose"), false) || PureConsole() || Daemon() > 0;
}

QString TpzProject::TargetDir() const
{
    if (Target().isEmpty()) {
        return {};
    }
    // Taken as it is, a "file:" address would leave a folder named "file:" in the current one.
    const QString target = TpzBatch::NormalizePath(Target());
    platform::ForceDirectories(target);
    return platform::IncludeTrailingPathDelimiter(target);
}

// --- product constants ---------------------------------------------------------------------

#define TPZ_CONSTANT(Name)                                                                         \
    QString TpzProject::Name() const                                                               \
    {                                                                                              \
        const QMutexLocker locker(&FLock);                                                         \
        return F##Name;                                                                            \
    }                                                                                              \
    void TpzProject::Set##Name(const QString& value)                                               \
    {                                                                                              \
        const QMutexLocker locker(&FLock);                                                         \
        F##Name = value;                                                                           \
    }

TPZ_CONSTANT(ConverterClass)
TPZ_CONSTANT(SourceMask)
TPZ_CONSTANT(SourceFilter)
TPZ_CONSTANT(TargetExt)
TPZ_CONSTANT(ShortName)
TPZ_CONSTANT(ProjectExt)
TPZ_CONSTANT(ProjectFilter)
TPZ_CONSTANT(Title)
TPZ_CONSTANT(Version)
TPZ_CONSTANT(ProjectFile)
TPZ_CONSTANT(OptionText)

#undef TPZ_CONSTANT

QStringList TpzProject::History() const
{
    const QMutexLocker locker(&FLock);
    return FHistory;
}

QString TpzProject::DefaultProjectFile() const
{
    return platform::ChangeFileExt(FExeName, ProjectExt());
}

QString TpzProject::HistoryFile() const
{
    return FExeName + QStringLiteral(".log");
}

bool TpzProject::IsProjectFile(const QString& name) const
{
    const QString ext = ProjectExt();
    if (ext.isEmpty()) {
        return false;
    }
    const qsizetype at = name.indexOf(ext);
    return at >= 0 && at + ext.size() == name.size();
}

// --- command line and project files --------------------------------------------------------

bool TpzProject::ParseCommandLine(const QString& firstParam)
{
    const QString& arg = firstParam;
    // "/" begins an absolute path on this system, so only "-" marks a switch.
    if (arg.size() >= 2 && arg.at(0) == u'-') {
        const QChar letter = arg.at(1).toUpper();
        if (letter == u'I') {
            if (pzInfo != nullptr) {
                pzInfo->OpenLink(QString(), QStringLiteral("ins"), arg.mid(2));
            }
            return false;
        }
        if (letter == u'U') {
            if (pzInfo != nullptr) {
                pzInfo->OpenLink(QString(), QStringLiteral("uni"), QString());
            }
            return false;
        }
        if (letter == u'P') {
            QString text = arg.mid(2);
            if (text.startsWith(u':')) {
                text.remove(0, 1);
            }
            text.replace(u',', u';');
            text.replace(QStringLiteral(";"), QStringLiteral("\r\n"));
            SetOptionText(text);
        }
    } else if (arg.size() >= 2) {
        // Kept as a full path so the history entry still works from another folder.
        SetProjectFile(QFileInfo(arg).absoluteFilePath());
    }
    LoadProject();
    return true;
}

void TpzProject::LoadProject()
{
    {
        const QMutexLocker locker(&FLock);
        if (FProjectFile.isEmpty() && FOptionText.isEmpty()) {
            FProjectFile = platform::ChangeFileExt(FExeName, FProjectExt);
        }
    }
    Open();
}

void TpzProject::Open()
{
    const QString name = ProjectFile();
    if (IsProjectFile(name)) {
        try {
            const QStringList lines = platform::ReadTextFile(name);
            SetSettingsLines(lines);
            AddToHistory();
        } catch (const std::exception&) {
            // A missing or locked project leaves the settings as they were.
        }
    } else {
        const QMutexLocker locker(&FLock);
        FProjectFile.clear();
        if (!FOptionText.isEmpty()) {
            FSettings = platform::SplitLines(FOptionText);
            if (OptionLocked(QStringLiteral("Target")).isEmpty()) {
                SetOptionLocked(QStringLiteral("Target"),
                                platform::ExtractFilePath(OptionLocked(QStringLiteral("Source"))));
            }
        } else {
            // Any other file, such as a workbook, becomes the source of an unnamed project.
            SetOptionLocked(QStringLiteral("Source"), name);
            if (OptionLocked(QStringLiteral("Target")).isEmpty()) {
                SetOptionLocked(QStringLiteral("Target"), platform::ExtractFilePath(name));
            }
        }
    }
    ApplyToControls();
}

void TpzProject::New()
{
    {
        const QMutexLocker locker(&FLock);
        FProjectFile.clear();
        FSettings.clear();
    }
    ApplyToControls();
}

void TpzProject::Store(bool saveFile)
{
    ReadFromControls();
    if (!saveFile) {
        return;
    }
    const QString file = ProjectFile();
    if (file.isEmpty()) {
        throw Exception(QStringLiteral("The project has no file name to be saved under"));
    }
    platform::WriteTextFile(file, SettingsLines());
    AddToHistory();
}

void TpzProject::AddToHistory()
{
    const QMutexLocker locker(&FLock);
    if (!FProjectFile.isEmpty() && !FHistory.contains(FProjectFile)) {
        FHistory.prepend(FProjectFile);
    }
}

// --- bound controls ------------------------------------------------------------------------

void TpzProject::BindControl(QObject* control)
{
    if (control == nullptr) {
        return;
    }
    const QMutexLocker locker(&FLock);
    FControls.append(control);
}

void TpzProject::ApplyToControls()
{
    QList<QPointer<QObject>> controls;
    {
        const QMutexLocker locker(&FLock);
        controls = FControls;
    }
    for (const QPointer<QObject>& control : std::as_const(controls)) {
        if (!control) {
            continue;
        }
        TpzPropList* binding = TpzPropList::Of(control);
        const QString key = control->objectName().mid(1);
        const QString prop = TpzPropList::HintOf(control);
        QString value = GetOption(key);
        if (value.isEmpty()) {
            // Older projects kept the value under "control.property"; it is taken over once.
            const QString oldKey = control->objectName() + u'.' + prop;
            value = GetOption(oldKey);
            SetOption(oldKey, QString());
        }
        binding->WriteProp(prop, value);
    }
}

void TpzProject::ReadFromControls()
{
    QList<QPointer<QObject>> controls;
    {
        const QMutexLocker locker(&FLock);
        controls = FControls;
    }
    for (const QPointer<QObject>& control : std::as_const(controls)) {
        if (!control) {
            continue;
        }
        const TpzPropList* binding = TpzPropList::Of(control);
        const QString value = binding->ReadProp(TpzPropList::HintOf(control));
        SetOption(control->objectName().mid(1), value);
    }
}
