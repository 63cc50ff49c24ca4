// TpzExcelOle and the calls of TpzMorvel, against a stand-in spreadsheet application that
// records every call: the instance per worker, the version, the open options, the order of the
// conversion's steps and every failure recorded on its item.

#include "MorvelTestSupport.h"
#include "core/TpzInfo.h"
#include "platform/automation/Automation.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

using namespace automation;
using namespace morveltest;

namespace {

// What the stand-in does, and what it was asked.
struct Fake {
    std::mutex Lock;
    QStringList Calls;
    std::set<std::thread::id> Threads;
    int Created = 0;

    Variant VersionValue{"16.0"};
    bool VersionFails = false;
    bool CloseFails = false;
    bool SaveFails = false;
    QString OpenFailsFor; // a file name whose Open fails
    bool HasVBProject = false;
    bool HasVBProjectFails = false;
    QString Path{"/opt/spreadsheet"};

    void Record(const QString& call)
    {
        std::lock_guard guard(Lock);
        Calls.append(call);
        Threads.insert(std::this_thread::get_id());
    }
    QStringList TakeCalls()
    {
        std::lock_guard guard(Lock);
        return std::exchange(Calls, {});
    }
};

Fake* gFake = nullptr;

QString Describe(std::span<const Variant> args)
{
    QStringList parts;
    for (const Variant& a : args) {
        parts.append(a.IsMissing() ? QStringLiteral("<missing>")
                                   : VarTypeName(a.Type()) + u':' + a.ToString());
    }
    return parts.join(u',');
}

void WriteTarget(std::span<const Variant> args)
{
    if (gFake->SaveFails) {
        throw AutomationError(DISP_E_EXCEPTION, QStringLiteral("the disk is full"));
    }
    WriteFile(Argument(args, 0).ToString(), "saved");
}

class FakeSheet : public AutomationObject {
public:
    explicit FakeSheet(QString name) : FName(std::move(name)) {}
    Variant Invoke(const QString& name, InvokeKind, std::span<const Variant> args) override
    {
        gFake->Record((FName + u' ' + name + u' ' + Describe(args)).trimmed());
        if (name == u"SaveAs") {
            WriteTarget(args);
            return {};
        }
        throw UnknownMember(name);
    }

private:
    QString FName;
};

class FakeBook : public AutomationObject {
public:
    explicit FakeBook(QString file) : FFile(std::move(file)) {}
    Variant Invoke(const QString& name, InvokeKind, std::span<const Variant> args) override
    {
        QString call = QStringLiteral("Book ") + name + u' ' + Describe(args);
        if (name == u"Close") {
            // Whether the source is still there when its workbook closes.
            call += QFileInfo::exists(FFile) ? QStringLiteral(" (source present)")
                                             : QStringLiteral(" (source gone)");
        }
        gFake->Record(call.trimmed());
        if (name == u"SaveAs") {
            WriteTarget(args);
            return {};
        }
        if (name == u"Close") {
            if (gFake->CloseFails) {
                throw AutomationError(E_FAIL);
            }
            return {};
        }
        if (name == u"Sheets") {
            return std::make_shared<FakeSheet>(QStringLiteral("Sheet") +
                                               Argument(args, 0).ToString());
        }
        if (name == u"ActiveSheet") {
            return std::make_shared<FakeSheet>(QStringLiteral("ActiveSheet"));
        }
        if (name == u"HasVBProject") {
            if (gFake->HasVBProjectFails) {
                throw AutomationError(DISP_E_EXCEPTION, QStringLiteral("no access"));
            }
            return gFake->HasVBProject;
        }
        throw UnknownMember(name);
    }

private:
    QString FFile;
};

class FakeApp : public AutomationObject {
public:
    Variant Invoke(const QString& name, InvokeKind kind, std::span<const Variant> args) override
    {
        gFake->Record(((kind == InvokeKind::Put ? QStringLiteral("put ") : QString()) + name +
                       u' ' + Describe(args))
                          .trimmed());
        if (name == u"Version") {
            if (gFake->VersionFails) {
                throw AutomationError(E_FAIL);
            }
            return gFake->VersionValue;
        }
        if (name == u"DisplayAlerts" || name == u"Quit" || name == u"Workbooks") {
            return name == u"Workbooks" ? Variant(std::shared_ptr<FakeApp>(shared_from_this()))
                                        : Variant();
        }
        if (name == u"Open") {
            const QString file = Argument(args, 0).ToString();
            if (!gFake->OpenFailsFor.isEmpty() && file.endsWith(gFake->OpenFailsFor)) {
                throw AutomationError(DISP_E_EXCEPTION,
                                      QStringLiteral("Cannot open \"%1\": damaged").arg(file));
            }
            return std::make_shared<FakeBook>(file);
        }
        if (name == u"Path") {
            return gFake->Path;
        }
        throw UnknownMember(name);
    }

