#include "server/EngineServer.h"

#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "server/Download.h"
#include "sheets/Error.h"
#include "sheets/Workbook.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <vector>

namespace server {

using automation::Argument;
using automation::AutomationError;
using automation::AutomationObject;
using automation::InvokeKind;
using automation::IsOmitted;
using automation::Variant;
using automation::VarType;

namespace {

std::atomic<std::chrono::milliseconds::rep> gDownloadTimeoutMs{30000};

// One open workbook, shared by the workbook object and the sheet objects taken from it.
struct BookState {
    QString Name; // as given to Open: a path or a web address
    std::unique_ptr<sheets::Workbook> Book;
    QString Downloaded; // the temporary copy of a web workbook; removed on close

    ~BookState() { Close(); }
    BookState() = default;
    BookState(const BookState&) = delete;
    BookState& operator=(const BookState&) = delete;

    bool IsOpen() const { return Book != nullptr; }
    // The engine names the file it read; for a downloaded workbook that is the temporary copy,
    // and the user knows the address instead.
    QString ForUser(QString message) const
    {
        if (!Downloaded.isEmpty()) {
            message.replace(Downloaded, Name);
        }
        return message;
    }
    void Close()
    {
        Book.reset();
        if (!Downloaded.isEmpty()) {
            QFile::remove(Downloaded);
            Downloaded.clear();
        }
    }
};

struct AppState {
    bool Quit = false;
    std::vector<std::weak_ptr<BookState>> Books;

