// The settings list and the option keys of a project.

#include "TestSupport.h"
#include "core/TpzProject.h"

#include <QDir>
#include <QFileInfo>

namespace {

class ProjectSettings : public ::testing::Test {
protected:
    TempExe exe;
    TpzProject project{exe.Exe()};
};

} // namespace

TEST_F(ProjectSettings, FirstMatchingKeyWinsWithoutLetterCase)
{
    project.SetSettingsLines({"# comment", "source=/a/*.xls", "Source=/b/*.xls", "Target =/c",
                              "no equals sign", "Empty="});
    EXPECT_EQ(project.GetOption("Source"), "/a/*.xls");
    EXPECT_EQ(project.GetOption("SOURCE"), "/a/*.xls");
    EXPECT_EQ(project.GetOption("Target"), "") << "a blank before = makes a different key";
    EXPECT_EQ(project.GetOption("Target "), "/c");
    EXPECT_EQ(project.GetOption("no equals sign"), "");
    EXPECT_EQ(project.GetOption("Empty"), "");
    EXPECT_EQ(project.GetOption(""), "");
}

TEST_F(ProjectSettings, ValuesKeepEveryCharacterAfterTheFirstEquals)
{
    project.SetSettingsLines({"RegExt= ^a=b$ "});
    EXPECT_EQ(project.GetOption("RegExt"), " ^a=b$ ");
}

TEST_F(ProjectSettings, SetReplacesInPlaceAppendsAndDeletes)
{
    project.SetSettingsLines({"x y z", "source=/a", "Subdir=1", "Source=/second"});
    project.SetOption("Source", "/new");
    project.SetOption("ThreadsCount", "2");
    project.SetOption("Subdir", "");
    EXPECT_EQ(project.SettingsLines(),
              QStringList({"x y z", "source=/new", "Source=/second", "ThreadsCount=2"}));
    project.SetOption("Missing", ""); // deleting nothing changes nothing
    EXPECT_EQ(project.SettingsLines().size(), 4);
}

TEST_F(ProjectSettings, SettingsTextRoundTrip)
{
    project.SetSettingsText("A=1\r\nB=2\nC=3\r");
    EXPECT_EQ(project.SettingsLines(), QStringList({"A=1", "B=2", "C=3"}));
    EXPECT_EQ(project.SettingsText(), "A=1\r\nB=2\r\nC=3\r\n");
}

TEST(OptionValues, Booleans)
{
    struct Case {
        const char* value;
        bool whenDefaultFalse;
        bool whenDefaultTrue;
    };
    const Case cases[] = {
        {"1", true, true},       {"0", false, false},     {"-1", true, true},
        {"2", true, true},       {"True", true, true},    {"TRUE", true, true},
        {"false", false, false}, {"FaLsE", false, false}, {"$0", false, false},
        {"0x10", true, true},    {"0.0", false, false},   {"0.5", true, true},
        {" 1", true, true},      {"yes", false, true},    {"no", false, true},
        {"", false, true},       {"True ", false, true},  {"1x", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TpzProject::ParseBoolean(c.value, false), c.whenDefaultFalse) << c.value;
        EXPECT_EQ(TpzProject::ParseBoolean(c.value, true), c.whenDefaultTrue) << c.value;
    }
}

TEST(OptionValues, Integers)
{
    struct Case {
        const char* value;
        int result; // with the default 7
    };
    const Case cases[] = {
        {"12", 12},
        {"  12", 12},
        {"\t3", 3},
        {"+3", 3},
        {"-4", -4},
        {"$10", 16},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", 7},
        {"99999999999999999999", 7},
        {"2x", 7},
        {"12 ", 7},
        {"", 7},
        {"$", 7},
        {"0x", 7},
        {"-", 7},
        {"1.5", 7},
        {"$G", 7},
        {"x", 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TpzProject::ParseInteger(c.value, 7), c.result) << c.value;
    }
}

TEST_F(ProjectSettings, EveryOptionHasItsDefaultWhenMissing)
{
    EXPECT_EQ(project.Source(), "");
    EXPECT_EQ(project.Target(), "");
    EXPECT_EQ(project.RenameSource(), "");
    EXPECT_FALSE(project.Subdir());
    EXPECT_TRUE(project.KeepTargetSubdirs());
    EXPECT_FALSE(project.KeepFileTime());
    EXPECT_FALSE(project.DeleteSource());
    EXPECT_FALSE(project.PureConsole());
    EXPECT_EQ(project.ThreadsCount(), 1);
    EXPECT_EQ(project.Daemon(), 0);
    EXPECT_EQ(project.IsOverwrite(), TpzOverwrite::Overwrite);
    EXPECT_FALSE(project.IsAutoRun());
}