    std::shared_ptr<FakeApp> shared_from_this() { return FSelf.lock(); }
    std::weak_ptr<FakeApp> FSelf;
};

std::shared_ptr<AutomationObject> MakeFakeApp()
{
    {
        std::lock_guard guard(gFake->Lock);
        ++gFake->Created;
    }
    auto app = std::make_shared<FakeApp>();
    app->FSelf = app;
    return app;
}

class ExcelOle : public ::testing::Test {
protected:
    MorvelProcess process;
    Fake fake;
    TpzBatch batch;

    void SetUp() override
    {
        gFake = &fake;
        RegisterAutomationClass(ExcelProgID, MakeFakeApp);
    }
    void TearDown() override
    {
        UnregisterAutomationClass(ExcelProgID);
        gFake = nullptr;
    }

    // Sources a.xls, b.xls ... in the source folder.
    QStringList Sources(int count)
    {
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files.append(process.In(QString(QChar(u'a' + i)) + ".xls"));
            WriteFile(files.last(), "book");
        }
        return files;
    }
    QString Save(const QString& source) const
    {
        return QStringLiteral("Book SaveAs String:%1,Smallint:-4158")
            .arg(process.Out(QFileInfo(source).completeBaseName() + ".txt"));
    }
};

// Calls a test makes on a worker directly, on its own thread.
class Probe : public TpzMorvel {
public:
    using TpzExcelOle::CloseWorkbook;
    using TpzExcelOle::OpenWorkbook;
    using TpzMorvel::TpzMorvel;
};

} // namespace

TEST(ParseVersion, ReadsTheMajorVersion)
{
    struct Case {
        Variant Value;
        int32_t Expected;
    };
    const std::vector<Case> cases = {
        {Variant("16.0"), 16}, {Variant("12.0"), 12},    {Variant("11.0"), 11},
        {Variant("19.0"), 19}, {Variant(16.0), 16},      {Variant(160), 16},
        {Variant(77), 77},     {Variant(78), 7},         {Variant("770"), 77},
        {Variant("16"), 16},   {Variant(""), 0},         {Variant("abc"), 0},
        {Variant(), 0},        {Variant::Null(), 0},     {Variant::Missing(), 0},
        {Variant("1.2.3"), 0}, {Variant(int16_t{9}), 9},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TpzExcelOle::ParseVersion(c.Value), c.Expected)
            << VarTypeName(c.Value.Type()).toStdString() << " "
            << (c.Value.IsError() ? std::string("error") : c.Value.ToString().toStdString());
    }
}

TEST_F(ExcelOle, OneApplicationPerWorkerStartedOnItsFirstItemAndQuitAtItsEnd)
{
    const QStringList files = Sources(2);
    Convert(batch, files, process.Out());
    EXPECT_EQ(fake.Created, 1);
    EXPECT_EQ(fake.TakeCalls(),
              (QStringList{"Version", "put DisplayAlerts Boolean:False", "Workbooks",
                           "Open String:" + files[0] + ",<missing>,Boolean:False", Save(files[0]),
                           "Book Close Boolean:False (source present)", "Workbooks",
                           "Open String:" + files[1] + ",<missing>,Boolean:False", Save(files[1]),
                           "Book Close Boolean:False (source present)", "Quit"}));
    // Every call on the worker's own thread.
    ASSERT_EQ(fake.Threads.size(), 1u);
    EXPECT_NE(*fake.Threads.begin(), std::this_thread::get_id());
    EXPECT_EQ(batch.Successes(), 2);
    EXPECT_EQ(Item(batch, 1)->ResultText, process.Out("b.txt"));
    EXPECT_EQ(ReadFile(process.Out("b.txt")), "saved");
    EXPECT_EQ(pzInfo->StoreValue("W"), "16");
}

TEST_F(ExcelOle, WorkersWithoutItemsStartNoApplication)
{
    process.Set("ThreadsCount", "3");
    Convert(batch, Sources(1), process.Out());
    EXPECT_EQ(fake.Created, 1);
    EXPECT_EQ(fake.TakeCalls().count("Quit"), 1);
    EXPECT_EQ(batch.Successes(), 1);
}

