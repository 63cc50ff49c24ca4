#include "convert/pzConvertor.h"

#include "core/TpzApp.h"
#include "core/TpzProject.h"
#include "platform/ClassRegistry.h"
#include "platform/Exception.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<int32_t> RunningWorkers{0};

namespace {
std::mutex WorkersEndedLock;
std::condition_variable WorkersEnded;
} // namespace

bool WaitForRunningWorkers(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(WorkersEndedLock);
    return WorkersEnded.wait_for(guard, timeout, [] { return RunningWorkers.load() <= 0; });
}

// ------------------------------------------------------------------------------------------
// The registry of converter classes

namespace {

platform::ClassRegistry<TpzConvertorFactory>& TheRegistry()
{
    static platform::ClassRegistry<TpzConvertorFactory> registry;
    return registry;
}

// Workers of a converter class that this program does not have: every item fails with a
// message that says so, and the run still lists and reports every file.
class TpzMissingConvertor : public TpzConvertor {
public:
    TpzMissingConvertor(TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone, QString name)
        : TpzConvertor(batch, count, std::move(onNodeDone)), FName(std::move(name))
    {}

protected:
    void Convert(TpzBatch* batch, TpzNode* node) override
    {
        const QString message =
            FName.isEmpty()
                ? QStringLiteral("No converter is available: the project names no converter "
                                 "class")
                : QStringLiteral("No converter is available: the converter class \"%1\" is not "
                                 "part of this program")
                      .arg(FName);
        node->ResultText = message;
        node->Status = StatusFailure;
        batch->AddFailure(message);
    }

private:
    QString FName;
};

QString ProjectConverterClass()
{
    return pzProject != nullptr ? pzProject->ConverterClass() : QString();
}

// The factory for the project's converter class, or one of missing-class workers.
TpzConvertorFactory ProjectFactory()
{
    const QString name = ProjectConverterClass();
    if (TpzConvertorFactory factory = FindConvertorClass(name)) {
        return factory;
    }
    return [name](TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone) {
        return std::make_shared<TpzMissingConvertor>(batch, count, std::move(onNodeDone), name);
    };
}

const bool BaseRegistered = [] {
    RegisterConvertorClass<TpzConvertor>(QStringLiteral("TpzConvertor"));
    return true;
}();

} // namespace

void RegisterConvertorClass(const QString& name, TpzConvertorFactory factory)
{
    TheRegistry().Register(name, std::move(factory));
}

void UnregisterConvertorClass(const QString& name)
{
    TheRegistry().Unregister(name);
}

TpzConvertorFactory FindConvertorClass(const QString& name)
{
    return TheRegistry().Find(name);
}

// ------------------------------------------------------------------------------------------
// Calls on the main thread

namespace {

struct PendingCall {
    std::function<void()> Fn;
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
};

// The calls are queued under a standard mutex and the Qt event only wakes the main thread up,
// so every hand-over between the threads goes through a lock that thread checkers can see.
std::mutex gQueueLock;
std::deque<std::shared_ptr<PendingCall>> gQueue;

class MainThreadDispatcher : public QObject {
protected:
    void customEvent(QEvent* /*event*/) override
    {
        for (;;) {
            std::shared_ptr<PendingCall> call;
            {
                std::lock_guard guard(gQueueLock);
                if (gQueue.empty()) {
                    return;
                }
                call = gQueue.front();
                gQueue.pop_front();
            }
            try {
                call->Fn();
            } catch (...) {
                // A failing notice must not leave its worker waiting for ever.
            }
            {
                std::lock_guard guard(call->Lock);
                call->Finished = true;
            }
            call->Done.notify_all();
        }
    }
};

QPointer<MainThreadDispatcher> gDispatcher; // guarded by gQueueLock

QObject* Dispatcher(QCoreApplication* app)
{
    std::lock_guard guard(gQueueLock);
    if (gDispatcher.isNull()) {
        auto* dispatcher = new MainThreadDispatcher;
        if (QThread::currentThread() == app->thread()) {
            dispatcher->setParent(app);
        } else {
            dispatcher->moveToThread(app->thread());
        }
        gDispatcher = dispatcher;
    }
    return gDispatcher.data();
}

} // namespace

