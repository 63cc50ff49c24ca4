#pragma once

// Shared pieces of the batch, conversion and console-run tests: the process objects in a
// temporary folder, a converter class of the tests, a run of the worker chain, and small file
// helpers.

#include "batch/TpzMatch.h"
#include "convert/pzConvertor.h"
#include "core/TpzApp.h"

#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <utility>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace testsupport {

// Writes a file, creating its folders.
void WriteFile(const QString& path, const QByteArray& content = QByteArray("book"));
QByteArray ReadFile(const QString& path);

// Starts a chain the way the console runner does and waits until every worker has ended,
// serving the main-thread calls meanwhile. prepare, when given, sees the head first.
struct RunResult {
    std::vector<std::pair<int, QString>> Done; // (index, status word) in finishing order
};
RunResult RunChain(TpzBatch& batch, const QString& target,
                   const std::function<void(TpzConvertor&)>& prepare = {});

// The item at index of the batch's list.
TpzNode* Item(TpzBatch& batch, int index);

// The process objects as start-up makes them, with the executable in a temporary folder (so
// the usage store and history land there), the product constants, the file-name matcher, the
// leaving-out of owner files, the test converter as ConverterClass and shell opens captured.
class TestProcess {
public:
    TestProcess();
    ~TestProcess();
    QString Root() const { return FDir.path() + u'/'; }
    void Set(const QString& key, const QString& value);
    QStringList Opened() const;

private:
    QTemporaryDir FDir;
    std::unique_ptr<TpzProcess> FProcess;
    TpzMatch FMatch;
    mutable std::mutex FLock;
    QStringList FOpened;
};

// The converter class of the tests, registered as "TpzTestConvertor". It writes a small text
// file naming its source. A source whose content begins with "FAIL:" fails with the rest of
// its first line as the message; a source that cannot be read fails with a message saying so.
// While it writes it keeps the target in a set, so a test can see whether two workers ever
// wrote the same file at once.
class TpzTestConvertor : public TpzConvertor {
public:
    using TpzConvertor::TargetPath;
    using TpzConvertor::TpzConvertor;

    static std::atomic<int> WriteDelayMs;      // time spent "writing" each target
    static std::atomic<int> OverlappingWrites; // writes that met another of the same target

protected:
    void Convert(TpzBatch* batch, TpzNode* node) override;
};

} // namespace testsupport
