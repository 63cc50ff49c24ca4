// The command line, opening and saving projects, the default project and the history file.

#include "TestSupport.h"
#include "batch/TpzMatch.h"
#include "batch/pzBatch.h"
#include "core/TpzApp.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

// Runs the start-up of a process whose executable lies in a temporary folder.
class StartUp : public ::testing::Test {
protected:
    TempExe exe;
    OpenedLinks opened;

    // The settings, ProjectFile and whether the process goes on after the command line.
    struct Result {
        QStringList settings;
        QString projectFile;
        bool goesOn = true;
    };
    Result Start(const QString& argument)
    {
        TpzProcess process(exe.Exe(), argument);
        Result result;
        result.goesOn = process.StartUp();
        result.settings = pzProject->SettingsLines();
        result.projectFile = pzProject->ProjectFile();
        return result;
    }
    QString DefaultProject() const { return exe.Path("tabulix.batch-morvel"); }
};

} // namespace

TEST_F(StartUp, ProductConstants)
{
    TpzProcess process(exe.Exe(), "");
    ASSERT_TRUE(process.StartUp());
    EXPECT_EQ(pzProject->ConverterClass(), "TpzMorvel");
    EXPECT_EQ(pzProject->SourceMask(), "*.xls?");
    EXPECT_EQ(pzProject->SourceFilter(), "Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx");
    EXPECT_EQ(pzProject->TargetExt(), ".txt");
    EXPECT_EQ(pzProject->ShortName(), "morvel");
    EXPECT_EQ(pzProject->ProjectExt(), ".batch-morvel");
    EXPECT_EQ(pzProject->ProjectFilter(), "Tabulix Project|*.batch-morvel");
    EXPECT_EQ(pzProject->Title(), "Tabulix Converter");
    EXPECT_EQ(pzProject->Version(), "2019.11.215.1520");
    EXPECT_EQ(pzProject->DefaultProjectFile(), DefaultProject());
    EXPECT_EQ(pzProject->HistoryFile(), exe.Path("tabulix.log"));
}

TEST_F(StartUp, ProcessObjectsLiveExactlyAsLongAsTheProcess)
{
    {
        TpzProcess process(exe.Exe(), "x");
        EXPECT_NE(pzApp, nullptr);
        EXPECT_NE(pzInfo, nullptr);
        EXPECT_NE(pzProject, nullptr);
        EXPECT_NE(pzMain, nullptr);
        EXPECT_EQ(pzApp->ExeName(), exe.Exe());
        EXPECT_EQ(pzApp->FirstParam(), "x");
        EXPECT_THROW(TpzProcess(exe.Exe(), ""), Exception) << "only one at a time";
        EXPECT_EQ(pzMatch.load(), nullptr) << "the matcher comes with the start-up step";
        EXPECT_FALSE(SkipOwnerFiles.load());
        ASSERT_TRUE(process.StartUp());
        EXPECT_NE(dynamic_cast<TpzMatch*>(pzMatch.load()), nullptr);
        EXPECT_TRUE(SkipOwnerFiles.load());
    }
    EXPECT_EQ(pzMatch.load(), nullptr);
    EXPECT_EQ(pzApp, nullptr);
    EXPECT_EQ(pzInfo, nullptr);
    EXPECT_EQ(pzProject, nullptr);
    EXPECT_EQ(pzMain, nullptr);
    // Shutdown wrote the history and the store beside the executable.
    EXPECT_TRUE(QFileInfo::exists(exe.Path("tabulix.log")));
    EXPECT_TRUE(QFileInfo::exists(exe.Path("tabulix.ext")));
}

TEST_F(StartUp, SettingsSwitch)
{
    struct Case {
        const char* argument;
        QStringList settings;
    };
    const Case cases[] = {
        {"-P:Source=/in/*.xls,Target=/out/,PureConsole=1",
         {"Source=/in/*.xls", "Target=/out/", "PureConsole=1"}},
        {"-p:Source=/in/*.xls;Target=/out;PureConsole=1",
         {"Source=/in/*.xls", "Target=/out", "PureConsole=1"}},
        {"-PSource=/in/a.xlsx", {"Source=/in/a.xlsx", "Target=/in/"}}, // target from the source
        {"-P::Source=/x", {":Source=/x"}},                             // only one ":" goes
        {"-P:Source=/in/*.xls,,Target=/o", {"Source=/in/*.xls", "", "Target=/o"}},
    };
    for (const Case& c : cases) {
        const Result result = Start(c.argument);
        EXPECT_TRUE(result.goesOn);
        EXPECT_EQ(result.settings, c.settings) << c.argument;
        EXPECT_EQ(result.projectFile, "") << c.argument;
    }
}

