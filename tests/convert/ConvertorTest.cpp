#include "BatchTestSupport.h"
#include "convert/pzConvertor.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using testsupport::Item;
using testsupport::ReadFile;
using testsupport::RunChain;
using testsupport::TestProcess;
using testsupport::TpzTestConvertor;
using testsupport::WriteFile;

namespace {

// ------------------------------------------------------------------------------------------

TEST(ChainTest, CountsAndClassesFollowThreadsCount)
{
    TestProcess process;
    TpzBatch batch;
    for (const auto& [threads, expected] : std::vector<std::pair<int, std::vector<int>>>{
             {1, {1}}, {4, {4, 3, 2, 1}}, {0, {0}}, {-3, {-3}}}) {
        process.Set("ThreadsCount", QString::number(threads));
        auto head = TpzConvertor::CreateWorkers(&batch, process.Root() + "out/", nullptr);
        std::vector<int> counts;
        for (auto w = head; w; w = w->Next()) {
            counts.push_back(w->Count());
            EXPECT_NE(std::dynamic_pointer_cast<TpzTestConvertor>(w), nullptr);
        }
        EXPECT_EQ(counts, expected) << threads;
    }
    // The chain is made of the project's class even below a head of another class.
    auto head = std::make_shared<TpzConvertor>(&batch, 2, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<TpzTestConvertor>(head), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<TpzTestConvertor>(head->Next()), nullptr);
}

TEST(ChainTest, CreateWorkersNormalisesTheTarget)
{
    TestProcess process;
    TpzBatch batch;
    TpzConvertor::CreateWorkers(&batch, "file:///data/my%20out/", nullptr);
    EXPECT_EQ(batch.TargetFolder(), "/data/my out/");
}

TEST(ChainTest, AClassThatIsNotBuiltInFailsEachItemClearly)
{
    TestProcess process;
    pzProject->SetConverterClass("TpzNoSuchConverter");
    TpzBatch batch;
    batch.AddFile(process.Root() + "a.xls");
    batch.AddFile(process.Root() + "b.xls");
    const auto result = RunChain(batch, process.Root() + "out/");
    ASSERT_EQ(result.Done.size(), 2u);
    EXPECT_EQ(Item(batch, 0)->Status, StatusFailure);
    EXPECT_TRUE(Item(batch, 1)->ResultText.contains("\"TpzNoSuchConverter\""));
    EXPECT_EQ(batch.Failures(), 2);
    EXPECT_EQ(batch.Messages().size(), 1);
}

// ------------------------------------------------------------------------------------------

struct TargetCase {
    const char* Source; // below the source folder "Data/"
    const char* Keep;
    const char* Exists; // a file made below the target folder first, or ""
    const char* Overwrite;
    const char* Expected; // below the target folder "Out/", or "" for none
};

class TargetPathRule : public testing::TestWithParam<TargetCase> {};

TEST_P(TargetPathRule, FollowsTheExamples)
{
    const auto& c = GetParam();
    TestProcess process;
    const QString data = process.Root() + "Data/";
    const QString out = process.Root() + "Out/";
    process.Set("KeepTargetSubdirs", c.Keep);
    process.Set("IsOverwrite", c.Overwrite);
    if (*c.Exists != 0) {
        WriteFile(out + c.Exists, "old");
    }
    TpzBatch batch;
    batch.Search(data + "*.xls?", out, false);
    batch.WaitFor();
    // "!" stands for a folder beside the source folder whose name is as long as its name.
    QString source = QString::fromUtf8(c.Source);
    source = source.startsWith(u'!') ? process.Root() + "Dat2/" + source.mid(1) : data + source;
    TpzNode node(source, 0);
    auto worker = std::make_shared<TpzTestConvertor>(&batch, 1, nullptr);
    const QString result = worker->TargetPath(&batch, &node);
    EXPECT_EQ(result, *c.Expected == 0 ? QString() : out + c.Expected);
    EXPECT_EQ(node.Status, *c.Expected == 0 ? StatusSuccess : StatusRunning);
    EXPECT_TRUE(node.ResultText.isEmpty());
    if (!result.isEmpty()) {
        EXPECT_TRUE(QFileInfo(QFileInfo(result).path()).isDir());
    }
    EXPECT_EQ(batch.Successes() + batch.Failures(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetPathRule,
    testing::Values(TargetCase{"jan.xls", "True", "", "True", "jan.txt"},
                    TargetCase{"jan.xls", "False", "", "skip", "jan.txt"},
                    TargetCase{"2019/q1/feb.xlsx", "True", "", "True", "2019/q1/feb.txt"},
                    TargetCase{"2019/q1/feb.xlsx", "False", "", "True", "feb.txt"},
                    TargetCase{"a.b.xls", "True", "a.b.txt", "False", "-morvel-a.b.txt"},
                    // The second name is not tested again.
                    TargetCase{"a.xls", "True", "a.txt", "0", "-morvel-a.txt"},
                    TargetCase{"jan.xls", "True", "jan.txt", "skip", ""},
                    TargetCase{"jan.xls", "True", "jan.txt", "SKIP", ""},
                    TargetCase{"jan.xls", "True", "jan.txt", "True", "jan.txt"},
                    TargetCase{"jan.xls", "True", "jan.txt", "", "jan.txt"},
                    // ":" and the foreign delimiter become "_".
                    TargetCase{"a:b\\c.xls", "True", "", "True", "a_b_c.txt"},
                    // A path outside the source folder still loses as many characters.
                    TargetCase{"!other/x.xls", "True", "", "True", "other/x.txt"},
                    // No extension: the target extension is appended.
                    TargetCase{"noext", "True", "", "True", "noext.txt"}));

TEST(TargetPathTest, EmptySourceFolderGivesTheBareName)
{
    TestProcess process;
    TpzBatch batch;
    batch.SetTargetFolder(process.Root() + "Out/");
    TpzNode node("/some/where/book.xlsx", 0);
    auto worker = std::make_shared<TpzTestConvertor>(&batch, 1, nullptr);
    EXPECT_EQ(worker->TargetPath(&batch, &node), process.Root() + "Out/book.txt");
}

TEST(TargetPathTest, AFolderThatCannotBeMadeIsReportedAndTheItemGoesOn)
{
    TestProcess process;
    WriteFile(process.Root() + "blocker", "a file where a folder should be");
    TpzBatch batch;
    batch.SetTargetFolder(process.Root() + "blocker/");
    TpzNode node(process.Root() + "in/sub/book.xls", 0);
    batch.Search(process.Root() + "in/*.xls", process.Root() + "blocker/", false);
    batch.WaitFor();
    auto worker = std::make_shared<TpzTestConvertor>(&batch, 1, nullptr);
    const QString target = worker->TargetPath(&batch, &node);
    EXPECT_EQ(target, process.Root() + "blocker/sub/book.txt");
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(batch.Messages(),
              QStringList{"CreateDir Failed: " + process.Root() + "blocker/sub/"});
}

// ------------------------------------------------------------------------------------------

TEST(ConvertRunTest, ATargetThatIsItsOwnSourceFailsAndLeavesTheSourceAlone)
{
    TestProcess process;
    const QString folder = process.Root() + "books/";
    WriteFile(folder + "notes.txt", "precious");
    WriteFile(folder + "other.xls", "book");
    TpzBatch batch;
    batch.AddFile(folder + "notes.txt");
    batch.AddFile(folder + "other.xls");
    const auto result = RunChain(batch, folder);
    ASSERT_EQ(result.Done.size(), 2u);
    EXPECT_EQ(ReadFile(folder + "notes.txt"), "precious");
    EXPECT_EQ(Item(batch, 0)->Status, StatusFailure);
    EXPECT_TRUE(Item(batch, 0)->ResultText.contains("source file itself"));
    EXPECT_EQ(Item(batch, 1)->Status, StatusSuccess);
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(batch.Successes(), 1);
}

TEST(ConvertRunTest, TwoItemsWithOneTargetAreNeverWrittenAtOnce)
{
    for (const char* policy : {"False", "True"}) {
        TestProcess process;
        process.Set("ThreadsCount", "2");
        process.Set("IsOverwrite", policy);
        const QString in = process.Root() + "in/";
        const QString out = process.Root() + "out/";
        WriteFile(in + "jan.xls");
        WriteFile(in + "jan.xlsx");
        TpzTestConvertor::OverlappingWrites.store(0);
        TpzTestConvertor::WriteDelayMs.store(30);
        TpzBatch batch;
        batch.Search(in + "*.xls?", out, false);
        const auto result = RunChain(batch, out);
        TpzTestConvertor::WriteDelayMs.store(0);
        EXPECT_EQ(TpzTestConvertor::OverlappingWrites.load(), 0) << policy;
        EXPECT_EQ(batch.Successes(), 2) << policy;
        if (QString(policy) == "False") {
            // The second one found the first one's file and took the second name.
            EXPECT_TRUE(QFileInfo::exists(out + "jan.txt"));
            EXPECT_TRUE(QFileInfo::exists(out + "-morvel-jan.txt"));
        }
    }
}

TEST(ConvertRunTest, AMissingSourceFailsThatItemAndTheRunGoesOn)
{
    TestProcess process;
    const QString in = process.Root() + "in/";
    WriteFile(in + "b.xls");
    TpzBatch batch;
    batch.AddFile(in + "gone.xls");
    batch.AddFile(in + "b.xls");
    RunChain(batch, process.Root() + "out/");
    EXPECT_EQ(Item(batch, 0)->Status, StatusFailure);
    EXPECT_TRUE(Item(batch, 0)->ResultText.contains("gone.xls"));
    EXPECT_EQ(Item(batch, 1)->Status, StatusSuccess);
}

struct AfterCase {
    const char* Delete;
    const char* Rename;
    bool SourceStays;
    bool RenamedExists;
};

class AfterConvertRule : public testing::TestWithParam<AfterCase> {};

TEST_P(AfterConvertRule, DeletesOrRenamesTheSource)
{
    const auto& c = GetParam();
    TestProcess process;
    process.Set("DeleteSource", c.Delete);
    process.Set("RenameSource", c.Rename);
    const QString src = process.Root() + "in/a.xls";
    WriteFile(src);
    TpzBatch batch;
    batch.AddFile(src);
    RunChain(batch, process.Root() + "out/");
    EXPECT_EQ(Item(batch, 0)->Status, StatusSuccess);
    EXPECT_EQ(QFileInfo::exists(src), c.SourceStays);
    EXPECT_EQ(QFileInfo::exists(src + ".done"), c.RenamedExists);
}

INSTANTIATE_TEST_SUITE_P(Table, AfterConvertRule,
                         testing::Values(AfterCase{"False", "", true, false},
                                         AfterCase{"True", "", false, false},
                                         AfterCase{"False", ".done", false, true},
                                         AfterCase{"True", ".done", false, false}));

TEST(AfterConvertTest, AnEarlierRenamedCopyIsNeverReplaced)
{
    TestProcess process;
    process.Set("RenameSource", ".done");
    const QString src = process.Root() + "in/a.xls";
    WriteFile(src, "new");
    WriteFile(src + ".done", "archived");
    TpzBatch batch;
    batch.AddFile(src);
    RunChain(batch, process.Root() + "out/");
    EXPECT_EQ(ReadFile(src + ".done"), "archived");
    EXPECT_EQ(ReadFile(src), "new");
}

TEST(AfterConvertTest, KeepFileTimeCopiesAccessAndWriteTimes)
{
    TestProcess process;
    process.Set("KeepFileTime", "True");
    const QString src = process.Root() + "in/a.xls";
    WriteFile(src);
    const struct timespec times[2] = {{1000000000, 250}, {1100000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, src.toUtf8().constData(), times, 0), 0);
    TpzBatch batch;
    batch.AddFile(src);
    RunChain(batch, process.Root() + "out/");
    struct stat st {};
    ASSERT_EQ(stat((process.Root() + "out/a.txt").toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    // Reading the workbook may have moved its access time on; the target gets the one the
    // source had when the times were copied.
    struct stat source {};
    ASSERT_EQ(stat(src.toUtf8().constData(), &source), 0);
    EXPECT_EQ(st.st_atim.tv_sec, source.st_atim.tv_sec);
    EXPECT_EQ(st.st_atim.tv_nsec, source.st_atim.tv_nsec);
}

TEST(CopyFileTimeTest, AMissingFileChangesNothing)
{
    TestProcess process;
    const QString target = process.Root() + "t.txt";
    WriteFile(target);
    struct stat before {};
    stat(target.toUtf8().constData(), &before);
    CopyFileTime(process.Root() + "missing", target);
    CopyFileTime(target, process.Root() + "missing-too");
    struct stat after {};
    stat(target.toUtf8().constData(), &after);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_FALSE(QFileInfo::exists(process.Root() + "missing-too"));
}

// ------------------------------------------------------------------------------------------

// Counts how often each item is processed, with nothing else to do per item.
class CountingConvertor : public TpzConvertor {
public:
    using TpzConvertor::TpzConvertor;
    static std::vector<std::atomic<int>>* Seen;

protected:
    void Convert(TpzBatch* batch, TpzNode* node) override
    {
        ++(*Seen)[static_cast<size_t>(node->Index)];
        node->Status = StatusSuccess;
        batch->AddSuccess();
    }
};
std::vector<std::atomic<int>>* CountingConvertor::Seen = nullptr;

TEST(ChainRunTest, FourWorkersProcessTenThousandItemsExactlyOnce)
{
    TestProcess process;
    RegisterConvertorClass<CountingConvertor>("CountingConvertor");
    pzProject->SetConverterClass("CountingConvertor");
    process.Set("ThreadsCount", "4");
    constexpr int Total = 10000;
    std::vector<std::atomic<int>> seen(Total);
    CountingConvertor::Seen = &seen;
    TpzBatch batch;
    for (int i = 0; i < Total; ++i) {
        batch.AddFile(QStringLiteral("/in/%1.xls").arg(i));
    }
    const auto result = RunChain(batch, process.Root() + "out/");
    CountingConvertor::Seen = nullptr;
    UnregisterConvertorClass("CountingConvertor");
    EXPECT_EQ(result.Done.size(), size_t(Total));
    EXPECT_EQ(batch.Successes(), Total);
    EXPECT_EQ(batch.Failures(), 0);
    int once = 0;
    for (const auto& s : seen) {
        once += s.load() == 1 ? 1 : 0;
    }
    EXPECT_EQ(once, Total);
    EXPECT_EQ(RunningWorkers.load(), 0);
}

TEST(ChainRunTest, OnFinishRunsOnTheMainThreadOncePerWorkerBeforeItsCountGoes)
{
    TestProcess process;
    process.Set("ThreadsCount", "3");
    TpzBatch batch;
    for (int i = 0; i < 6; ++i) {
        WriteFile(process.Root() + QStringLiteral("in/%1.xls").arg(i));
        batch.AddFile(process.Root() + QStringLiteral("in/%1.xls").arg(i));
    }
    int calls = 0;
    int onMain = 0;
    int firstSaw = -1;
    RunChain(batch, process.Root() + "out/", [&](TpzConvertor& head) {
        head.SetOnFinish([&] {
            if (calls++ == 0) {
                firstSaw = RunningWorkers.load();
            }
            onMain += QThread::currentThread() == QCoreApplication::instance()->thread() ? 1 : 0;
        });
    });
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(onMain, 3);
    EXPECT_EQ(firstSaw, 3);
    EXPECT_EQ(batch.Successes(), 6);
}

TEST(ChainRunTest, StopAndOnFinishOnAChainThatHasEndedTouchNoFreedWorker)
{
    TestProcess process;
    process.Set("ThreadsCount", "4");
    TpzBatch batch;
    batch.AddFile(process.Root() + "missing.xls");
    auto head = TpzConvertor::CreateWorkers(&batch, process.Root() + "out/", nullptr);
    RunningWorkers.store(head->Count());
    head->Start();
    while (RunningWorkers.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    head->Stop();
    head->SetOnFinish([] {});
    for (auto w = head; w; w = w->Next()) {
        EXPECT_TRUE(w->Terminated());
    }
    EXPECT_EQ(batch.Failures(), 1);
}

TEST(ChainRunTest, StopLetsTheItemsInHandFinishAndStartsNoOther)
{
    TestProcess process;
    process.Set("ThreadsCount", "2");
    TpzTestConvertor::WriteDelayMs.store(20);
    TpzBatch batch;
    for (int i = 0; i < 40; ++i) {
        WriteFile(process.Root() + QStringLiteral("in/%1.xls").arg(i));
        batch.AddFile(process.Root() + QStringLiteral("in/%1.xls").arg(i));
    }
    std::atomic<int> done{0};
    auto head = TpzConvertor::CreateWorkers(&batch, process.Root() + "out/",
                                            [&](TpzBatch*, TpzNode*) { ++done; });
    RunningWorkers.store(head->Count());
    head->Start();
    while (done.load() < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    head->Stop();
    while (RunningWorkers.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    head.reset();
    TpzTestConvertor::WriteDelayMs.store(0);
    // Every item that was started was finished and reported; the rest were never started.
    int started = 0;
    for (int i = 0; i < 40; ++i) {
        const TpzNode* node = Item(batch, i);
        if (node->Status != StatusRunning) {
            ++started;
        }
    }
    EXPECT_EQ(started, done.load());
    EXPECT_EQ(batch.Successes(), done.load());
    EXPECT_LT(done.load(), 40);
}

} // namespace