void RunOnMainThread(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QObject* receiver = Dispatcher(app);
    auto call = std::make_shared<PendingCall>();
    call->Fn = fn;
    auto* wake = new QEvent(QEvent::User);
    {
        // Posting under the same lock keeps Qt's own queue, whose lock the thread checker
        // cannot see, from being grown by two workers at once in its eyes.
        std::lock_guard guard(gQueueLock);
        gQueue.push_back(call);
        QCoreApplication::postEvent(receiver, wake);
    }
    std::unique_lock lock(call->Lock);
    call->Done.wait(lock, [&] { return call->Finished; });
}

// ------------------------------------------------------------------------------------------
// TpzConvertor

TpzConvertor::TpzConvertor(TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone)
    : TpzWorkBase(batch), FOnNodeDone(std::move(onNodeDone)), FCount(count)
{
    // The chain is made of the project's class, whatever class this worker is.
    if (count > 1) {
        FNext = ProjectFactory()(batch, count - 1, FOnNodeDone);
    }
}

TpzConvertor::~TpzConvertor() = default;

std::shared_ptr<TpzConvertor> TpzConvertor::CreateWorkers(TpzBatch* batch, const QString& target,
                                                          TpzNodeEvent onNodeDone)
{
    batch->SetTargetFolder(TpzBatch::NormalizePath(target));
    const int count = pzProject != nullptr ? pzProject->ThreadsCount() : 1;
    if (QCoreApplication* app = QCoreApplication::instance();
        app != nullptr && QThread::currentThread() == app->thread()) {
        Dispatcher(app); // made here so that it belongs to the main thread from the start
    }
    return ProjectFactory()(batch, count, std::move(onNodeDone));
}

void TpzConvertor::Start()
{
    Resume();
    if (FNext) {
        FNext->Start();
    }
}

void TpzConvertor::Stop()
{
    try {
        if (FNext) {
            FNext->Stop();
        }
        Terminate();
    } catch (...) {
    }
}

void TpzConvertor::SetOnFinish(const TpzEvent& event)
{
    {
        std::lock_guard guard(FFinishLock);
        FOnFinish = event;
    }
    if (FNext) {
        FNext->SetOnFinish(event);
    }
}

TpzEvent TpzConvertor::OnFinish() const
{
    std::lock_guard guard(FFinishLock);
    return FOnFinish;
}

void TpzConvertor::Process()
{
    struct ClaimGuard {
        TpzConvertor* Self;
        ~ClaimGuard() { Self->ReleaseClaims(); }
    } guard{this};
    Convert(Batch(), Node());
    ReleaseClaims();
    if (FOnNodeDone) {
        FOnNodeDone(Batch(), Node());
    }
}

void TpzConvertor::Convert(TpzBatch* /*batch*/, TpzNode* /*node*/) {}

void TpzConvertor::EndWork()
{
    if (const TpzEvent finish = OnFinish()) {
        RunOnMainThread(finish);
    }
    QList<TpzNode*>& list = Batch()->LockList();
    (void)list;
    {
        // Under the waiters' lock too, so that a waiter cannot miss the last decrement.
        std::lock_guard ended(WorkersEndedLock);
        RunningWorkers.fetch_sub(1, std::memory_order_acq_rel);
    }
    WorkersEnded.notify_all();
    Batch()->UnlockList();
}

void TpzConvertor::ReleaseClaims()
{
    for (const QString& path : std::as_const(FClaims)) {
        Batch()->ReleaseTarget(path);
    }
    FClaims.clear();
}

