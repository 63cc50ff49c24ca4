// TpzMorvel with the spreadsheet engine behind "Excel.Application": what the text files hold,
// how each failure ends up on its item, and what happens to targets and sources.

#include "HttpTestServer.h"
#include "MorvelTestSupport.h"
#include "platform/FileTime.h"
#include "server/EngineServer.h"

#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morveltest;

namespace {

class Morvel : public ::testing::Test {
protected:
    MorvelProcess process;
    TpzBatch batch;

    void SetUp() override { server::RegisterEngineServer(); }
};

} // namespace

TEST_F(Morvel, TheSheetsSaved)
{
    // Sheets One, Two (active), Hidden (hidden), Four; each holds its own name in A1.
    struct Case {
        const char* AllSheets;
        const char* Sheet;
        QByteArray Expected; // text, or the failure message
        bool Success;
    };
    const std::vector<Case> cases = {
        {"", "", "one\n\f\ntwo\n\f\nfour\n", true},
        {"1", "3", "one\n\f\ntwo\n\f\nfour\n", true},
        {"0", "", "two\n", true},
        {"0", "0", "two\n", true},
        {"0", "-1", "two\n", true},
        {"0", "x", "two\n", true},
        {"0", "1", "one\n", true},
        {"0", "3", "hidden\n", true},
        {"0", "5", "Sheet 5 does not exist: the workbook has 4 sheets", false},
    };
    const QString source = process.Source("sheets.xlsx", "book.xlsx");
    for (const Case& c : cases) {
        process.Set("AllSheets", c.AllSheets);
        process.Set("Sheet", c.Sheet);
        TpzBatch run;
        Convert(run, {source}, process.Out());
        TpzNode* item = Item(run, 0);
        SCOPED_TRACE(std::string(c.AllSheets) + "/" + c.Sheet);
        if (c.Success) {
            EXPECT_EQ(item->Status, StatusSuccess);
            EXPECT_EQ(item->ResultText, process.Out("book.txt"));
            EXPECT_EQ(ReadFile(process.Out("book.txt")), c.Expected);
            EXPECT_EQ(run.Successes(), 1);
        } else {
            EXPECT_EQ(item->Status, StatusFailure);
            EXPECT_EQ(item->ResultText.toUtf8(), c.Expected);
            EXPECT_EQ(run.Failures(), 1);
            // The old target was deleted before the save that failed.
            EXPECT_FALSE(QFileInfo::exists(process.Out("book.txt")));
        }
    }
}

TEST_F(Morvel, WorkbooksThatCannotBeOpenedKeepTheOldTarget)
{
    struct Case {
        QString Name;
        QString Fixture; // empty: the file is made here
        QByteArray Content;
        QString Expected; // %1 is the source path
        const char* SkipPassword;
    };
    const std::vector<Case> cases = {
        {"missing.xlsx", "", "", "Cannot open \"%1\": no such file", ""},
        {"notes.xls", "", "just some text\n",
         "Cannot open \"%1\": it is a text file, not a workbook", ""},
        {"empty.xlsx", "", "", "", ""},
        {"secret.xls", "protected.xls", "", "The workbook \"%1\" is protected by a password", "1"},
        {"secret2.xls", "protected.xls", "", "The workbook \"%1\" is protected by a password", ""},
    };
    for (const Case& c : cases) {
        process.Set("SkipPassword", c.SkipPassword);
        QString source = process.In(c.Name);
        if (!c.Fixture.isEmpty()) {
            source = process.Source(c.Fixture, c.Name);
        } else if (c.Name != "missing.xlsx") {
            WriteFile(source, c.Content);
        }
        const QString target = process.Out(QFileInfo(c.Name).completeBaseName() + ".txt");
        WriteFile(target, "old");
        TpzBatch run;
        Convert(run, {source}, process.Out());
        TpzNode* item = Item(run, 0);
        SCOPED_TRACE(c.Name.toStdString());
        EXPECT_EQ(item->Status, StatusFailure);
        if (!c.Expected.isEmpty()) {
            EXPECT_EQ(item->ResultText, c.Expected.arg(source));
        } else {
            EXPECT_TRUE(item->ResultText.startsWith("Cannot open \"" + source + "\""))
                << item->ResultText.toStdString();
        }
        EXPECT_EQ(run.Messages(), QStringList{item->ResultText});
        EXPECT_EQ(ReadFile(target), "old");
    }
}

TEST_F(Morvel, AFailedSaveLeavesNoFileAtTheTarget)
{
    const QString source = process.Source("broken-sheet.xlsx", "broken.xlsx");
    WriteFile(process.Out("broken.txt"), "old");
    process.Set("DeleteSource", "1");
    Convert(batch, {source}, process.Out());
    EXPECT_EQ(Item(batch, 0)->Status, StatusFailure);
    EXPECT_TRUE(Item(batch, 0)->ResultText.contains("is damaged: xl/worksheets/sheet1.xml"));
    // Neither the old text, nor a partial new one, nor the engine's temporary file.
    EXPECT_EQ(Names(process.Out()), QStringList());
    EXPECT_TRUE(QFileInfo::exists(source));
}

