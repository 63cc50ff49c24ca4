// The spreadsheet engine's automation server: the members the conversion uses and nothing
// else, the text it saves, its failures and the download of web workbooks.

#include "server/EngineServer.h"
#include "HttpTestServer.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace automation;

namespace {

const QString Fixtures = QStringLiteral(TABULIX_CONVERT_FIXTURES "/");
const Variant TextFormat(int16_t{-4158});

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

QString Message(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}

// The temporary files of downloads whose address ended in name.
QStringList Downloads(const QString& name)
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("tabulix-*-") + name}, QDir::Files);
}

class EngineServer : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Variant app{server::CreateEngineApplication()};

    QString Out(const QString& name) const { return dir.filePath(name); }
    Variant Open(const QString& path) const
    {
        return app.Get("Workbooks").Call("Open", {Variant(path)});
    }
    // The names in the output folder: a failed save must leave nothing, not even a part file.
    QStringList Files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

} // namespace

TEST_F(EngineServer, ApplicationMembers)
{
    EXPECT_EQ(app.Get("Version").ToString(), QString::fromLatin1(server::EngineVersion));
    EXPECT_EQ(app.Get("PATH").ToString(),
              platform::ExcludeTrailingPathDelimiter(
                  platform::ExtractFilePath(platform::ExecutablePath())));
    EXPECT_NO_THROW(app.Put("DisplayAlerts", Variant(false)));
    EXPECT_TRUE(app.Get("Workbooks").IsObject());
}

TEST_F(EngineServer, AnswersNothingElse)
{
    const Variant book = Open(Fixtures + "sheets.xlsx");
    const Variant sheet = book.Get("Sheets", {Variant(1)});
    const Variant books = app.Get("Workbooks");
    struct Case {
        const Variant* Target;
        const char* Name;
    };
    for (const Case& c : {Case{&app, "Visible"}, Case{&app, "Calculate"}, Case{&books, "Add"},
                          Case{&books, "Count"}, Case{&book, "Save"}, Case{&book, "Worksheets"},
                          Case{&sheet, "Name"}, Case{&sheet, "Cells"}}) {
        EXPECT_EQ(Message([&] { c.Target->Call(c.Name); }),
                  QStringLiteral("Method '%1' not supported by automation object").arg(c.Name));
    }
    // Known members used the wrong way.
    EXPECT_EQ(Message([&] { app.Get("DisplayAlerts"); }).left(17), "Member not found:");
    EXPECT_EQ(Message([&] { app.Put("Version", Variant("2")); }).left(17), "Member not found:");
    EXPECT_EQ(Message([&] { book.Put("SaveAs", Variant("x")); }).left(17), "Member not found:");
}

struct SaveCase {
    const char* Name;
    std::function<Variant(const Variant& book)> Saver; // what SaveAs is called on
    QByteArray Expected;
};

TEST_F(EngineServer, SavesTheWorkbookOrOneSheetAsText)
{
    // Sheets One, Two (active), Hidden (hidden), Four; each holds its own name in A1.
    const std::vector<SaveCase> cases = {
        {"workbook", [](const Variant& b) { return b; }, "one\n\f\ntwo\n\f\nfour\n"},
        {"active sheet", [](const Variant& b) { return b.Get("ActiveSheet"); }, "two\n"},
        {"sheet 1", [](const Variant& b) { return b.Get("Sheets", {Variant(1)}); }, "one\n"},
        {"hidden sheet 3", [](const Variant& b) { return b.Get("Sheets", {Variant(3)}); },
         "hidden\n"},
        {"sheet 4 as a 16-bit number",
         [](const Variant& b) { return b.Get("Sheets", {Variant(int16_t{4})}); }, "four\n"},
        {"sheet 2 called as a method", [](const Variant& b) { return b.Call("Sheets", {2.0}); },
         "two\n"},
    };
    const Variant book = Open(Fixtures + "sheets.xlsx");
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString target = Out(QString::fromLatin1(c.Name) + ".txt");
        c.Saver(book).Call("SaveAs", {Variant(target), TextFormat});
        EXPECT_EQ(ReadAll(target), c.Expected);
    }
    EXPECT_FALSE(book.Get("HasVBProject").ToBool());
    EXPECT_TRUE(Open(Fixtures + "macros.xlsm").Get("HasVBProject").ToBool());
}

