// The console run, in-process, from a loaded project to the end of the run, with the
// converter class of the tests.

#include "core/TpzMain.h"
#include "BatchTestSupport.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <set>

using testsupport::ReadFile;
using testsupport::TestProcess;
using testsupport::WriteFile;

namespace {

class ConsoleRunTest : public testing::Test {
protected:
    void SetUp() override
    {
        Process.Set("Source", In + "*.xls?");
        Process.Set("Target", Out);
        Process.Set("Subdir", "True");
        Process.Set("LogFile", LogFile);
    }

    // The lines of the log file, without their CR LF.
    QStringList LogLines() const
    {
        const QByteArray bytes = ReadFile(LogFile);
        EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith("\r\n"));
        QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }

    static std::set<QString> AsSet(const QStringList& list) { return {list.begin(), list.end()}; }

    TestProcess Process;
    QString In = Process.Root() + "in/";
    QString Out = Process.Root() + "out/";
    QString LogFile = Process.Root() + "run.log";
};

TEST_F(ConsoleRunTest, ConvertsTheTreeAndLogsOneLinePerItem)
{
    for (const char* name : {"a.xls", "b.xlsx", "~$b.xlsx", ".hidden.xls", "notes.txt", "sub/c.xls",
                             ".git/skipped.xls", "sub/deeper/d.xlsm"}) {
        WriteFile(In + name);
    }
    for (const char* threads : {"1", "4", "0"}) {
        Process.Set("ThreadsCount", threads);
        TpzMain runner;
        EXPECT_EQ(runner.Run(), 0);
        EXPECT_EQ(RunningWorkers.load(), 0);
        const QStringList lines = LogLines();
        EXPECT_EQ(lines, runner.Log()) << threads; // in finishing order, as collected
        EXPECT_EQ(AsSet(lines),
                  (std::set<QString>{"Success => " + In + "a.xls => " + Out + "a.txt",
                                     "Success => " + In + "b.xlsx => " + Out + "b.txt",
                                     "Success => " + In + ".hidden.xls => " + Out + ".hidden.txt",
                                     "Success => " + In + "sub/c.xls => " + Out + "sub/c.txt",
                                     "Success => " + In + "sub/deeper/d.xlsm => " + Out +
                                         "sub/deeper/d.txt"}))
            << threads;
        EXPECT_EQ(ReadFile(Out + "sub/c.txt"), ("converted " + In + "sub/c.xls").toUtf8());
        EXPECT_EQ(runner.Batch()->Successes(), 5);
    }
    // Three runs, each counted; the totals add up.
    EXPECT_EQ(pzInfo->StoreValue("C"), "3");
    EXPECT_EQ(pzInfo->StoreValue("A"), "15");
    EXPECT_EQ(pzInfo->StoreValue("S"), "15");
    EXPECT_TRUE(Process.Opened().isEmpty()); // nothing failed, no notice
}

TEST_F(ConsoleRunTest, WithOneWorkerTheLogFollowsTheListing)
{
    for (int i = 0; i < 12; ++i) {
        WriteFile(In + QStringLiteral("d%1/f.xls").arg(i % 3) + QString::number(i));
    }
    Process.Set("Source", In + "*.xls*");
    TpzMain runner;
    runner.Run();
    QStringList listed;
    const auto& items = runner.Batch()->LockList();
    for (const TpzNode* node : items) {
        listed.append("Success => " + node->FileName + " => " + node->ResultText);
    }
    runner.Batch()->UnlockList();
    EXPECT_EQ(LogLines(), listed);
}

TEST_F(ConsoleRunTest, MasksRegExtAndFlatTargets)
{
    for (const char* name : {"a.xls", "b.xlsx", "2019/c.xls", "2019/d.xlsx"}) {
        WriteFile(In + name);
    }
    Process.Set("Source", In + "*.xls");
    Process.Set("RegExt", "/2019/");
    Process.Set("KeepTargetSubdirs", "False");
    TpzMain runner;
    runner.Run();
    EXPECT_EQ(LogLines(), QStringList{"Success => " + In + "2019/c.xls => " + Out + "c.txt"});
}

TEST_F(ConsoleRunTest, OverwriteAnswers)
{
    WriteFile(In + "a.xls");
    struct Case {
        const char* Policy;
        const char* Line; // the third field
        const char* OldContent;
    };
    for (const Case& c : {Case{"skip", "", "old"}, Case{"False", "-morvel-a.txt", "old"},
                          Case{"True", "a.txt", nullptr}}) {
        WriteFile(Out + "a.txt", "old");
        QFile::remove(Out + "-morvel-a.txt");
        Process.Set("IsOverwrite", c.Policy);
        TpzMain runner;
        runner.Run();
        const QString third = *c.Line == 0 ? QString() : Out + c.Line;
        EXPECT_EQ(LogLines(), QStringList{"Success => " + In + "a.xls => " + third}) << c.Policy;
        if (c.OldContent != nullptr) {
            EXPECT_EQ(ReadFile(Out + "a.txt"), c.OldContent) << c.Policy;
        } else {
            EXPECT_EQ(ReadFile(Out + "a.txt"), ("converted " + In + "a.xls").toUtf8());
        }
        // A skipped item is no conversion.
        EXPECT_EQ(runner.Batch()->Successes(), QString(c.Policy) == "skip" ? 0 : 1);
    }
}

