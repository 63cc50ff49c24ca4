// The program itself, started as a child process from a copy in a temporary folder, so that its
// project, history and store files land beside that copy.

#include "TestSupport.h"
#include "core/TpzFileUtils.h"
#include "core/TpzInfo.h"
#include "platform/FileTime.h"
#include "platform/TextFile.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

class Program : public ::testing::Test {
protected:
    TempExe exe;
    QTemporaryDir noOpener; // an empty PATH: nothing can be opened, whatever the test does

    void SetUp() override { ASSERT_TRUE(QFile::copy(TABULIX_EXE, exe.Exe())); }

    struct Result {
        int exitCode = -1;
        QByteArray standardError;
    };
    Result Run(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", noOpener.path());
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        process.setProcessEnvironment(environment);
        process.start(exe.Exe(), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardError()};
    }

    QStringList Store() const
    {
        QString text;
        const int32_t stamp = platform::PackDosDateTime(*platform::BirthTime(exe.Folder()));
        if (!TpzInfo::DecodeStore(TpzFileUtils::ReadText(exe.Path("tabulix.ext"), 2), stamp,
                                  &text)) {
            return {"(does not decode)"};
        }
        return platform::SplitLines(text);
    }
};

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