TEST_F(StartUp, NoArgumentOrOneCharacterLoadsTheDefaultProject)
{
    for (const char* argument : {"", "-", "x", "-Z", "-Zany"}) {
        const Result result = Start(argument);
        EXPECT_TRUE(result.goesOn) << argument;
        EXPECT_EQ(result.projectFile, DefaultProject()) << argument;
        EXPECT_TRUE(result.settings.isEmpty()) << argument;
    }
    WriteBytes(DefaultProject(), "Source=/d/*.xls?\r\nPureConsole=True\r\n");
    const Result result = Start("");
    EXPECT_EQ(result.settings, QStringList({"Source=/d/*.xls?", "PureConsole=True"}));
    TpzProcess process(exe.Exe(), "");
    process.StartUp();
    EXPECT_TRUE(TpzProcess::IsConsoleRun());
}

TEST_F(StartUp, NoticesOpenTheirLinkAndEndTheProcess)
{
    const Result install = Start("-Iref=setup&lang=en");
    EXPECT_FALSE(install.goesOn);
    EXPECT_TRUE(install.settings.isEmpty());
    EXPECT_EQ(install.projectFile, "") << "no project is loaded";
    const Result uninstall = Start("-u");
    EXPECT_FALSE(uninstall.goesOn);
    {
        TpzProcess process(exe.Exe(), "-U");
        EXPECT_FALSE(process.StartUp());
        EXPECT_EQ(pzMatch.load(), nullptr) << "a notice ends the start before the matcher";
    }
    ASSERT_EQ(opened.Links().size(), 3);
    EXPECT_TRUE(opened.Links().at(0).startsWith(
        QStringLiteral("%1/net/?a=ins&p=morvel&").arg(TpzInfo::WebSite)));
    EXPECT_TRUE(opened.Links().at(0).endsWith("&ref=setup&lang=en"));
    EXPECT_TRUE(opened.Links().at(1).startsWith(
        QStringLiteral("%1/net/?a=uni&p=morvel&").arg(TpzInfo::WebSite)));
    // Ending early still writes the history and the store.
    EXPECT_TRUE(QFileInfo::exists(exe.Path("tabulix.log")));
}

TEST_F(StartUp, AProjectFileArgumentIsLoadedAndRemembered)
{
    const QString project = exe.Path("job.batch-morvel");
    WriteBytes(project, "Source=/in/*.xls?\r\nTarget=/out/\r\n");
    {
        TpzProcess process(exe.Exe(), project);
        ASSERT_TRUE(process.StartUp());
        EXPECT_EQ(pzProject->ProjectFile(), project);
        EXPECT_EQ(pzProject->Source(), "/in/*.xls?");
        EXPECT_EQ(pzProject->History(), QStringList({project}));
    }
    // "/" starts a path here, not a switch: an absolute path is never taken for "-P" or "-U".
    EXPECT_EQ(ReadBytes(exe.Path("tabulix.log")), project.toUtf8() + "\r\n");
}

TEST_F(StartUp, AnUnreadableProjectFileLeavesEmptySettings)
{
    const Result result = Start(exe.Path("missing.batch-morvel"));
    EXPECT_TRUE(result.goesOn);
    EXPECT_TRUE(result.settings.isEmpty());
    EXPECT_EQ(result.projectFile, exe.Path("missing.batch-morvel"));
    TpzProcess process(exe.Exe(), exe.Path("missing.batch-morvel"));
    process.StartUp();
    EXPECT_TRUE(pzProject->History().isEmpty());
    EXPECT_FALSE(TpzProcess::IsConsoleRun());
}