TEST_F(EngineServer, OnlyTheTextFormatIsSaved)
{
    const Variant book = Open(Fixtures + "sheets.xlsx");
    const Variant sheet = book.Get("Sheets", {Variant(1)});
    const QString notSupported =
        QStringLiteral("File format %1 is not supported: only -4158 (text for the current "
                       "platform) can be saved");
    struct Case {
        Variant Format;
        QString Expected; // empty: saved
    };
    const std::vector<Case> cases = {
        {Variant(int16_t{-4158}), {}},
        {Variant(-4158), {}},
        {Variant(-4158.0), {}},
        {Variant(51), notSupported.arg(51)},
        {Variant(int16_t{6}), notSupported.arg(6)},
        {Variant(-4158.5), notSupported.arg("-4158.5")},
        {Variant::Missing(),
         "SaveAs needs the file format: only -4158 (text for the current platform) can be "
         "saved"},
        {Variant("text"), "SaveAs needs the file format as a number, not a value of type String"},
    };
    int n = 0;
    for (const Case& c : cases) {
        for (const Variant* target : {&book, &sheet}) {
            const QString path = Out(QStringLiteral("format%1.txt").arg(n++));
            const QString message = Message([&] {
                target->Call("SaveAs", {Variant(path), c.Format});
            });
            if (c.Expected.isEmpty()) {
                EXPECT_EQ(message, "(no error)");
                EXPECT_TRUE(QFileInfo::exists(path));
            } else {
                EXPECT_EQ(message, c.Expected);
                EXPECT_FALSE(QFileInfo::exists(path));
            }
        }
    }
    EXPECT_EQ(Message([&] { book.Call("SaveAs"); }), "SaveAs needs the target file name");
    EXPECT_EQ(Message([&] {
                  book.Call("SaveAs", {Variant(7), TextFormat});
              }),
              "SaveAs needs the target file name as text, not a value of type Integer");
}

TEST_F(EngineServer, SheetNumbersOutOfRangeSayHowManyThereAre)
{
    const Variant book = Open(Fixtures + "sheets.xlsx");
    struct Case {
        Variant Index;
        QString Expected;
    };
    const std::vector<Case> cases = {
        {Variant(5), "Sheet 5 does not exist: the workbook has 4 sheets"},
        {Variant(0), "Sheet 0 does not exist: the workbook has 4 sheets"},
        {Variant(-1), "Sheet -1 does not exist: the workbook has 4 sheets"},
        {Variant(1e300), "Sheet 1000000000000000 does not exist: the workbook has 4 sheets"},
        {Variant(2.5), "Sheets needs a whole sheet number, not 2.5"},
        {Variant("One"), "Sheets needs the sheet's number, not a value of type String"},
        {Variant::Missing(), "Sheets needs the sheet's number, counted from 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Message([&] { book.Get("Sheets", {c.Index}); }), c.Expected);
    }
    EXPECT_EQ(Message([&] { book.Get("Sheets"); }),
              "Sheets needs the sheet's number, counted from 1");
}

TEST_F(EngineServer, OpenFailuresAreTheEnginesMessages)
{
    const QString missing = Out("missing.xlsx");
    EXPECT_EQ(Message([&] { Open(missing); }),
              QStringLiteral("Cannot open \"%1\": no such file").arg(missing));
    EXPECT_EQ(Message([&] { Open(dir.path()); }),
              QStringLiteral("Cannot open \"%1\": it is a folder").arg(dir.path()));
    EXPECT_EQ(Message([&] { app.Get("Workbooks").Call("Open"); }),
              "Open needs the workbook's file name");
    EXPECT_EQ(Message([&] {
                  app.Get("Workbooks")
                      .Call("Open", {Variant(missing), Variant::Missing(), Variant("maybe")});
              }),
              "Cannot convert a value of type String to Boolean");
    try {
        Open(missing);
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Code(), DISP_E_EXCEPTION);
    }
}

TEST_F(EngineServer, ThePasswordArgumentReachesTheEngine)
{
    // protected.xls is encrypted with the password "secret".
    const QString path = Fixtures + "protected.xls";
    const Variant books = app.Get("Workbooks");
    const QString protectedMessage =
        QStringLiteral("The workbook \"%1\" is protected by a password").arg(path);
    EXPECT_EQ(Message([&] { books.Call("Open", {Variant(path)}); }), protectedMessage);
    EXPECT_EQ(Message([&] {
                  books.Call("Open", {Variant(path), Variant::Missing(), Variant(true),
                                      Variant::Missing(), Variant(73)});
              }),
              protectedMessage);
    const Variant book = books.Call("Open", {Variant(path), Variant::Missing(), Variant(true),
                                             Variant::Missing(), Variant("secret")});
    book.Call("SaveAs", {Variant(Out("secret.txt")), TextFormat});
    EXPECT_FALSE(ReadAll(Out("secret.txt")).isEmpty());
}

TEST_F(EngineServer, AFailedSaveLeavesNoFile)
{
    // The workbook opens; its sheet is damaged near the end of its rows.
    const Variant book = Open(Fixtures + "broken-sheet.xlsx");
    const QString target = Out("broken.txt");
    const QString message = Message([&] { book.Call("SaveAs", {Variant(target), TextFormat}); });
    EXPECT_TRUE(message.contains("is damaged: xl/worksheets/sheet1.xml")) << message.toStdString();
    EXPECT_EQ(Files(), QStringList());
}

