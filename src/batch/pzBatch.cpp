#include "batch/pzBatch.h"

#include "batch/VBScriptRegex.h"
#include "core/TpzApp.h"
#include "core/TpzProject.h"
#include "platform/DirListing.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <chrono>

std::atomic<bool> SkipOwnerFiles{false};
std::atomic<TpzMatchBase*> pzMatch{nullptr};

bool TpzMatchBase::Matches(const QString& /*fileName*/, const QString& /*pattern*/)
{
    return true;
}

QString WildcardToRegex(const QString& mask)
{
    QString out;
    out.reserve(mask.size() * 2 + 1);
    for (const QChar c : mask) {
        switch (c.unicode()) {
        case u'*':
        case u'?':
            out += u'.';
            out += c;
            break;
        case u'.':
        case u'+':
        case u'^':
        case u'$':
        case u'(':
        case u')':
        case u'[':
        case u']':
        case u'{':
        case u'}':
            out += u'\\';
            out += c;
            break;
        default:
            out += c;
        }
    }
    out += u'$';
    return out;
}

// ------------------------------------------------------------------------------------------
// TpzBatch

namespace {

QString ProjectOption(const QString& key)
{
    return pzProject != nullptr ? pzProject->GetOption(key) : QString();
}

bool ProjectBool(const QString& key, bool defaultValue)
{
    return pzProject != nullptr ? pzProject->GetBoolOption(key, defaultValue) : defaultValue;
}

} // namespace

TpzBatch::TpzBatch() = default;

TpzBatch::~TpzBatch()
{
    Terminate();
    WaitFor();
    std::lock_guard guard(FLock);
    qDeleteAll(FItems);
    FItems.clear();
}

void TpzBatch::WaitFor()
{
    std::thread thread;
    {
        std::lock_guard guard(FLock);
        if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id()) {
            return;
        }
        thread = std::move(FThread);
    }
    thread.join();
}

QString TpzBatch::NormalizePath(const QString& path)
{
    if (!path.startsWith(QLatin1String("file:"))) {
        return path;
    }
    // The prefix goes as "^file:/*" would take it; what follows decides between a local path
    // ("file:///x", "file:/x", "file://localhost/x") and a remote host, which cannot be
    // reached from here.
    QString rest = VBScriptRegex::Regex::Replace(QStringLiteral("^file:/*"), path, QString());
    if (rest.isEmpty()) {
        return {};
    }
    const QStringView afterScheme = QStringView(path).mid(5);
    int slashes = 0;
    while (slashes < afterScheme.size() && afterScheme[slashes] == u'/') {
        ++slashes;
    }
    QString local;
    if (slashes == 2) {
        const qsizetype end = rest.indexOf(u'/');
        const QString host = end < 0 ? rest : rest.left(end);
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
            throw Exception(QStringLiteral("The address %1 names the host \"%2\"; only files "
                                           "on this computer (file:///path) can be used")
                                .arg(path, host));
        }
        local = end < 0 ? QStringLiteral("/") : rest.mid(end);
    } else if (slashes == 0) {
        local = rest; // "file:name" is relative to the current folder
    } else {
        local = u'/' + rest;
    }
    return QUrl::fromPercentEncoding(local.toUtf8());
}

void TpzBatch::Search(const QString& source, const QString& target, bool subfolders)
{
    QString sourcePath = NormalizePath(source);
    const QString targetFolder = NormalizePath(target);
    if (targetFolder.isEmpty()) {
        throw Exception(QStringLiteral("No target folder is given"));
    }
    if (!QFileInfo(targetFolder).isDir()) {
        // A failure shows later, when the items are written into it.
        QDir().mkpath(targetFolder);
    }
    const qsizetype slash = sourcePath.lastIndexOf(u'/');
    {
        std::lock_guard guard(FLock);
        FTargetFolder = targetFolder;
        FMask = sourcePath.mid(slash + 1);
        FMaskRegex = WildcardToRegex(FMask);
        FSourceFolder = sourcePath.left(slash + 1);
        FSubdirs = subfolders;
    }
    StartThread();
}