TEST_F(StartUp, AWorkbookArgumentBecomesTheSource)
{
    const Result result = Start("/data/in/book.xlsx");
    EXPECT_EQ(result.settings, QStringList({"Source=/data/in/book.xlsx", "Target=/data/in/"}));
    EXPECT_EQ(result.projectFile, "");
}

TEST_F(StartUp, ARelativeArgumentIsMadeAbsolute)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(exe.Folder()));
    const Result result = Start("book.xls");
    QDir::setCurrent(previous);
    const QString full = QFileInfo(exe.Path("book.xls")).absoluteFilePath();
    EXPECT_EQ(result.settings,
              QStringList({"Source=" + full, "Target=" + QFileInfo(full).absolutePath() + "/"}));
}

TEST_F(StartUp, RunMode)
{
    struct Case {
        const char* argument;
        bool console;
    };
    const Case cases[] = {
        {"-P:Source=/in/*.xls,Target=/out,PureConsole=1", true},
        {"-P:Source=/in/*.xls,Target=/out,PureConsole=True", true},
        {"-P:Source=http://h/a.xlsx,Target=/out,PureConsole=1", false},
        {"-P:Source=/in/http/a.xlsx,Target=/out,PureConsole=1", false}, // "http" anywhere
        {"-P:Source=/in/HTTP/a.xlsx,Target=/out,PureConsole=1", true},  // letter case counts
        {"-P:Source=/in/*.xls,Target=/out,PureConsole=0", false},
        {"-P:Source=/in/*.xls,Target=/out", false},
    };
    for (const Case& c : cases) {
        TpzProcess process(exe.Exe(), c.argument);
        ASSERT_TRUE(process.StartUp());
        EXPECT_EQ(TpzProcess::IsConsoleRun(), c.console) << c.argument;
    }
}

namespace {

class ProjectFiles : public ::testing::Test {
protected:
    TempExe exe;
    std::unique_ptr<TpzProject> project = MakeProject();

    std::unique_ptr<TpzProject> MakeProject()
    {
        auto made = std::make_unique<TpzProject>(exe.Exe());
        made->SetShortName("morvel");
        made->SetProjectExt(".batch-morvel");
        return made;
    }
};

} // namespace

TEST_F(ProjectFiles, OpenAWorkbookKeepsTheTargetAndOptions)
{
    project->SetSettingsLines({"Source=/old/*.xls?", "Target=/keep/", "ThreadsCount=3"});
    project->SetProjectFile("/elsewhere/new.xlsx");
    project->Open();
    EXPECT_EQ(project->SettingsLines(),
              QStringList({"Source=/elsewhere/new.xlsx", "Target=/keep/", "ThreadsCount=3"}));
    EXPECT_EQ(project->ProjectFile(), "");
}

TEST_F(ProjectFiles, OpenAnUnreadableProjectKeepsTheSettings)
{
    project->SetSettingsLines({"Source=/a"});
    project->SetProjectFile(exe.Path("gone.batch-morvel"));
    project->Open();
    EXPECT_EQ(project->SettingsLines(), QStringList({"Source=/a"}));
    EXPECT_TRUE(project->History().isEmpty());
    // A folder with a project's name cannot be read either.
    ASSERT_TRUE(QDir().mkpath(exe.Path("dir.batch-morvel")));
    project->SetProjectFile(exe.Path("dir.batch-morvel"));
    project->Open();
    EXPECT_EQ(project->SettingsLines(), QStringList({"Source=/a"}));
}

TEST_F(ProjectFiles, OptionTextBecomesTheSettingsWhenThereIsNoProjectFile)
{
    project->SetOptionText("Source=/in/a.xls\r\nTarget=");
    project->SetProjectFile("");
    project->Open();
    EXPECT_EQ(project->Target(), "/in/");
    project->SetOptionText("Source=a.xls");
    project->Open();
    EXPECT_EQ(project->SettingsLines(), QStringList({"Source=a.xls"})) << "no folder, no target";
}

TEST_F(ProjectFiles, NewEmptiesEverythingButOptionText)
{
    project->SetOptionText("Source=/x");
    project->SetProjectFile(exe.Path("a.batch-morvel"));
    project->SetSettingsLines({"Source=/y"});
    project->New();
    EXPECT_EQ(project->ProjectFile(), "");
    EXPECT_TRUE(project->SettingsLines().isEmpty());
    EXPECT_EQ(project->OptionText(), "Source=/x");
}

