#pragma once

// The program itself, started as a child process from a copy in a temporary folder, so that its
// project, history and usage store land beside that copy. TABULIX_EXE names the built program.

#include "TestSupport.h"
#include "core/TpzFileUtils.h"
#include "core/TpzInfo.h"
#include "platform/FileTime.h"
#include "platform/TextFile.h"

#include <QProcess>
#include <QProcessEnvironment>

class ProgramCopy : public ::testing::Test {
protected:
    TempExe exe;
    QTemporaryDir noOpener; // an empty PATH: nothing can be opened, whatever the test does

    void SetUp() override { ASSERT_TRUE(QFile::copy(TABULIX_EXE, exe.Exe())); }

    struct Result {
        int exitCode = -1; // -1 when the program did not end normally
        QByteArray standardError;
    };
    // Runs the copy without a display and with nothing it could open.
    Result Run(const QStringList& arguments, int timeoutMs = 60000)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", noOpener.path());
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        process.setProcessEnvironment(environment);
        process.start(exe.Exe(), arguments);
        EXPECT_TRUE(process.waitForFinished(timeoutMs));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardError()};
    }

    // The usage store's lines, decoded with the stamp of the copy's folder.
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
