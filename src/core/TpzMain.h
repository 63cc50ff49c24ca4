#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

class TpzBatch;
class TpzNode;
class TpzConvertor;

// The console runner: converts the current project once, without a window. Created empty at
// start-up and freed at program end; it runs at most one run per process.
//
// With standard error on a terminal it shows one progress line while the run goes on and a
// one-line summary at the end; otherwise it prints nothing, and the log file, the converted
// files and the usage counters are the only traces of a run.
class TpzMain {
public:
    TpzMain();
    ~TpzMain();
    TpzMain(const TpzMain&) = delete;
    TpzMain& operator=(const TpzMain&) = delete;

    // The whole console run; returns the process's exit code when it is over: 0 after a run,
    // 2 when the project names no Source or no Target (a message on standard error says which,
    // and nothing is converted). A log file that cannot be written raises Exception naming it,
    // after the usage counters were saved.
    int Run();
    // The item-done event of the workers: appends the item's result line, on a worker thread.
    void LogItem(TpzBatch* batch, TpzNode* item);
    // The report at the end of the run: usage counters, failure notice, log file.
    void EndRun();

    // The result line of an item: status word, source and result, joined by " => ".
    static QString ResultLine(const TpzNode& item);
    // The messages as one comma text: a message holding a blank, a control character, a ","
    // or a double quote, or an empty one, goes in double quotes with inner quotes doubled.
    static QString CommaText(const QStringList& messages);

    TpzBatch* Batch() const { return FBatch.get(); }
    QStringList Log() const;

private:
    void ShowProgress();

    std::unique_ptr<TpzBatch> FBatch;
    std::shared_ptr<TpzConvertor> FWorkers;
    mutable std::mutex FLogLock;
    QStringList FLog;
    QString FLastFile; // guarded by FLogLock, for the progress line
    bool FProgress = false;
    int FProgressWidth = 0;
};