TEST_F(ProjectFiles, StoreWritesTheFileAndTheHistory)
{
    const QString file = exe.Path("a.batch-morvel");
    project->SetSettingsLines({"Source=/in/*.xls?", "kept line", "Subdir=True"});
    project->SetOption("Target", "/out/");
    project->SetOption("Subdir", "");
    project->SetProjectFile(file);
    project->Store(true);
    EXPECT_EQ(ReadBytes(file), "Source=/in/*.xls?\r\nkept line\r\nTarget=/out/\r\n");
    EXPECT_EQ(project->History(), QStringList({file}));

    // Saving again under a name the history holds keeps its place.
    const QString other = exe.Path("b.batch-morvel");
    project->SetProjectFile(other);
    project->Store(true);
    project->SetProjectFile(file);
    project->Store(true);
    EXPECT_EQ(project->History(), QStringList({other, file}));
}

TEST_F(ProjectFiles, StoreIntoAMissingFolderNamesTheFile)
{
    const QString file = exe.Path("missing/folder/a.batch-morvel");
    project->SetSettingsLines({"Source=/in"});
    project->SetProjectFile(file);
    try {
        project->Store(true);
        FAIL() << "no error";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(file)) << error.Message().toStdString();
    }
    EXPECT_TRUE(project->History().isEmpty()) << "a project that was not saved is not recent";

    project->SetProjectFile("");
    EXPECT_THROW(project->Store(true), Exception);
    EXPECT_NO_THROW(project->Store(false));
}

TEST_F(ProjectFiles, AProjectWithAUtf8MarkIsWrittenBackWithout)
{
    const QString file = exe.Path("bom.batch-morvel");
    WriteBytes(file, "\xEF\xBB\xBFSource=/in/caf\xC3\xA9/*.xls?\r\nTarget=/out/");
    project->SetProjectFile(file);
    project->Open();
    EXPECT_EQ(project->Source(), QString::fromUtf8("/in/café/*.xls?"));
    project->Store(true);
    EXPECT_EQ(ReadBytes(file), "Source=/in/caf\xC3\xA9/*.xls?\r\nTarget=/out/\r\n");
}

TEST_F(ProjectFiles, HistorySurvivesTheProject)
{
    const QString a = exe.Path("a.batch-morvel");
    const QString b = exe.Path("b.batch-morvel");
    WriteBytes(a, "Source=/a\r\n");
    WriteBytes(b, "Source=/b\r\n");
    for (const QString& file : {a, b}) {
        project->SetProjectFile(file);
        project->Open();
    }
    project.reset();
    EXPECT_EQ(ReadBytes(exe.Path("tabulix.log")), (b + "\r\n" + a + "\r\n").toUtf8());
    project = MakeProject();
    EXPECT_EQ(project->History(), QStringList({b, a}));
}

TEST_F(ProjectFiles, GarbageFilesFallBackQuietly)
{
    QRandomGenerator random(2019);
    QByteArray noise(4096, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(random.bounded(256));
    }
    const QByteArray garbage[] = {
        noise,
        QByteArray(),
        QByteArray("\xFF\xFE\x00", 3), // a UTF-16 mark and half a character
        QByteArray("\xFE\xFF"),
        QByteArray("\x00Source=/a\r\n", 12),
        QByteArray(100000, '='),
        QByteArray("PK\x03\x04\x14\x00\x06\x00", 8), // the start of a workbook, not a project
    };
    for (const QByteArray& bytes : garbage) {
        WriteBytes(exe.Path("tabulix.log"), bytes);
        WriteBytes(exe.Path("g.batch-morvel"), bytes);
        project = MakeProject();
        for (const QString& entry : project->History()) {
            EXPECT_FALSE(entry.isEmpty());
        }
        project->SetProjectFile(exe.Path("g.batch-morvel"));
        project->Open();
        EXPECT_EQ(project->ThreadsCount(), 1);
        EXPECT_EQ(project->IsOverwrite(), TpzOverwrite::Overwrite);
        EXPECT_TRUE(project->KeepTargetSubdirs());
    }
}