TEST_F(ProjectSettings, UnparsableValuesGiveTheDefault)
{
    project.SetSettingsLines({"ThreadsCount=2x", "KeepTargetSubdirs=maybe", "Daemon=soon",
                              "Subdir=1", "AllSheets=0", "Sheet=$3"});
    EXPECT_EQ(project.ThreadsCount(), 1);
    EXPECT_TRUE(project.KeepTargetSubdirs());
    EXPECT_EQ(project.Daemon(), 0);
    EXPECT_TRUE(project.Subdir());
    EXPECT_FALSE(project.GetBoolOption("AllSheets", true));
    EXPECT_EQ(project.GetIntOption("Sheet", 0), 3);
    project.SetOption("ThreadsCount", "$10");
    EXPECT_EQ(project.ThreadsCount(), 16);
}

TEST_F(ProjectSettings, IsOverwriteHasThreeAnswers)
{
    struct Case {
        const char* value;
        TpzOverwrite answer;
    };
    const Case cases[] = {
        {"SKIP", TpzOverwrite::Skip},       {"skip", TpzOverwrite::Skip},
        {"0", TpzOverwrite::Rename},        {"False", TpzOverwrite::Rename},
        {"1", TpzOverwrite::Overwrite},     {"True", TpzOverwrite::Overwrite},
        {"yes", TpzOverwrite::Overwrite},   {"", TpzOverwrite::Overwrite},
        {" skip", TpzOverwrite::Overwrite},
    };
    for (const Case& c : cases) {
        project.SetSettingsLines({QStringLiteral("IsOverwrite=") + c.value});
        EXPECT_EQ(project.IsOverwrite(), c.answer) << c.value;
        EXPECT_EQ(static_cast<int>(project.IsOverwrite()), static_cast<int>(c.answer));
    }
    EXPECT_EQ(static_cast<int>(TpzOverwrite::Skip), 9);
}

TEST_F(ProjectSettings, IsAutoRun)
{
    struct Case {
        QStringList lines;
        bool autoRun;
    };
    const Case cases[] = {
        {{}, false},
        {{"RunAndClose=True"}, true},
        {{"PureConsole=1"}, true},
        {{"Daemon=1000"}, true},
        {{"Daemon=0", "RunAndClose=False", "PureConsole=0"}, false},
        {{"Daemon=-5"}, false},
    };
    for (const Case& c : cases) {
        project.SetSettingsLines(c.lines);
        EXPECT_EQ(project.IsAutoRun(), c.autoRun) << c.lines.join(',').toStdString();
    }
}

TEST_F(ProjectSettings, TargetDirCreatesTheFolderAndEndsInDelimiter)
{
    const QString target = exe.Path("out/deeper");
    project.SetOption("Target", target);
    EXPECT_EQ(project.TargetDir(), target + "/");
    EXPECT_TRUE(QFileInfo(target).isDir());
    project.SetOption("Target", target + "/");
    EXPECT_EQ(project.TargetDir(), target + "/");
}

TEST_F(ProjectSettings, TargetDirOfAnEmptyTargetIsEmpty)
{
    // Completing "" to "/" would make the file-system root the target.
    EXPECT_EQ(project.TargetDir(), "");
}

TEST_F(ProjectSettings, TargetDirThatCannotBeCreatedIsStillReturned)
{
    WriteBytes(exe.Path("file"), "x");
    project.SetOption("Target", exe.Path("file/sub"));
    EXPECT_EQ(project.TargetDir(), exe.Path("file/sub/"));
}

TEST_F(ProjectSettings, IsProjectFile)
{
    project.SetProjectExt(".batch-morvel");
    struct Case {
        const char* name;
        bool result;
    };
    const Case cases[] = {
        {"/p/a.batch-morvel", true},
        {".batch-morvel", true},
        {"/p/a.BATCH-MORVEL", false},
        {"/p/a.batch-morvel.bak", false},
        {"/p/x.batch-morvel/a.batch-morvel", false}, // first occurrence must end the name
        {"/p/a.xlsx", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(project.IsProjectFile(c.name), c.result) << c.name;
    }
}