void TpzBatch::StartThread()
{
    std::lock_guard guard(FLock);
    if (FStarted || SearchDone()) {
        return;
    }
    FStarted = true;
    FThread = std::thread([this] {
        try {
            Execute();
        } catch (...) {
            // An error of an OnAddNode receiver ends the search; the list is still complete
            // as far as it goes, and the workers must not wait for more.
        }
        FSearchDone.store(true, std::memory_order_release);
    });
}

void TpzBatch::Execute()
{
    const QString regExt = ProjectOption(QStringLiteral("RegExt"));
    const bool skipHidden = ProjectBool(QStringLiteral("SkipHidden"), false);
    QString folder;
    QString mask;
    bool subdirs = false;
    {
        std::lock_guard guard(FLock);
        FRegExt = regExt;
        FSkipHidden = skipHidden;
        folder = FSourceFolder;
        mask = FMask;
        subdirs = FSubdirs;
    }
    SearchFolder(folder, mask, subdirs, skipHidden ? 0x1ED : 0x1EF);
}

void TpzBatch::SearchFolder(const QString& folder, const QString& mask, bool subfolders,
                            uint32_t allowed)
{
    using namespace DirListing;
    const bool skipOwner = SkipOwnerFiles.load(std::memory_order_relaxed);
    const WildcardMask files(mask);
    // One reading of the folder serves both passes: its files are listed as they come, and
    // its sub-folders are noted in the same order and searched afterwards, which gives the
    // order of a files pass followed by a folders pass at half the cost.
    std::vector<QString> folders;
    {
        Listing entries(folder, QStringLiteral("*"),
                        allowed | (subfolders ? uint32_t{faDirectory} : 0u));
        Entry entry;
        while (entries.Next(entry)) {
            if ((entry.Attr & faDirectory) != 0) {
                // Hidden folders are never searched, and a symbolic link to a folder is not
                // entered: it could lead back up the tree.
                if (subfolders && (entry.Attr & (faHidden | faSymLink)) == 0) {
                    folders.push_back(entry.Name);
                }
            } else if (files.Matches(entry.Name) && (entry.Attr & 0x1FF & ~allowed) == 0 &&
                       !(skipOwner && entry.Name.startsWith(QLatin1String("~$")))) {
                Add(folder + entry.Name);
            }
            if (Terminated()) {
                return;
            }
        }
    }
    for (const QString& name : folders) {
        SearchFolder(folder + name + u'/', mask, subfolders, allowed);
        if (Terminated()) {
            return;
        }
    }
}

void TpzBatch::AddFile(const QString& path)
{
    Add(path);
    FSearchDone.store(true, std::memory_order_release);
}

void TpzBatch::Add(const QString& path)
{
    if (!Accept(path)) {
        return;
    }
    TpzNode* node = nullptr;
    {
        std::lock_guard guard(FLock);
        node = new TpzNode(path, static_cast<int32_t>(FItems.size()));
        FItems.append(node);
    }
    // Lets the workers and the window run while a large tree is listed. A yield is a system
    // call here, and the scheduler shares the processors fairly without it, so one in a
    // small run of items is enough.
    if ((node->Index & 31) == 0) {
        std::this_thread::yield();
    }
    if (OnAddNode) {
        OnAddNode(this, node);
    }
}

bool TpzBatch::Accept(const QString& path)
{
    TpzMatchBase* matcher = Matcher();
    if (matcher == nullptr) {
        return true;
    }
    QString maskRegex;
    QString regExt;
    {
        std::lock_guard guard(FLock);
        maskRegex = FMaskRegex.isEmpty() ? QStringLiteral("$") : FMaskRegex;
        regExt = FRegExt;
    }
    bool r = matcher->Matches(path, maskRegex);
    if (r && !regExt.isEmpty()) {
        r = matcher->Matches(path, regExt);
    }
    return r;
}

int TpzBatch::Count()
{
    std::lock_guard guard(FLock);
    return static_cast<int>(FItems.size());
}