TEST_F(ExcelOle, OpenOptions)
{
    struct Case {
        const char* ReadOnly;
        const char* SkipPassword;
        QString Arguments; // after the file name
    };
    const std::vector<Case> cases = {
        {"", "", ",<missing>,Boolean:False"},
        {"1", "", ",<missing>,Boolean:True"},
        {"True", "0", ",<missing>,Boolean:True"},
        // The dummy password opens read-only whatever ReadOnly says.
        {"0", "1", ",<missing>,Boolean:True,<missing>,Integer:73"},
        {"1", "true", ",<missing>,Boolean:True,<missing>,Integer:73"},
    };
    for (const Case& c : cases) {
        process.Set("ReadOnly", c.ReadOnly);
        process.Set("SkipPassword", c.SkipPassword);
        TpzBatch run;
        const QStringList files = Sources(1);
        Convert(run, files, process.Out());
        EXPECT_TRUE(fake.TakeCalls().contains("Open String:" + files[0] + c.Arguments))
            << c.ReadOnly << "/" << c.SkipPassword;
    }
}

TEST_F(ExcelOle, AVersionThatCannotBeReadStillTurnsAlertsOff)
{
    for (const bool fails : {true, false}) {
        fake.VersionFails = fails;
        fake.VersionValue = Variant("unknown"); // parses as 0 when it is read
        TpzBatch run;
        Convert(run, Sources(1), process.Out());
        const QStringList calls = fake.TakeCalls();
        EXPECT_EQ(calls.mid(0, 2), (QStringList{"Version", "put DisplayAlerts Boolean:False"}));
        EXPECT_EQ(run.Successes(), 1);
        // No version, no "W": counting it up would record a version nobody ran.
        EXPECT_EQ(pzInfo->StoreValue("W"), "");
    }
}

TEST_F(ExcelOle, AnApplicationThatCannotBeCreatedFailsEveryItemAndIsTriedAgainEachTime)
{
    int attempts = 0;
    RegisterAutomationClass(ExcelProgID, [&]() -> std::shared_ptr<AutomationObject> {
        ++attempts; // one worker: no lock needed
        throw AutomationError(REGDB_E_CLASSNOTREG);
    });
    Convert(batch, Sources(3), process.Out());
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(batch.Failures(), 3);
    EXPECT_EQ(Item(batch, 2)->ResultText, "Class not registered, ProgID: \"Excel.Application\"");

    UnregisterAutomationClass(ExcelProgID);
    TpzBatch none;
    Convert(none, Sources(1), process.Out());
    EXPECT_EQ(Item(none, 0)->Status, StatusFailure);
    EXPECT_EQ(Item(none, 0)->ResultText, "Invalid class string, ProgID: \"Excel.Application\"");
    EXPECT_EQ(none.Messages(), QStringList{Item(none, 0)->ResultText});
}

TEST_F(ExcelOle, AFailingCloseDoesNotKeepTheWorkbookForTheNextItem)
{
    fake.CloseFails = true;
    const QStringList files = Sources(2);
    Convert(batch, files, process.Out());
    const QStringList calls = fake.TakeCalls();
    EXPECT_TRUE(calls.contains("Open String:" + files[1] + ",<missing>,Boolean:False"));
    EXPECT_TRUE(calls.contains(Save(files[1])));
    EXPECT_EQ(batch.Successes(), 2);
}

TEST_F(ExcelOle, AFailedOpenLeavesTheOldTargetAndTheApplicationGoesOn)
{
    fake.OpenFailsFor = "a.xls";
    WriteFile(process.Out("a.txt"), "old");
    const QStringList files = Sources(2);
    Convert(batch, files, process.Out());
    EXPECT_EQ(Item(batch, 0)->Status, StatusFailure);
    EXPECT_EQ(Item(batch, 0)->ResultText,
              QStringLiteral("Cannot open \"%1\": damaged").arg(files[0]));
    EXPECT_EQ(ReadFile(process.Out("a.txt")), "old");
    EXPECT_EQ(Item(batch, 1)->Status, StatusSuccess);
    EXPECT_EQ(fake.Created, 1);
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(batch.Successes(), 1);
}