TEST_F(EngineServer, NeverWritesTheWorkbookItReads)
{
    const QString copy = Out("book.xlsx");
    ASSERT_TRUE(QFile::copy(Fixtures + "sheets.xlsx", copy));
    const QByteArray before = ReadAll(copy);
    const Variant book = Open(copy);
    const QString message = Message([&] { book.Call("SaveAs", {Variant(copy), TextFormat}); });
    EXPECT_TRUE(message.contains("it is the workbook being converted")) << message.toStdString();
    EXPECT_EQ(ReadAll(copy), before);
    EXPECT_NO_THROW(book.Call("Close", {Variant(true)})); // nothing to save: nothing changed
    EXPECT_EQ(ReadAll(copy), before);
}

TEST_F(EngineServer, ClosedWorkbooksAndAQuitApplicationAnswerNoMore)
{
    const Variant book = Open(Fixtures + "sheets.xlsx");
    const Variant sheet = book.Get("ActiveSheet");
    book.Call("Close", {Variant(false)});
    EXPECT_NO_THROW(book.Call("Close", {Variant(false)}));
    const QString closed =
        QStringLiteral("The workbook \"%1\" has been closed").arg(Fixtures + "sheets.xlsx");
    EXPECT_EQ(Message([&] { book.Call("SaveAs", {Variant(Out("a.txt")), TextFormat}); }), closed);
    EXPECT_EQ(Message([&] { sheet.Call("SaveAs", {Variant(Out("a.txt")), TextFormat}); }), closed);
    EXPECT_EQ(Files(), QStringList());

    const Variant other = Open(Fixtures + "sheets.xlsx");
    app.Call("Quit");
    const QString gone = "The object invoked has disconnected from its clients.";
    EXPECT_EQ(Message([&] { app.Get("Version"); }), gone);
    EXPECT_EQ(Message([&] { other.Get("ActiveSheet"); }), gone);
}

// --- web workbooks --------------------------------------------------------------------------

class WebWorkbook : public EngineServer {
protected:
    HttpTestServer http;
    // A name of its own per test, so the temporary copies can be found.
    QString name = QUuid::createUuid().toString(QUuid::Id128) + ".xlsx";

    void TearDown() override { server::SetDownloadTimeout(std::chrono::seconds(30)); }
};

TEST_F(WebWorkbook, IsDownloadedAndTheCopyRemovedOnClose)
{
    http.Serve("/files/" + name, {200, "OK", ReadAll(Fixtures + "sheets.xlsx"), false});
    const Variant book = Open(http.Url("/files/" + name));
    EXPECT_EQ(Downloads(name).size(), 1);
    book.Get("Sheets", {Variant(4)}).Call("SaveAs", {Variant(Out("web.txt")), TextFormat});
    EXPECT_EQ(ReadAll(Out("web.txt")), "four\n");
    book.Call("Close", {Variant(false)});
    EXPECT_EQ(Downloads(name), QStringList());

    // Quitting closes what is still open, copies included; so does letting go of a workbook.
    const Variant open = Open(http.Url("/files/" + name));
    EXPECT_EQ(Downloads(name).size(), 1);
    app.Call("Quit");
    EXPECT_EQ(Downloads(name), QStringList());
}

TEST_F(WebWorkbook, TheCopyGoesWhenTheLastReferenceGoes)
{
    http.Serve("/files/" + name, {200, "OK", ReadAll(Fixtures + "sheets.xlsx"), false});
    {
        const Variant book = Open(http.Url("/files/" + name));
        EXPECT_EQ(Downloads(name).size(), 1);
    }
    EXPECT_EQ(Downloads(name), QStringList());
}

TEST_F(WebWorkbook, FailuresNameTheAddressAndLeaveNoCopy)
{
    http.Serve("/page/" + name, {200, "OK", "<!DOCTYPE html><html><body>Hi</body></html>", false});
    http.Serve("/gone/" + name, {410, "Gone", "", false});
    http.Serve("/hang/" + name, {200, "OK", "", true});
    server::SetDownloadTimeout(std::chrono::milliseconds(300));

    QTcpServer closed; // a port that nobody listens on any more
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/%2").arg(closed.serverPort()).arg(name);
    closed.close();

    struct Case {
        QString Url;
        QString Expected;
    };
    const std::vector<Case> cases = {
        {http.Url("/none/" + name), "the server answered 404 Not Found"},
        {http.Url("/gone/" + name), "the server answered 410 Gone"},
        {refused, "Connection refused"},
        {http.Url("/hang/" + name), "the server sent nothing for 0.3 seconds"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Message([&] { Open(c.Url); }),
                  QStringLiteral("Cannot download \"%1\": %2").arg(c.Url, c.Expected));
    }
    // Downloaded but not a workbook: the engine's message names the address, not the copy.
    const QString page = http.Url("/page/" + name);
    EXPECT_EQ(Message([&] { Open(page); }),
              QStringLiteral("Cannot open \"%1\": it is an HTML page, not a workbook").arg(page));
    EXPECT_EQ(Downloads(name), QStringList());
}
