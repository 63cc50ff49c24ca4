#include "batch/pzBatch.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

// A worker whose step records what it did and fails on command.
class RecordingWorker : public TpzWorkBase {
public:
    using TpzWorkBase::TpzWorkBase;

    std::function<void(TpzNode*)> OnProcess;
    std::atomic<int> EndWorkCalls{0};
    std::vector<int> Processed; // read after Finished()

protected:
    void Process() override
    {
        Processed.push_back(Node()->Index);
        if (OnProcess) {
            OnProcess(Node());
        }
    }
    void EndWork() override { ++EndWorkCalls; }
};

// Tick readings from a list, to time across a wrap of the 32-bit count.
class WrappingWorker : public RecordingWorker {
public:
    using RecordingWorker::RecordingWorker;
    std::vector<uint32_t> Ticks;

protected:
    uint32_t TickCount() override
    {
        const uint32_t t = Ticks.at(FNext);
        FNext = (FNext + 1) % Ticks.size();
        return t;
    }

private:
    size_t FNext = 0;
};

void Fill(TpzBatch& batch, int n)
{
    for (int i = 0; i < n; ++i) {
        batch.AddFile(QStringLiteral("/in/%1.xls").arg(i));
    }
}

void WaitFinished(const std::vector<std::shared_ptr<TpzWorkBase>>& workers)
{
    for (const auto& w : workers) {
        while (!w->Finished()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

TEST(WorkBaseTest, ThreeWorkersProcessEveryItemOnce)
{
    TpzBatch batch;
    Fill(batch, 10);
    std::vector<std::shared_ptr<TpzWorkBase>> workers;
    std::vector<std::shared_ptr<RecordingWorker>> recorders;
    for (int i = 0; i < 3; ++i) {
        recorders.push_back(std::make_shared<RecordingWorker>(&batch));
        workers.push_back(recorders.back());
    }
    for (auto& w : workers) {
        w->Resume();
    }
    WaitFinished(workers);
    std::multiset<int> all;
    for (auto& r : recorders) {
        EXPECT_TRUE(std::is_sorted(r->Processed.begin(), r->Processed.end()));
        all.insert(r->Processed.begin(), r->Processed.end());
        EXPECT_EQ(r->EndWorkCalls.load(), 1);
        EXPECT_EQ(r->Node(), nullptr);
    }
    EXPECT_EQ(all.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(all.count(i), 1u) << i;
    }
    EXPECT_TRUE(batch.Exhausted());
}

TEST(WorkBaseTest, AnEmptyBatchEndsTheWorkerAtOnceAndStillReportsItsEnd)
{
    struct RefusingBatch : TpzBatch {
        bool Accept(const QString&) override { return false; }
    } batch;
    batch.AddFile(QStringLiteral("/in/refused.xls")); // the list is complete, and empty
    auto worker = std::make_shared<RecordingWorker>(&batch);
    worker->Resume();
    WaitFinished({worker});
    EXPECT_TRUE(worker->Processed.empty());
    EXPECT_EQ(worker->EndWorkCalls.load(), 1);
    EXPECT_TRUE(worker->Terminated());
}

TEST(WorkBaseTest, AnErrorOfTheProgramGoesIntoTheItemAndTheWorkerGoesOn)
{
    TpzBatch batch;
    Fill(batch, 3);
    auto worker = std::make_shared<RecordingWorker>(&batch);
    worker->OnProcess = [](TpzNode* node) {
        if (node->Index == 1) {
            throw Exception(QStringLiteral("Cannot open the workbook"));
        }
        node->Status = StatusSuccess;
    };
    worker->Resume();
    WaitFinished({worker});
    EXPECT_EQ(worker->Processed, (std::vector<int>{0, 1, 2}));
    const auto& list = batch.LockList();
    EXPECT_EQ(list[1]->ResultText, "Cannot open the workbook");
    EXPECT_EQ(list[1]->Status, StatusRunning);
    EXPECT_EQ(list[1]->Elapsed, 0);
    EXPECT_EQ(list[2]->Status, StatusSuccess);
    batch.UnlockList();
    EXPECT_EQ(batch.Failures(), 0);
}

TEST(WorkBaseTest, AnotherKindOfErrorEndsOnlyThatWorker)
{
    TpzBatch batch;
    Fill(batch, 6);
    auto failing = std::make_shared<RecordingWorker>(&batch);
    failing->OnProcess = [](TpzNode*) { throw std::runtime_error("not ours"); };
    failing->Resume();
    WaitFinished({failing});
    EXPECT_EQ(failing->Processed.size(), 1u);
    EXPECT_EQ(failing->EndWorkCalls.load(), 1);

    auto next = std::make_shared<RecordingWorker>(&batch);
    next->Resume();
    WaitFinished({next});
    EXPECT_EQ(next->Processed, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(WorkBaseTest, TerminationIsSeenBetweenItemsAndANewWorkerContinues)
{
    TpzBatch batch;
    Fill(batch, 4);
    auto first = std::make_shared<RecordingWorker>(&batch);
    first->OnProcess = [&](TpzNode* node) {
        first->Terminate(); // a pause in the middle of the item
        node->Status = StatusSuccess;
    };
    first->Resume();
    WaitFinished({first});
    first->OnProcess = nullptr;
    EXPECT_EQ(first->Processed, std::vector<int>{0});
    {
        const auto& list = batch.LockList();
        EXPECT_EQ(list[0]->Status, StatusSuccess); // the item in hand was finished
        batch.UnlockList();
    }
    auto second = std::make_shared<RecordingWorker>(&batch);
    second->Resume();
    WaitFinished({second});
    EXPECT_EQ(second->Processed, (std::vector<int>{1, 2, 3}));
}

TEST(WorkBaseTest, TerminatedBeforeTheStartProcessesNothing)
{
    TpzBatch batch;
    Fill(batch, 2);
    auto worker = std::make_shared<RecordingWorker>(&batch);
    worker->Terminate();
    worker->Resume();
    WaitFinished({worker});
    EXPECT_TRUE(worker->Processed.empty());
    EXPECT_EQ(worker->EndWorkCalls.load(), 1);
}

TEST(WorkBaseTest, ElapsedIsRightAcrossAWrapOfTheTickCount)
{
    EXPECT_EQ(TpzWorkBase::ElapsedTicks(0xFFFFFFF0u, 0x10u), 32);
    EXPECT_EQ(TpzWorkBase::ElapsedTicks(100, 350), 250);
    TpzBatch batch;
    Fill(batch, 1);
    auto worker = std::make_shared<WrappingWorker>(&batch);
    worker->Ticks = {0xFFFFFF00u, 0x00000064u};
    worker->Resume();
    WaitFinished({worker});
    const auto& list = batch.LockList();
    EXPECT_EQ(list[0]->Elapsed, 0x164);
    batch.UnlockList();
}

TEST(WorkBaseTest, AWorkerLetGoOfWhileRunningFreesItselfWhenItEnds)
{
    TpzBatch batch;
    Fill(batch, 50);
    std::weak_ptr<TpzWorkBase> weak;
    {
        auto worker = std::make_shared<RecordingWorker>(&batch);
        weak = worker;
        worker->Resume();
    }
    while (!weak.expired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(batch.Exhausted());
}

} // namespace