TEST_F(ConsoleRunTest, DeleteAndRenameTheSources)
{
    WriteFile(In + "a.xls");
    WriteFile(In + "sub/b.xls");
    Process.Set("RenameSource", ".done");
    TpzMain runner;
    runner.Run();
    EXPECT_TRUE(QFileInfo::exists(In + "a.xls.done"));
    EXPECT_TRUE(QFileInfo::exists(In + "sub/b.xls.done"));
    EXPECT_FALSE(QFileInfo::exists(In + "a.xls"));

    WriteFile(In + "c.xls");
    Process.Set("RenameSource", "");
    Process.Set("DeleteSource", "True");
    TpzMain second;
    second.Run();
    EXPECT_FALSE(QFileInfo::exists(In + "c.xls"));
    EXPECT_TRUE(QFileInfo::exists(Out + "c.txt"));
}

TEST_F(ConsoleRunTest, FailuresAreLoggedCountedAndNoticedOnce)
{
    WriteFile(In + "good.xls");
    WriteFile(In + "bad1.xls", "FAIL:Bad file? see & fix");
    WriteFile(In + "bad2.xls", "FAIL:BAD FILE? SEE & FIX");
    WriteFile(In + "bad3.xls", "FAIL:Other, \"quoted\"");
    Process.Set("ThreadsCount", "2");
    TpzMain runner;
    runner.Run();
    const auto lines = AsSet(LogLines());
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines.count("Failure => " + In + "bad1.xls => Bad file? see & fix"));
    EXPECT_EQ(runner.Batch()->Failures(), 3);
    EXPECT_EQ(runner.Batch()->Messages().size(), 2);
    EXPECT_EQ(pzInfo->StoreValue("F"), "3");

    const QStringList opened = Process.Opened();
    ASSERT_EQ(opened.size(), 1);
    // "?" travels as %3F, and the messages as one comma text, each once.
    EXPECT_TRUE(opened[0].contains("%3F")) << opened[0].toStdString();
    const QUrlQuery query{QUrl(opened[0]).query(QUrl::FullyEncoded)};
    EXPECT_EQ(query.queryItemValue("a"), "err");
    const QString e = query.queryItemValue("e", QUrl::FullyDecoded);
    const QStringList expected = runner.Batch()->Messages();
    // The notice drops every double quote of its values.
    EXPECT_EQ(e, TpzMain::CommaText(expected).remove(u'"'));
    EXPECT_EQ(e.count("see & fix", Qt::CaseInsensitive), 1);
}

TEST(CommaTextTest, QuotesWhatNeedsIt)
{
    EXPECT_EQ(TpzMain::CommaText({"plain", "two words", "a,b", "say \"hi\"", "tab\there"}),
              "plain,\"two words\",\"a,b\",\"say \"\"hi\"\"\",\"tab\there\"");
    EXPECT_EQ(TpzMain::CommaText({""}), "\"\"");
    EXPECT_EQ(TpzMain::CommaText({}), "");
}

TEST_F(ConsoleRunTest, LogFileIsReplacedOrNotWritten)
{
    WriteFile(In + "a.xls");
    WriteFile(LogFile, "an old log that is much longer than the new one\r\n");
    {
        TpzMain runner;
        runner.Run();
    }
    EXPECT_EQ(LogLines().size(), 1);
    QFile::remove(LogFile);
    Process.Set("LogFile", "");
    {
        TpzMain runner;
        EXPECT_EQ(runner.Run(), 0);
        EXPECT_EQ(runner.Batch()->Successes(), 1);
    }
    EXPECT_FALSE(QFileInfo::exists(LogFile));
}

TEST_F(ConsoleRunTest, NothingListedWritesAnEmptyLog)
{
    QDir().mkpath(In);
    TpzMain runner;
    EXPECT_EQ(runner.Run(), 0);
    EXPECT_TRUE(QFileInfo::exists(LogFile));
    EXPECT_EQ(ReadFile(LogFile), QByteArray());
    EXPECT_EQ(pzInfo->StoreValue("A"), "0");
}

TEST_F(ConsoleRunTest, ALogFileThatCannotBeWrittenIsAnErrorAfterTheCountersAreSaved)
{
    WriteFile(In + "a.xls");
    Process.Set("LogFile", Process.Root() + "no/such/folder/run.log");
    TpzMain runner;
    try {
        runner.Run();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains("run.log")) << e.what();
    }
    EXPECT_EQ(pzInfo->StoreValue("S"), "1");
    EXPECT_TRUE(QFileInfo::exists(Out + "a.txt"));
}

TEST_F(ConsoleRunTest, MissingTargetOrSourceRefusesTheRun)
{
    WriteFile(In + "a.xls");
    Process.Set("Target", "");
    EXPECT_EQ(TpzMain().Run(), 2);
    Process.Set("Target", Out);
    Process.Set("Source", "");
    EXPECT_EQ(TpzMain().Run(), 2);
    EXPECT_FALSE(QFileInfo::exists(Out + "a.txt"));
    EXPECT_FALSE(QFileInfo::exists(LogFile));
    EXPECT_TRUE(pzInfo->StoreValue("C").isEmpty());
}

TEST_F(ConsoleRunTest, FileAddressesForSourceAndTarget)
{
    WriteFile(In + "my book.xls");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Process.Root()));
    Process.Set("Source", "file://" + QString(In).replace(" ", "%20") + "*.xls?");
    Process.Set("Target", "file://localhost" + Out + "sub");
    TpzMain runner;
    runner.Run();
    QDir::setCurrent(before);
    EXPECT_EQ(LogLines(),
              QStringList{"Success => " + In + "my book.xls => " + Out + "sub/my book.txt"});
    EXPECT_FALSE(QFileInfo::exists(Process.Root() + "file:"));
}

TEST_F(ConsoleRunTest, AWebAddressIsOneItem)
{
    Process.Set("Source", "https://example.invalid/books/a.xls");
    TpzMain runner;
    runner.Run();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Failure => https://example.invalid/books/a.xls => "));
    EXPECT_EQ(runner.Batch()->Count(), 1);
}

} // namespace