TEST_F(Morvel, ATargetThatIsTheSourceNeverDestroysIt)
{
    // A workbook that already carries the target extension, converted into its own folder.
    const QString source = process.Source("sheets.xlsx", "book.txt");
    const QByteArray before = ReadFile(source);
    struct Case {
        const char* Overwrite;
        int32_t Status;
        QString Result;
    };
    const std::vector<Case> cases = {
        {"1", StatusFailure,
         "The target file is the source file itself, so it is not converted: " + source},
        {"skip", StatusSuccess, ""},
        {"0", StatusSuccess, process.In("-morvel-book.txt")}, // beside it, under the second name
    };
    for (const Case& c : cases) {
        process.Set("IsOverwrite", c.Overwrite);
        TpzBatch run;
        Convert(run, {source}, process.In(QString()));
        EXPECT_EQ(Item(run, 0)->Status, c.Status) << c.Overwrite;
        EXPECT_EQ(Item(run, 0)->ResultText, c.Result) << c.Overwrite;
        EXPECT_EQ(ReadFile(source), before) << c.Overwrite;
    }
    // Through a symbolic link in the target folder too; the failure leaves the source alone.
    process.Set("IsOverwrite", "1");
    process.Set("DeleteSource", "1");
    const QString link = process.Out("book.txt");
    QDir().mkpath(process.Out());
    ASSERT_TRUE(QFile::link(source, link));
    TpzBatch run;
    Convert(run, {source}, process.Out());
    EXPECT_EQ(Item(run, 0)->Status, StatusFailure);
    EXPECT_EQ(ReadFile(source), before);
}

TEST_F(Morvel, AfterTheConversion)
{
    process.Set("KeepFileTime", "1");
    process.Set("RenameSource", ".done");
    const QString source = process.Source("sheets.xlsx", "book.xlsx");
    struct timespec old[2] = {{1000000000, 0}, {1100000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), old, 0), 0);
    Convert(batch, {source}, process.Out());
    ASSERT_EQ(Item(batch, 0)->Status, StatusSuccess);
    struct stat target {};
    ASSERT_EQ(::stat(QFile::encodeName(process.Out("book.txt")).constData(), &target), 0);
    EXPECT_EQ(target.st_mtim.tv_sec, 1100000000);
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_TRUE(QFileInfo::exists(source + ".done"));

    // A taken first name: the result is the second one.
    process.Set("IsOverwrite", "0");
    process.Set("RenameSource", "");
    const QString again = process.Source("sheets.xlsx", "book.xlsx");
    TpzBatch second;
    Convert(second, {again}, process.Out());
    EXPECT_EQ(Item(second, 0)->ResultText, process.Out("-morvel-book.txt"));
    EXPECT_EQ(ReadFile(process.Out("-morvel-book.txt")), "one\n\f\ntwo\n\f\nfour\n");
}

TEST_F(Morvel, SeveralWorkersConvertEveryWorkbook)
{
    process.Set("ThreadsCount", "3");
    process.Set("AllSheets", "0");
    process.Set("Sheet", "4");
    for (int i = 0; i < 12; ++i) {
        process.Source("sheets.xlsx", QStringLiteral("book%1.xlsx").arg(i));
    }
    process.Source("macros.xlsm", "macros.xlsm"); // one sheet: fails
    batch.Search(process.In("*.xls?"), process.Out(), false);
    RunChain(batch, process.Out());
    EXPECT_EQ(batch.Count(), 13);
    EXPECT_EQ(batch.Successes(), 12);
    EXPECT_EQ(batch.Failures(), 1);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(ReadFile(process.Out(QStringLiteral("book%1.txt").arg(i))), "four\n");
    }
    EXPECT_EQ(batch.Messages(), QStringList{"Sheet 4 does not exist: the workbook has 1 sheet"});
}

TEST_F(Morvel, AWebWorkbookIsDownloadedByItsWorker)
{
    HttpTestServer http;
    http.Serve("/share/report.xlsx", {200, "OK", ReadFile(Fixtures + "sheets.xlsx"), false});
    const QString address = http.Url("/share/report.xlsx");
    const QString missing = http.Url("/share/gone.xlsx");
    const auto copies = [] {
        return QDir(QDir::tempPath()).entryList({"tabulix-*-report.xlsx"}, QDir::Files);
    };
    const QStringList before = copies();
    Convert(batch, {address, missing}, process.Out());
    EXPECT_EQ(Item(batch, 0)->Status, StatusSuccess);
    EXPECT_EQ(Item(batch, 0)->ResultText, process.Out("report.txt"));
    EXPECT_EQ(ReadFile(process.Out("report.txt")), "one\n\f\ntwo\n\f\nfour\n");
    EXPECT_EQ(
        Item(batch, 1)->ResultText,
        QStringLiteral("Cannot download \"%1\": the server answered 404 Not Found").arg(missing));
    EXPECT_EQ(copies(), before);
}