    void CloseAll()
    {
        for (const auto& weak : Books) {
            if (const auto book = weak.lock()) {
                book->Close();
            }
        }
        Books.clear();
    }
};

std::string LocalName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString EngineMessage(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

bool IsRead(InvokeKind kind)
{
    // A read is "method or property get", so methods may be read and properties called.
    return kind == InvokeKind::Read || kind == InvokeKind::Method;
}

void RequireRead(const QString& name, InvokeKind kind)
{
    if (!IsRead(kind)) {
        throw automation::MemberNotFound(name);
    }
}

// A text argument that must be there (a file name, a target path).
QString RequiredText(std::span<const Variant> args, std::size_t index, const QString& member,
                     const char* what)
{
    const Variant& value = Argument(args, index);
    if (value.IsMissing()) {
        throw AutomationError(automation::DISP_E_PARAMNOTFOUND,
                              QStringLiteral("%1 needs %2").arg(member, QLatin1String(what)));
    }
    if (value.Type() != VarType::Text) {
        throw AutomationError(automation::DISP_E_TYPEMISMATCH,
                              QStringLiteral("%1 needs %2 as text, not a value of type %3")
                                  .arg(member, QLatin1String(what), VarTypeName(value.Type())));
    }
    return value.ToString();
}

// No argument past count may be given: a caller that asks for more than the engine does
// should hear so rather than have it ignored.
void AtMost(std::span<const Variant> args, std::size_t count, const QString& member)
{
    for (std::size_t i = count; i < args.size(); ++i) {
        if (!args[i].IsMissing()) {
            throw AutomationError(
                automation::DISP_E_BADPARAMCOUNT,
                QStringLiteral("%1 takes at most %2 arguments").arg(member).arg(count));
        }
    }
}

void RequireTextFormat(std::span<const Variant> args, std::size_t index)
{
    const Variant& format = Argument(args, index);
    if (format.IsMissing()) {
        throw AutomationError(automation::DISP_E_PARAMNOTFOUND,
                              QStringLiteral("SaveAs needs the file format: only %1 (text for "
                                             "the current platform) can be saved")
                                  .arg(CurrentPlatformText));
    }
    int32_t number = 0;
    try {
        number = format.ToInt32();
    } catch (const AutomationError&) {
        throw AutomationError(automation::DISP_E_TYPEMISMATCH,
                              QStringLiteral("SaveAs needs the file format as a number, not a "
                                             "value of type %1")
                                  .arg(VarTypeName(format.Type())));
    }
    if (number != CurrentPlatformText ||
        (format.Type() == VarType::Double && format.ToDouble() != CurrentPlatformText)) {
        throw AutomationError(automation::DISP_E_EXCEPTION,
                              QStringLiteral("File format %1 is not supported: only %2 (text "
                                             "for the current platform) can be saved")
                                  .arg(format.ToString())
                                  .arg(CurrentPlatformText));
    }
}

// Runs one member's work and turns the engine's failures into automation errors carrying the
// engine's message, as a server reports its exceptions to its caller.
template <class Fn> Variant Guarded(Fn&& fn)
{
    try {
        return fn();
    } catch (const Exception&) {
        throw; // AutomationError included: already in the program's terms
    } catch (const sheets::Error& error) {
        throw AutomationError(automation::DISP_E_EXCEPTION, EngineMessage(error));
    } catch (const std::bad_alloc&) {
        throw AutomationError(automation::E_OUTOFMEMORY);
    } catch (const std::exception& error) {
        throw AutomationError(automation::DISP_E_EXCEPTION, EngineMessage(error));
    }
}

// Every object of an application checks first that the application is still there.
class ServerObject : public AutomationObject {
public:
    explicit ServerObject(std::shared_ptr<AppState> app) : FApp(std::move(app)) {}

    Variant Invoke(const QString& name, InvokeKind kind, std::span<const Variant> args) final
    {
        if (FApp->Quit) {
            throw AutomationError(automation::RPC_E_DISCONNECTED);
        }
        return Guarded([&] { return Member(name.toLower(), name, kind, args); });
    }

protected:
    // member is the lower-case name; name is the name as the caller spelled it.
    virtual Variant Member(const QString& member, const QString& name, InvokeKind kind,
                           std::span<const Variant> args) = 0;

    const std::shared_ptr<AppState>& App() const { return FApp; }

private:
    std::shared_ptr<AppState> FApp;
};

class BookObject : public ServerObject {
public:
    BookObject(std::shared_ptr<AppState> app, std::shared_ptr<BookState> book)
        : ServerObject(std::move(app)), FBook(std::move(book))
    {}

protected:
    sheets::Workbook& OpenBook() const
    {
        if (!FBook->IsOpen()) {
            throw AutomationError(
                automation::DISP_E_EXCEPTION,
                QStringLiteral("The workbook \"%1\" has been closed").arg(FBook->Name));
        }
        return *FBook->Book;
    }
    const std::shared_ptr<BookState>& Book() const { return FBook; }

    // SaveAs(target, -4158) of the workbook or of one of its sheets; save writes the text.
    Variant SaveAs(const QString& name, InvokeKind kind, std::span<const Variant> args,
                   const std::function<void(sheets::Workbook&, const std::string&)>& save) const
    {
        RequireRead(name, kind);
        const QString target = RequiredText(args, 0, name, "the target file name");
        RequireTextFormat(args, 1);
        AtMost(args, 2, name);
        sheets::Workbook& book = OpenBook();
        try {
            save(book, LocalName(target));
        } catch (const sheets::Error& error) {
            throw AutomationError(automation::DISP_E_EXCEPTION,
                                  FBook->ForUser(EngineMessage(error)));
        }
        return {};
    }

private:
    std::shared_ptr<BookState> FBook;
};

class SheetObject : public BookObject {
public:
    SheetObject(std::shared_ptr<AppState> app, std::shared_ptr<BookState> book, std::size_t index)
        : BookObject(std::move(app), std::move(book)), FIndex(index)
    {}

protected:
    Variant Member(const QString& member, const QString& name, InvokeKind kind,
                   std::span<const Variant> args) override
    {
        if (member == u"saveas") {
            return SaveAs(name, kind, args, [this](sheets::Workbook& book, const std::string& to) {
                book.saveSheetAsText(FIndex, to);
            });
        }
        throw automation::UnknownMember(name);
    }

private:
    std::size_t FIndex;
};

class WorkbookObject : public BookObject {
public:
    using BookObject::BookObject;

protected:
    Variant Member(const QString& member, const QString& name, InvokeKind kind,
                   std::span<const Variant> args) override
    {
        if (member == u"close") {
            RequireRead(name, kind);
            // The engine never changes a workbook, so there is nothing to save whatever the
            // first argument asks; closing twice is harmless.
            Book()->Close();
            return {};
        }
        if (member == u"hasvbproject") {
            RequireRead(name, kind);
            return OpenBook().hasMacros();
        }
        if (member == u"saveas") {
            return SaveAs(name, kind, args, [](sheets::Workbook& book, const std::string& to) {
                book.saveAsText(to);
            });
        }
        if (member == u"sheets") {
            if (kind == InvokeKind::Put) {
                throw automation::MemberNotFound(name);
            }
            if (IsOmitted(args, 0)) {
                throw AutomationError(automation::DISP_E_PARAMNOTFOUND,
                                      QStringLiteral("Sheets needs the sheet's number, counted "
                                                     "from 1"));
            }
            AtMost(args, 1, name);
            const Variant& index = Argument(args, 0);
            if (!index.IsNumber()) {
                throw AutomationError(automation::DISP_E_TYPEMISMATCH,
                                      QStringLiteral("Sheets needs the sheet's number, not a "
                                                     "value of type %1")
                                          .arg(VarTypeName(index.Type())));
            }
            sheets::Workbook& book = OpenBook();
            const double number = index.ToDouble();
            const auto count = static_cast<double>(book.sheetCount());
            if (number != std::floor(number)) {
                throw AutomationError(automation::DISP_E_TYPEMISMATCH,
                                      QStringLiteral("Sheets needs a whole sheet number, not %1")
                                          .arg(index.ToString()));
            }
            if (!(number >= 1 && number <= count)) {
                // The message names the number as the caller gave it, within what it can say.
                const double shown = std::clamp(number, -1e15, 1e15);
                throw AutomationError(automation::DISP_E_BADINDEX,
                                      EngineMessage(book.noSuchSheet(static_cast<int64_t>(shown))));
            }
            return std::make_shared<SheetObject>(App(), Book(),
                                                 static_cast<std::size_t>(number) - 1);
        }
        if (member == u"activesheet") {
            RequireRead(name, kind);
            sheets::Workbook& book = OpenBook();
            const std::size_t active = book.activeSheet();
            if (active >= book.sheetCount()) {
                throw AutomationError(
                    automation::DISP_E_BADINDEX,
                    EngineMessage(book.noSuchSheet(static_cast<int64_t>(active) + 1)));
            }
            return std::make_shared<SheetObject>(App(), Book(), active);
        }
        throw automation::UnknownMember(name);
    }
};

class WorkbooksObject : public ServerObject {
public:
    using ServerObject::ServerObject;

protected:
    Variant Member(const QString& member, const QString& name, InvokeKind kind,
                   std::span<const Variant> args) override
    {
        if (member == u"open") {
            RequireRead(name, kind);
            return Open(name, args);
        }
        throw automation::UnknownMember(name);
    }

private:
    Variant Open(const QString& name, std::span<const Variant> args)
    {
        QString fileName = RequiredText(args, 0, name, "the workbook's file name");
        AtMost(args, 5, name);
        sheets::OpenOptions options;
        // Argument 2 (update links) and 4 (format) have nothing to do in a reader; the engine
        // opens every workbook read-only whatever argument 3 says, but a value that is not a
        // Boolean is still a caller's mistake worth hearing about.
        if (!IsOmitted(args, 2)) {
            (void)Argument(args, 2).ToBool();
        }
        if (!IsOmitted(args, 4)) {
            options.hasPassword = true;
            options.password = Argument(args, 4).ToString().toStdString();
        }

        auto book = std::make_shared<BookState>();
        book->Name = fileName;
        if (fileName.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            fileName = QUrl(fileName).toLocalFile();
        } else if (platform::IsWebAddress(fileName)) {
            book->Downloaded = DownloadToTemporaryFile(fileName, DownloadTimeout());
            fileName = book->Downloaded;
        }
        try {
            book->Book = sheets::Workbook::open(LocalName(fileName), options);
        } catch (const sheets::Error& error) {
            // Leaving this frame lets go of the book, which removes a downloaded copy.
            throw AutomationError(automation::DISP_E_EXCEPTION,
                                  book->ForUser(EngineMessage(error)));
        }
        // A worker opens one workbook after another for hours: forget the closed ones.
        std::erase_if(App()->Books, [](const std::weak_ptr<BookState>& w) { return w.expired(); });
        App()->Books.push_back(book);
        return std::make_shared<WorkbookObject>(App(), book);
    }
};

class ApplicationObject : public ServerObject {
public:
    ApplicationObject() : ServerObject(std::make_shared<AppState>()) {}
    ~ApplicationObject() override { App()->CloseAll(); }
    ApplicationObject(const ApplicationObject&) = delete;
    ApplicationObject& operator=(const ApplicationObject&) = delete;

protected:
    Variant Member(const QString& member, const QString& name, InvokeKind kind,
                   std::span<const Variant> args) override
    {
        if (member == u"version") {
            RequireRead(name, kind);
            return QString::fromLatin1(EngineVersion);
        }
        if (member == u"displayalerts") {
            if (kind != InvokeKind::Put) {
                throw automation::MemberNotFound(name);
            }
            // The engine shows no alerts, but a value that is not a Boolean is still a
            // caller's mistake worth hearing about.
            (void)Argument(args, 0).ToBool();
            return {};
        }
        if (member == u"path") {
            RequireRead(name, kind);
            return ProgramFolder();
        }
        if (member == u"workbooks") {
            RequireRead(name, kind);
            return std::make_shared<WorkbooksObject>(App());
        }
        if (member == u"quit") {
            RequireRead(name, kind);
            App()->CloseAll();
            App()->Quit = true;
            return {};
        }
        throw automation::UnknownMember(name);
    }

private:
    // The engine runs inside this program, so its folder is the program's.
    static QString ProgramFolder()
    {
        const QString exe = platform::ExecutablePath();
        return platform::ExcludeTrailingPathDelimiter(platform::ExtractFilePath(exe));
    }
};

} // namespace

void RegisterEngineServer()
{
    automation::RegisterAutomationClass(QString::fromLatin1(ExcelApplicationProgID),
                                        CreateEngineApplication);
}

std::shared_ptr<AutomationObject> CreateEngineApplication()
{
    return std::make_shared<ApplicationObject>();
}

void SetDownloadTimeout(std::chrono::milliseconds timeout)
{
    gDownloadTimeoutMs.store(timeout.count());
}

std::chrono::milliseconds DownloadTimeout()
{
    return std::chrono::milliseconds(gDownloadTimeoutMs.load());
}

} // namespace server
