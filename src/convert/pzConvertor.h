#pragma once

// The conversion worker: the pool of workers as a chain, the per-item step, the target path
// with its overwrite policy and what happens to source and target after a conversion. It
// converts nothing itself; the product's class overrides Convert.

#include "batch/pzBatch.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class TpzConvertor;

// A worker's end-of-work notice, run on the main thread.
using TpzEvent = std::function<void()>;

// The workers not yet ended. The console runner sets it to the pool size before the start and
// waits for it to fall to 0; each worker decreases it under the batch lock when it ends.
extern std::atomic<int32_t> RunningWorkers;

// Waits until RunningWorkers is 0 or less, or the time is up; answers whether it is. Lets the
// console runner end as soon as the last worker has, rather than at its next poll.
bool WaitForRunningWorkers(std::chrono::milliseconds timeout);

// Converter classes by name, standing in for class references: the project's ConverterClass
// names the class every worker of a run is made of.
using TpzConvertorFactory =
    std::function<std::shared_ptr<TpzConvertor>(TpzBatch*, int32_t, TpzNodeEvent)>;
void RegisterConvertorClass(const QString& name, TpzConvertorFactory factory);
template <class T> void RegisterConvertorClass(const QString& name)
{
    RegisterConvertorClass(name, [](TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone) {
        return std::make_shared<T>(batch, count, std::move(onNodeDone));
    });
}
void UnregisterConvertorClass(const QString& name);
// The factory registered under name (letter case ignored); empty when there is none.
TpzConvertorFactory FindConvertorClass(const QString& name);

class TpzConvertor : public TpzWorkBase {
public:
    // Builds the rest of the chain: with count above 1, Next is a new worker of the project's
    // converter class with count - 1. Every worker is created suspended.
    TpzConvertor(TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone);
    ~TpzConvertor() override;

    // The only way a run creates workers: sets the batch's target folder and returns the head
    // of a chain of ThreadsCount workers of the project's ConverterClass. A class name that is
    // not registered gives workers that fail each item with a message naming the class, so the
    // run still lists and reports every file.
    static std::shared_ptr<TpzConvertor> CreateWorkers(TpzBatch* batch, const QString& target,
                                                       TpzNodeEvent onNodeDone);

    // Resumes this worker and every one after it.
    void Start();
    // Asks every worker of the chain to end after the item in hand, the last one first. Does
    // not wait. Safe on a chain whose workers have partly or wholly ended.
    void Stop();

    // The end-of-work notice of this worker and every one after it; run on the main thread
    // through the Qt event loop, and the ending worker waits for it.
    void SetOnFinish(const TpzEvent& event);
    TpzEvent OnFinish() const;

    std::shared_ptr<TpzConvertor> Next() const { return FNext; }
    int32_t Count() const { return FCount; }

    // The target path of the item, or empty when the item is done without a conversion: the
    // target exists and the policy is skip (Status success), or the target would be the
    // source file itself (Status failure, counted). The worker holds the returned path until
    // its item is done, so no other worker writes the same file meanwhile.
    QString TargetPath(TpzBatch* batch, TpzNode* node);
    void DeleteTarget(const QString& target);
    // File times, then delete the source, then rename it; each step ignores its failure.
    void AfterConvert(TpzBatch* batch, TpzNode* node, const QString& target);

    virtual QString AppExePath() { return {}; }
    virtual bool HasMacros() { return true; }

protected:
    // Convert, then OnNodeDone.
    void Process() override;
    // The product's conversion of one item; the base does nothing.
    virtual void Convert(TpzBatch* batch, TpzNode* node);
    virtual QString AdjustTarget(const QString& target) { return target; }
    // The OnFinish notice and the RunningWorkers count. Subclasses that override it release
    // their own resources first and then call this.
    void EndWork() override;

    const TpzNodeEvent& OnNodeDone() const { return FOnNodeDone; }

private:
    void ReleaseClaims();

    TpzNodeEvent FOnNodeDone;
    mutable std::mutex FFinishLock;
    TpzEvent FOnFinish;
    std::shared_ptr<TpzConvertor> FNext;
    int32_t FCount;
    QStringList FClaims;
};

// Gives target the access and write times of source (the birth time cannot be set here).
// Nothing changes when either file cannot be opened.
void CopyFileTime(const QString& source, const QString& target);

// Runs fn on the thread of the Qt application object and waits until it has run. Runs it
// directly when there is no application object or the caller is on that thread already.
void RunOnMainThread(const std::function<void()>& fn);
