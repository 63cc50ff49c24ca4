#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

// What to do with a target file that exists already.
enum class TpzOverwrite : int {
    Rename = 0,    // write under a second name
    Overwrite = 1, // replace it
    Skip = 9,      // leave the item unconverted
};

// The current project: its settings as an ordered list of key=value lines, the product
// constants, the project file's name, the history of recent projects and the window controls
// bound to settings.
//
// Settings lines: the key is everything before the first "=", the value everything after it,
// neither trimmed. Keys compare without letter case and the first matching line wins. Lines
// without "=" and keys nobody reads stay in place. Options are parsed at every read; nothing is
// cached, so a change is seen by the next read.
//
// Threads: worker threads read options while the main thread may replace the settings (the
// options dialog can be used during a run). Every member takes the project's lock for the
// moment it touches the data and returns copies, so each read sees one consistent state. The
// lock is never held while a bound control is called, so a control's change signal may read
// the project again.
class TpzProject {
public:
    // Reads the history file (the executable's path with ".log" appended), silently ignoring a
    // missing or unreadable one. exeName is the executable's full path.
    explicit TpzProject(const QString& exeName);
    // Gives bound controls their -1 tag again and writes the history file, ignoring errors.
    ~TpzProject();
    TpzProject(const TpzProject&) = delete;
    TpzProject& operator=(const TpzProject&) = delete;

    // --- settings -------------------------------------------------------------------------
    // The value of the first line whose key matches, or empty.
    QString GetOption(const QString& key) const;
    // Replaces the value of the key's first line in place, appends a line when there is none,
    // deletes the first line when value is empty.
    void SetOption(const QString& key, const QString& value);
    // The settings as one text, CR LF after every line; replacing it splits on CR, LF, CR LF.
    QString SettingsText() const;
    void SetSettingsText(const QString& text);
    QStringList SettingsLines() const;
    void SetSettingsLines(const QStringList& lines);

    // --- typed options (defaults apply to missing or unparsable values) ---------------------
    QString Source() const;
    QString Target() const;
    QString RenameSource() const;
    bool Subdir() const;            // default false
    bool KeepTargetSubdirs() const; // default true
    bool KeepFileTime() const;      // default false
    bool DeleteSource() const;      // default false
    bool PureConsole() const;       // default false
    int ThreadsCount() const;       // default 1
    int Daemon() const;             // default 0
    TpzOverwrite IsOverwrite() const;
    // RunAndClose, or PureConsole, or Daemon > 0.
    bool IsAutoRun() const;
    // The option read as Boolean or integer with the given default, for the keys without an
    // accessor of their own (SkipHidden, ReadOnly, SkipPassword, AllSheets, Sheet, ...).
    bool GetBoolOption(const QString& key, bool defaultValue) const;
    int GetIntOption(const QString& key, int defaultValue) const;

    // Target made ready as a folder: a "file:" address made a path first (see
    // TpzBatch::NormalizePath, which throws for another host), created with its missing
    // parents when absent (errors ignored) and ending in "/". An empty Target gives an empty
    // text and creates nothing:
    // completing it to "/" would make the file-system root the target, so the caller has to
    // refuse the run instead.
    QString TargetDir() const;

    // Value parsers shared with the product information. A Boolean is a number (non-zero is
    // true) or "True"/"False" in any letter case; an integer has optional leading blanks, a
    // sign, and decimal digits or hexadecimal ones after "$" or "0x". Anything else, the empty
    // text included, gives the default.
    static bool ParseBoolean(const QString& value, bool defaultValue);
    static int ParseInteger(const QString& value, int defaultValue);
    // The same, telling a value that does not parse apart (empty optional).
    static std::optional<bool> TryParseBoolean(const QString& value);
    static std::optional<int> TryParseInteger(const QString& value);

    // --- product constants (set once at start-up) -------------------------------------------
    // ConverterClass is the name under which the product's converter class is registered.
    QString ConverterClass() const;
    QString SourceMask() const;
    QString SourceFilter() const;
    QString TargetExt() const;
    QString ShortName() const;
    QString ProjectExt() const;
    QString ProjectFilter() const;
    QString Title() const;
    QString Version() const;
    void SetConverterClass(const QString& value);
    void SetSourceMask(const QString& value);
    void SetSourceFilter(const QString& value);
    void SetTargetExt(const QString& value);
    void SetShortName(const QString& value);
    void SetProjectExt(const QString& value);
    void SetProjectFilter(const QString& value);
    void SetTitle(const QString& value);
    void SetVersion(const QString& value);

    // --- project file, command line, history ----------------------------------------------
    QString ProjectFile() const;
    void SetProjectFile(const QString& fileName);
    QString OptionText() const;
    void SetOptionText(const QString& text);
    QStringList History() const;
    // The executable's path with its extension replaced by ProjectExt.
    QString DefaultProjectFile() const;
    // The executable's path with ".log" appended.
    QString HistoryFile() const;

    // True when ProjectExt occurs in name (letter case counts) and its first occurrence ends it.
    bool IsProjectFile(const QString& name) const;

    // Acts on the first command-line argument: -I text and -U open their notices and return
    // false (the process is to end); -P settings become OptionText; another "-" switch is
    // ignored; any other argument of two characters or more becomes ProjectFile. Then, unless
    // it returned false, LoadProject. A "/" at the start is a path here, not a switch.
    bool ParseCommandLine(const QString& firstParam);

    // Uses the default project file when neither ProjectFile nor OptionText is set, then Open.
    void LoadProject();
    // Opens ProjectFile: a project file is read into the settings (an unreadable one is
    // ignored); otherwise OptionText becomes the settings; otherwise ProjectFile is taken as the
    // source. Then ApplyToControls.
    void Open();
    // No project file, empty settings, controls refreshed. OptionText stays.
    void New();
    // Copies the bound controls into the settings; with saveFile also writes ProjectFile and
    // adds it to the history. Throws Exception naming the file when it cannot be written.
    void Store(bool saveFile);
    // Puts ProjectFile at the head of the history unless the history holds it already.
    void AddToHistory();

    // --- bound controls -------------------------------------------------------------------
    // A bound control's settings key is its objectName without the first letter ("eSource" ->
    // "Source"); the property carrying its value is named by its hint: the dynamic property
    // "hint", else its toolTip (see TpzPropList). Controls are not owned.
    void BindControl(QObject* control);
    void ApplyToControls();
    void ReadFromControls();

private:
    // Index of the first line whose key matches; -1 when none. Caller holds FLock.
    int IndexOfKey(const QString& key) const;
    QString OptionLocked(const QString& key) const;
    void SetOptionLocked(const QString& key, const QString& value);

    mutable QMutex FLock;
    QString FExeName;
    QStringList FSettings;
    QString FProjectFile;
    QString FOptionText;
    QStringList FHistory;
    QList<QPointer<QObject>> FControls;

    QString FConverterClass;
    QString FSourceMask;
    QString FSourceFilter;
    QString FTargetExt;
    QString FShortName;
    QString FProjectExt;
    QString FProjectFilter;
    QString FTitle;
    QString FVersion;
};