TEST_F(ExcelOle, AFailedSaveLeavesNoTargetAndClosesTheWorkbook)
{
    fake.SaveFails = true;
    process.Set("DeleteSource", "1");
    WriteFile(process.Out("a.txt"), "old");
    const QStringList files = Sources(1);
    Convert(batch, files, process.Out());
    EXPECT_EQ(Item(batch, 0)->ResultText, "the disk is full");
    EXPECT_FALSE(QFileInfo::exists(process.Out("a.txt")));
    EXPECT_TRUE(QFileInfo::exists(files[0])); // a failure never touches the source
    EXPECT_TRUE(fake.TakeCalls().contains("Book Close Boolean:False (source present)"));
}

TEST_F(ExcelOle, ASkippedItemStartsNothing)
{
    process.Set("IsOverwrite", "skip");
    WriteFile(process.Out("a.txt"), "old");
    Convert(batch, Sources(1), process.Out());
    EXPECT_EQ(fake.Created, 0);
    EXPECT_EQ(Item(batch, 0)->Status, StatusSuccess);
    EXPECT_EQ(Item(batch, 0)->ResultText, "");
    EXPECT_EQ(batch.Successes(), 0);
    EXPECT_EQ(ReadFile(process.Out("a.txt")), "old");
}

TEST_F(ExcelOle, TheSourceIsHandledOnlyAfterItsWorkbookIsClosed)
{
    process.Set("DeleteSource", "1");
    const QStringList files = Sources(1);
    Convert(batch, files, process.Out());
    EXPECT_TRUE(fake.TakeCalls().contains("Book Close Boolean:False (source present)"));
    EXPECT_FALSE(QFileInfo::exists(files[0]));
    EXPECT_EQ(Item(batch, 0)->Status, StatusSuccess);
}

TEST_F(ExcelOle, TheSheetToSave)
{
    struct Case {
        const char* AllSheets;
        const char* Sheet;
        QStringList Calls; // after the Open
    };
    const QString target = process.Out("a.txt");
    const QString saveArgs = "String:" + target + ",Smallint:-4158";
    const std::vector<Case> cases = {
        {"", "2", {"Book SaveAs " + saveArgs}},
        {"1", "2", {"Book SaveAs " + saveArgs}},
        {"0", "", {"Book ActiveSheet", "ActiveSheet SaveAs " + saveArgs}},
        {"False", "0", {"Book ActiveSheet", "ActiveSheet SaveAs " + saveArgs}},
        {"0", "-3", {"Book ActiveSheet", "ActiveSheet SaveAs " + saveArgs}},
        {"0", "abc", {"Book ActiveSheet", "ActiveSheet SaveAs " + saveArgs}},
        {"0", "2", {"Book Sheets Integer:2", "Sheet2 SaveAs " + saveArgs}},
        {"0", "$10", {"Book Sheets Integer:16", "Sheet16 SaveAs " + saveArgs}},
    };
    for (const Case& c : cases) {
        process.Set("AllSheets", c.AllSheets);
        process.Set("Sheet", c.Sheet);
        TpzBatch run;
        Convert(run, Sources(1), process.Out());
        const QStringList calls = fake.TakeCalls();
        const qsizetype open = calls.indexOf(QRegularExpression("^Open .*"));
        ASSERT_GE(open, 0);
        EXPECT_EQ(calls.mid(open + 1, c.Calls.size()), c.Calls) << c.AllSheets << "/" << c.Sheet;
    }
}

TEST_F(ExcelOle, MacrosAndTheApplicationsProgram)
{
    struct Case {
        Variant Version;
        bool HasVBProject;
        bool Fails;
        bool Expected;
        bool Asked;
    };
    const std::vector<Case> cases = {
        {Variant("16.0"), false, false, false, true},
        {Variant("16.0"), true, false, true, true},
        {Variant("12.0"), false, true, true, true}, // the question fails: macros assumed
        {Variant("11.0"), false, false, true, false},
    };
    for (const Case& c : cases) {
        fake.VersionValue = c.Version;
        fake.HasVBProject = c.HasVBProject;
        fake.HasVBProjectFails = c.Fails;
        Probe probe(&batch, 1, nullptr);
        probe.OpenWorkbook(Sources(1)[0]);
        EXPECT_EQ(probe.HasMacros(), c.Expected) << c.Version.ToString().toStdString();
        EXPECT_EQ(fake.TakeCalls().contains("Book HasVBProject"), c.Asked);
        EXPECT_EQ(probe.AppExePath(), "/opt/spreadsheet/EXCEL.EXE");
        probe.CloseWorkbook();
    }
}
