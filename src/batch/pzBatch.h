#pragma once

// One run's work list: the batch with its search thread, the work items, the worker thread base
// and the file-name filter.

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TpzBatch;
class TpzNode;

enum : int32_t { StatusRunning = 0, StatusSuccess = 1, StatusFailure = 2 };

// The item event: OnAddNode of the batch and OnNodeDone of the workers.
using TpzNodeEvent = std::function<void(TpzBatch*, TpzNode*)>;

// Leaves out files whose names begin with "~$" (the owner files the spreadsheet application
// keeps beside an open workbook). Off until the product's start-up switches it on.
extern std::atomic<bool> SkipOwnerFiles;

// Turns a DOS wildcard mask into a regular expression that must match the end of a full path.
QString WildcardToRegex(const QString& mask);

// The file-name matcher: the base accepts everything; TpzMatch tests a regular expression.
class TpzMatchBase {
public:
    virtual ~TpzMatchBase() = default;
    virtual bool Matches(const QString& fileName, const QString& pattern);
};

// The process-wide matcher used by every batch's filter; none (every path passes) until
// start-up creates it.
extern std::atomic<TpzMatchBase*> pzMatch;

// One listed source file. Owned by its batch.
class TpzNode {
public:
    TpzNode(const QString& fileName, int32_t index) : Index(index), FileName(fileName) {}

    int32_t Status = StatusRunning;
    int32_t Index;
    QString FileName;
    QString ResultText;
    int32_t Elapsed = 0;
};

class TpzBatch {
public:
    TpzBatch();
    virtual ~TpzBatch();
    TpzBatch(const TpzBatch&) = delete;
    TpzBatch& operator=(const TpzBatch&) = delete;

    // Stores the normalised folders and the mask, creates the target folder and starts the
    // search thread (once per batch). Throws Exception for an empty target, a target folder
    // that cannot be made or a "file:" address that names another host.
    void Search(const QString& source, const QString& target, bool subfolders);

    // Adds one file by hand and marks the list complete.
    void AddFile(const QString& path);
    // Filters and appends one item, then tells OnAddNode.
    void Add(const QString& path);
    virtual bool Accept(const QString& path);
    TpzMatchBase* Matcher() const { return pzMatch.load(std::memory_order_acquire); }

    int Count();
    bool Exhausted() const { return FExhausted.load(std::memory_order_acquire); }
    bool SearchDone() const { return FSearchDone.load(std::memory_order_acquire); }

    // Hands out the next item in list order, each exactly once; waits in 1 ms steps while the
    // search still lists. None when the list is drained and the search is done.
    TpzNode* NextNode();

    void AddSuccess();
    void AddFailure(const QString& message);

    // The batch lock, re-entrant. It guards the list, the hand-out cursor, the counters and the
    // messages; the window and the worker chain use it for their own shared state too.
    QList<TpzNode*>& LockList();
    void UnlockList();

    // A "file:" address as a local path; other texts unchanged.
    static QString NormalizePath(const QString& path);

    // Asks the search to end after the entry in hand.
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    // Waits until the search thread (if it was started) has ended.
    void WaitFor();

    // Totals, read by the front ends (under the lock, so they may be read at any time).
    int32_t Successes();
    int32_t Failures();
    QStringList Messages();

    // The run's settings, guarded by the batch lock since a second Search may replace them
    // while workers read them.
    QString SourceFolder();
    QString Mask();
    QString TargetFolder();
    void SetTargetFolder(const QString& folder);
    bool Subdirs();
    QString RegExt();
    bool SkipHidden();

    // Set before the items are added (the window sets it before Search); it is called on the
    // thread that added the item, outside the lock.
    TpzNodeEvent OnAddNode;

    // Two workers never write one target at the same time: a worker claims the target path it
    // is about to test and write, waiting while another worker holds it, and releases it when
    // its item is done. The second worker then finds the first one's file and applies the
    // overwrite policy to it.
    void ClaimTarget(const QString& path);
    void ReleaseTarget(const QString& path);

protected:
    // The thread body: the source search.
    virtual void Execute();
    void SearchFolder(const QString& folder, const QString& mask, bool subfolders,
                      uint32_t allowed);

private:
    void StartThread();

    std::recursive_mutex FLock;
    QList<TpzNode*> FItems;
    int FNextIndex = 0;
    int32_t FSuccesses = 0;
    int32_t FFailures = 0;
    QStringList FMessages;
    QString FSourceFolder;
    QString FMask;
    QString FMaskRegex;
    QString FTargetFolder;
    bool FSubdirs = false;
    QString FRegExt;
    bool FSkipHidden = false;

    std::atomic<bool> FSearchDone{false};
    std::atomic<bool> FExhausted{false};
    std::atomic<bool> FTerminated{false};
    bool FStarted = false;
    std::thread FThread;

    std::mutex FClaimLock;
    std::condition_variable FClaimChanged;
    QStringList FClaims;
};

// The worker thread base: takes the batch's items one after another and runs Process on each.
//
// A worker is created suspended and runs after Resume. It ends when the batch has no more work
// or after Terminate, which it looks at only between items. When its loop ends it runs EndWork
// on its own thread, then drops the reference its thread held. Workers are owned through
// shared_ptr (the chain and the front end hold them), so a worker that has ended is still a
// valid object for anyone who holds it, and is freed when the last holder lets go.
class TpzWorkBase : public std::enable_shared_from_this<TpzWorkBase> {
public:
    explicit TpzWorkBase(TpzBatch* batch);
    virtual ~TpzWorkBase();
    TpzWorkBase(const TpzWorkBase&) = delete;
    TpzWorkBase& operator=(const TpzWorkBase&) = delete;

    // Leaves the suspended state (once).
    void Resume();
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    // True once the loop and EndWork are over.
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }

    TpzBatch* Batch() const { return FBatch; }
    TpzNode* Node() const { return FNode; }

    // The duration between two tick readings, right across a wrap of the 32-bit tick count.
    static int32_t ElapsedTicks(uint32_t t0, uint32_t t1)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(t1 - t0));
    }

protected:
    // The thread body: the item loop.
    virtual void Execute();
    // The per-item step; the base does nothing.
    virtual void Process() {}
    // Runs on the worker's own thread once its loop has ended, whatever the reason. Subclasses
    // release their per-thread resources here and then call the inherited version.
    virtual void EndWork() {}
    // The millisecond tick count used to time items.
    virtual uint32_t TickCount();

private:
    void ThreadMain(std::shared_ptr<TpzWorkBase> self);

    TpzBatch* FBatch;
    TpzNode* FNode = nullptr;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FResumed{false};
    std::thread FThread;
};
