#include "BatchTestSupport.h"

#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/ShellOpen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace testsupport {

void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(content);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

RunResult RunChain(TpzBatch& batch, const QString& target,
                   const std::function<void(TpzConvertor&)>& prepare)
{
    RunResult result;
    std::mutex lock;
    auto head = TpzConvertor::CreateWorkers(&batch, target, [&](TpzBatch*, TpzNode* node) {
        std::lock_guard guard(lock);
        result.Done.emplace_back(node->Index, node->ResultText);
    });
    if (prepare) {
        prepare(*head);
    }
    RunningWorkers.store(head->Count() < 1 ? 1 : head->Count());
    head->Start();
    while (RunningWorkers.load() > 0) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    head.reset();
    std::lock_guard guard(lock);
    return result;
}

TpzNode* Item(TpzBatch& batch, int index)
{
    TpzNode* node = batch.LockList().at(index);
    batch.UnlockList();
    return node;
}

namespace {

const bool Registered = [] {
    RegisterConvertorClass<TpzTestConvertor>(QStringLiteral("TpzTestConvertor"));
    return true;
}();

std::mutex gWritingLock;
std::multiset<QString> gWriting;

} // namespace

TestProcess::TestProcess()
{
    (void)Registered;
    FProcess = std::make_unique<TpzProcess>(FDir.path() + QStringLiteral("/tabulix"), QString());
    FProcess->StartUp();
    pzProject->SetConverterClass(QStringLiteral("TpzTestConvertor"));
    pzMatch.store(&FMatch);
    SkipOwnerFiles.store(true);
    RunningWorkers.store(0);
    platform::SetShellOpenHook([this](const QString& target) {
        std::lock_guard guard(FLock);
        FOpened.append(target);
    });
}

TestProcess::~TestProcess()
{
    platform::SetShellOpenHook({});
    SkipOwnerFiles.store(false);
    pzMatch.store(nullptr);
    FProcess.reset();
}

void TestProcess::Set(const QString& key, const QString& value)
{
    pzProject->SetOption(key, value);
}

QStringList TestProcess::Opened() const
{
    std::lock_guard guard(FLock);
    return FOpened;
}

std::atomic<int> TpzTestConvertor::WriteDelayMs{0};
std::atomic<int> TpzTestConvertor::OverlappingWrites{0};

void TpzTestConvertor::Convert(TpzBatch* batch, TpzNode* node)
{
    const QString target = TargetPath(batch, node);
    if (target.isEmpty()) {
        return;
    }
    try {
        QFile source(node->FileName);
        if (!source.open(QIODevice::ReadOnly)) {
            throw Exception(QStringLiteral("Cannot open the workbook %1: %2")
                                .arg(node->FileName, source.errorString()));
        }
        const QByteArray content = source.readAll();
        source.close();
        if (content.startsWith("FAIL:")) {
            throw Exception(QString::fromUtf8(content.mid(5).split('\n').first()));
        }
        DeleteTarget(target);
        {
            std::lock_guard guard(gWritingLock);
            if (gWriting.count(target) > 0) {
                ++OverlappingWrites;
            }
            gWriting.insert(target);
        }
        if (const int delay = WriteDelayMs.load(); delay > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        QFile out(target);
        const bool written = out.open(QIODevice::WriteOnly) &&
                             out.write(QByteArray("converted ") + node->FileName.toUtf8()) > 0;
        out.close();
        {
            std::lock_guard guard(gWritingLock);
            gWriting.erase(gWriting.find(target));
        }
        if (!written) {
            throw Exception(QStringLiteral("Cannot write %1").arg(target));
        }
        AfterConvert(batch, node, target);
        node->ResultText = target;
        node->Status = StatusSuccess;
        batch->AddSuccess();
    } catch (const Exception& e) {
        node->ResultText = e.Message();
        node->Status = StatusFailure;
        batch->AddFailure(e.Message());
    }
}

} // namespace testsupport
