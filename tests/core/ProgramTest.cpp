// The program itself, started as a child process from a copy in a temporary folder, so that its
// project, history and store files land beside that copy.

#include "ProgramCopy.h"

#include <QFileInfo>

namespace {

class Program : public ProgramCopy {};

} // namespace

TEST_F(Program, ConsoleRunWithSettingsOnTheCommandLine)
{
    const QString settings = QStringLiteral("-P:Source=%1/*.xls?,Target=%2,PureConsole=1")
                                 .arg(exe.Path("in"), exe.Path("out"));
    const Result first = Run({settings});
    EXPECT_EQ(first.exitCode, 0) << first.standardError.toStdString();
    EXPECT_TRUE(QFileInfo::exists(exe.Path("tabulix.log")));
    EXPECT_TRUE(Store().contains("R=1")) << Store().join(',').toStdString();

    const Result second = Run({settings, "ignored second argument"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(Store().contains("R=2")) << Store().join(',').toStdString();
}

TEST_F(Program, OtherStartsEndWithZero)
{
    WriteBytes(exe.Path("job.batch-morvel"), "Source=/nowhere/*.xls?\r\n");
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"-"}, QStringList{"-U"}, QStringList{"-Ifrom=test"},
          QStringList{exe.Path("job.batch-morvel")}, QStringList{"/some/book.xlsx"}}) {
        const Result result = Run(arguments);
        EXPECT_EQ(result.exitCode, 0) << arguments.join(' ').toStdString();
    }
    EXPECT_EQ(ReadBytes(exe.Path("tabulix.log")), exe.Path("job.batch-morvel").toUtf8() + "\r\n");
    EXPECT_TRUE(Store().contains("R=6"));
}

TEST_F(Program, ReadOnlyFolderStillStarts)
{
    // A store and a history that cannot be written (folders in their place) stop nothing.
    ASSERT_TRUE(QDir().mkpath(exe.Path("tabulix.ext")));
    ASSERT_TRUE(QDir().mkpath(exe.Path("tabulix.log")));
    const Result result = Run({"-P:Source=/x/*.xls,Target=/y,PureConsole=1"});
    EXPECT_EQ(result.exitCode, 0) << result.standardError.toStdString();
}
