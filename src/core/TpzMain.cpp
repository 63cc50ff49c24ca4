#include "core/TpzMain.h"

#include "batch/pzBatch.h"
#include "convert/pzConvertor.h"
#include "core/TpzApp.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

#include <chrono>
#include <cstdio>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

void PrintError(const QString& text)
{
    std::fprintf(stderr, "tabulix: %s\n", text.toLocal8Bit().constData());
}

} // namespace

TpzMain::TpzMain() = default;

TpzMain::~TpzMain()
{
    // The workers have ended by now (Run waits for them); letting go of the chain joins their
    // threads before the batch they read goes.
    FWorkers.reset();
    FBatch.reset();
}

QString TpzMain::ResultLine(const TpzNode& item)
{
    QString word;
    switch (item.Status) {
    case StatusSuccess:
        word = QStringLiteral("Success");
        break;
    case StatusFailure:
        word = QStringLiteral("Failure");
        break;
    default:
        word = QStringLiteral("Running");
    }
    return QStringLiteral("%1 => %2 => %3").arg(word, item.FileName, item.ResultText);
}

QString TpzMain::CommaText(const QStringList& messages)
{
    QStringList parts;
    for (const QString& m : messages) {
        bool quote = m.isEmpty();
        for (const QChar c : m) {
            if (c.unicode() <= u' ' || c == u',' || c == u'"') {
                quote = true;
                break;
            }
        }
        if (quote) {
            QString inner = m;
            inner.replace(u'"', QStringLiteral("\"\""));
            parts.append(u'"' + inner + u'"');
        } else {
            parts.append(m);
        }
    }
    return parts.join(u',');
}

QStringList TpzMain::Log() const
{
    std::lock_guard guard(FLogLock);
    return FLog;
}

void TpzMain::LogItem(TpzBatch* /*batch*/, TpzNode* item)
{
    const QString line = ResultLine(*item);
    std::lock_guard guard(FLogLock);
    FLog.append(line);
    FLastFile = item->FileName;
}

int TpzMain::Run()
{
    {
        std::lock_guard guard(FLogLock);
        FLog.clear();
    }
    const QString source = pzProject->Source();
    if (pzProject->Target().isEmpty()) {
        // The target folder would otherwise be the file-system root or the current folder;
        // neither is what anybody asked for.
        PrintError(QStringLiteral("the project names no Target folder; nothing was converted. "
                                  "Set Target=<folder> in the project or with -P."));
        return 2;
    }
    if (source.isEmpty()) {
        PrintError(QStringLiteral("the project names no Source; nothing was converted. "
                                  "Set Source=<folder>/*.xls? in the project or with -P."));
        return 2;
    }

    FBatch = std::make_unique<TpzBatch>();
    const bool subdirs = pzProject->Subdir();
    const QString target = pzProject->TargetDir();
    // A web address is converted as one item; the converter fetches it.
    if (platform::IsWebAddress(source)) {
        FBatch->AddFile(source);
    } else {
        FBatch->Search(source, target, subdirs);
    }
    FWorkers = TpzConvertor::CreateWorkers(
        FBatch.get(), target, [this](TpzBatch* batch, TpzNode* item) { LogItem(batch, item); });
    RunningWorkers.store(FWorkers->Count() < 1 ? 1 : FWorkers->Count());
    FWorkers->Start();
    if (pzInfo != nullptr) {
        pzInfo->AddCount(QStringLiteral("C"), 0, 1);
    }

    FProgress = isatty(STDERR_FILENO) != 0;
    // Polls every 100 ms for the progress line, but wakes as soon as the last worker ends: on
    // a run of small files the poll would otherwise be a good part of the whole time.
    while (!WaitForRunningWorkers(std::chrono::milliseconds(100))) {
        if (FProgress) {
            ShowProgress();
        }
    }
    // Every worker has done its end-of-work; letting go of the chain joins the threads.
    FWorkers.reset();
    FBatch->WaitFor();

    if (FProgress) {
        std::fputs("\r\033[K", stderr); // the summary of EndRun takes the progress line's place
    }
    EndRun();
    return 0;
}

void TpzMain::EndRun()
{
    const int32_t count = FBatch->Count();
    const int32_t successes = FBatch->Successes();
    const int32_t failures = FBatch->Failures();
    if (pzInfo != nullptr) {
        pzInfo->AddCount(QStringLiteral("A"), 0, count);
        pzInfo->AddCount(QStringLiteral("S"), 0, successes);
        pzInfo->AddCount(QStringLiteral("F"), 0, failures);
        if (failures > 0) {
            // The notice escapes the query itself ("?" becomes %3F there), so the messages go
            // in as they are.
            pzInfo->OpenLink(QString(), QStringLiteral("err&e=") + CommaText(FBatch->Messages()),
                             QString());
        }
    }
    const QString logFile = pzProject->GetOption(QStringLiteral("LogFile"));
    if (!logFile.isEmpty()) {
        platform::WriteTextFile(logFile, Log());
    }
    if (FProgress) {
        QString summary = QStringLiteral("%1 of %2 files converted, %3 failed")
                              .arg(successes)
                              .arg(count)
                              .arg(failures);
        if (!logFile.isEmpty()) {
            summary += QStringLiteral("; log: ") + logFile;
        }
        std::fprintf(stderr, "%s\n", summary.toLocal8Bit().constData());
    }
}

void TpzMain::ShowProgress()
{
    qsizetype done = 0;
    QString last;
    {
        std::lock_guard guard(FLogLock);
        done = FLog.size();
        last = FLastFile;
    }
    QString line = QStringLiteral("%1 of %2 done, %3 failed")
                       .arg(done)
                       .arg(FBatch->Count())
                       .arg(FBatch->Failures());
    if (!last.isEmpty()) {
        line += QStringLiteral("  ") + last;
    }
    winsize ws{};
    int width = 80;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        width = ws.ws_col;
    }
    if (width >= 20 && line.size() > width - 1) {
        // Keep the end of the path, which says more than its beginning.
        line = line.left(width / 2 - 2) + QStringLiteral("...") +
               line.right(width - 1 - (width / 2 - 2) - 3);
    }
    // "\r" and erase-to-end-of-line keep the progress on one line of the terminal.
    std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(stderr);
}