TpzNode* TpzBatch::NextNode()
{
    for (;;) {
        // Noted before the list is looked at: an item appended just before the search ended
        // is then still seen by this round.
        const bool done = SearchDone();
        {
            std::lock_guard guard(FLock);
            if (FNextIndex < FItems.size()) {
                return FItems[FNextIndex++];
            }
        }
        if (done) {
            FExhausted.store(true, std::memory_order_release);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TpzBatch::AddSuccess()
{
    std::lock_guard guard(FLock);
    ++FSuccesses;
}

void TpzBatch::AddFailure(const QString& message)
{
    std::lock_guard guard(FLock);
    ++FFailures;
    if (!FMessages.contains(message, Qt::CaseInsensitive)) {
        FMessages.append(message);
    }
}

QList<TpzNode*>& TpzBatch::LockList()
{
    FLock.lock();
    return FItems;
}

void TpzBatch::UnlockList()
{
    FLock.unlock();
}

int32_t TpzBatch::Successes()
{
    std::lock_guard guard(FLock);
    return FSuccesses;
}

int32_t TpzBatch::Failures()
{
    std::lock_guard guard(FLock);
    return FFailures;
}

QStringList TpzBatch::Messages()
{
    std::lock_guard guard(FLock);
    return FMessages;
}

QString TpzBatch::SourceFolder()
{
    std::lock_guard guard(FLock);
    return FSourceFolder;
}

QString TpzBatch::Mask()
{
    std::lock_guard guard(FLock);
    return FMask;
}

QString TpzBatch::TargetFolder()
{
    std::lock_guard guard(FLock);
    return FTargetFolder;
}

void TpzBatch::SetTargetFolder(const QString& folder)
{
    std::lock_guard guard(FLock);
    FTargetFolder = folder;
}

bool TpzBatch::Subdirs()
{
    std::lock_guard guard(FLock);
    return FSubdirs;
}

QString TpzBatch::RegExt()
{
    std::lock_guard guard(FLock);
    return FRegExt;
}

bool TpzBatch::SkipHidden()
{
    std::lock_guard guard(FLock);
    return FSkipHidden;
}

void TpzBatch::ClaimTarget(const QString& path)
{
    std::unique_lock guard(FClaimLock);
    FClaimChanged.wait(guard, [&] { return !FClaims.contains(path); });
    FClaims.append(path);
}

void TpzBatch::ReleaseTarget(const QString& path)
{
    {
        std::lock_guard guard(FClaimLock);
        FClaims.removeOne(path);
    }
    FClaimChanged.notify_all();
}

// ------------------------------------------------------------------------------------------
// TpzWorkBase

TpzWorkBase::TpzWorkBase(TpzBatch* batch) : FBatch(batch) {}

TpzWorkBase::~TpzWorkBase()
{
    if (!FThread.joinable()) {
        return;
    }
    if (FThread.get_id() == std::this_thread::get_id()) {
        // The last holder let go on the worker's own thread, at the very end of its body:
        // nothing of the object is touched after this.
        FThread.detach();
    } else {
        FThread.join();
    }
}

uint32_t TpzWorkBase::TickCount()
{
    return TpzApp::TickCount();
}

void TpzWorkBase::Resume()
{
    if (FResumed.exchange(true)) {
        return;
    }
    // The thread holds the worker until its end-of-work is over.
    FThread = std::thread(&TpzWorkBase::ThreadMain, this, shared_from_this());
}

void TpzWorkBase::ThreadMain(std::shared_ptr<TpzWorkBase> self)
{
    try {
        Execute();
    } catch (...) {
        // An error of another kind than the program's own ends this worker only.
    }
    FNode = nullptr;
    try {
        EndWork();
    } catch (...) {
    }
    FFinished.store(true, std::memory_order_release);
    self.reset();
}

void TpzWorkBase::Execute()
{
    while (!Terminated()) {
        FNode = FBatch->NextNode();
        if (FNode == nullptr) {
            Terminate();
            return;
        }
        const uint32_t t0 = TickCount();
        try {
            Process();
            FNode->Elapsed = ElapsedTicks(t0, TickCount());
        } catch (const Exception& e) {
            FNode->ResultText = e.Message();
        }
    }
}