namespace {

bool StatPath(const QString& path, struct stat& st)
{
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

// A file (not a folder) at path, following symbolic links.
bool FileExistsAt(const QString& path)
{
    struct stat st {};
    return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool SameFile(const QString& a, const QString& b)
{
    struct stat sa {};
    struct stat sb {};
    return StatPath(a, sa) && StatPath(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

QString TpzConvertor::TargetPath(TpzBatch* batch, TpzNode* node)
{
    ReleaseClaims(); // a second call for the same item starts afresh
    const QString fileName = node->FileName;
    const QString sourceFolder = batch->SourceFolder();
    const bool keepSubdirs = pzProject == nullptr || pzProject->KeepTargetSubdirs();

    // 1-2: the name relative to the source folder (characters are dropped, not compared), with
    // the characters that cannot stand in a name of the target made harmless: ":" for shares
    // of other systems, "\" as the foreign delimiter.
    QString r = keepSubdirs && !sourceFolder.isEmpty() ? fileName.mid(sourceFolder.size())
                                                       : platform::ExtractFileName(fileName);
    r.replace(u':', u'_');
    r.replace(u'\\', u'_');

    // 3-5: in the target folder, with the target extension.
    QString p = batch->TargetFolder() + r;
    const QString ext = pzProject != nullptr ? pzProject->TargetExt() : QString();
    if (!ext.isEmpty()) {
        p = platform::ChangeFileExt(p, ext);
    }
    p = AdjustTarget(p);

    // 6: the folder, created with its parents. A folder that cannot be made is reported, and
    // the item goes on to fail at its save.
    const QString d = platform::ExtractFilePath(p);
    if (!d.isEmpty() && !QFileInfo(d).isDir()) {
        platform::ForceDirectories(d);
        if (!QFileInfo(d).isDir()) {
            batch->AddFailure(QStringLiteral("CreateDir Failed: ") + d);
        }
    }

    // Nothing may ever write over the source it reads: a workbook that already carries the
    // target extension, converted into its own folder, would be destroyed by its own save.
    const auto checked = [&](const QString& result) -> QString {
        if (SameFile(result, fileName)) {
            const QString message =
                QStringLiteral("The target file is the source file itself, so it is not "
                               "converted: %1")
                    .arg(result);
            node->ResultText = message;
            node->Status = StatusFailure;
            batch->AddFailure(message);
            return {};
        }
        return result;
    };

    // 7-8: the overwrite policy, tested while this worker holds the path.
    batch->ClaimTarget(p);
    FClaims.append(p);
    if (!FileExistsAt(p)) {
        return checked(p);
    }
    const TpzOverwrite policy =
        pzProject != nullptr ? pzProject->IsOverwrite() : TpzOverwrite::Overwrite;
    switch (policy) {
    case TpzOverwrite::Skip:
        node->Status = StatusSuccess;
        return {};
    case TpzOverwrite::Rename: {
        const QString shortName = pzProject != nullptr ? pzProject->ShortName() : QString();
        const QString second = d + u'-' + shortName + u'-' + platform::ExtractFileName(p);
        batch->ClaimTarget(second);
        FClaims.append(second);
        return checked(second);
    }
    case TpzOverwrite::Overwrite:
        break;
    }
    return checked(p);
}

void TpzConvertor::DeleteTarget(const QString& target)
{
    QFile::remove(target);
}

void TpzConvertor::AfterConvert(TpzBatch* /*batch*/, TpzNode* node, const QString& target)
{
    const QString source = node->FileName;
    if (pzProject == nullptr) {
        return;
    }
    if (pzProject->KeepFileTime()) {
        try {
            CopyFileTime(source, target);
        } catch (...) {
        }
    }
    const bool deleted = pzProject->DeleteSource() && QFile::remove(source);
    const QString suffix = pzProject->RenameSource();
    if (!suffix.isEmpty() && !deleted) {
        // QFile::rename never replaces an existing file, so an older renamed copy is kept.
        QFile::rename(source, source + suffix);
    }
}

void CopyFileTime(const QString& source, const QString& target)
{
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return;
    }
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CLOEXEC);
    if (out >= 0) {
        struct stat st {};
        if (::fstat(in, &st) == 0) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(out, times);
        }
        ::close(out);
    }
    ::close(in);
}
