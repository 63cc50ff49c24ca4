#include "BatchTestSupport.h"
#include "batch/pzBatch.h"
#include "platform/DirListing.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>
#include <unistd.h>

using testsupport::TestProcess;
using testsupport::WriteFile;

namespace {

QStringList Items(TpzBatch& batch)
{
    QStringList names;
    const auto& list = batch.LockList();
    for (const TpzNode* node : list) {
        names.append(node->FileName);
    }
    batch.UnlockList();
    return names;
}

QStringList SearchAll(const QString& source, const QString& target, bool subfolders)
{
    TpzBatch batch;
    batch.Search(source, target, subfolders);
    batch.WaitFor();
    EXPECT_TRUE(batch.SearchDone());
    return Items(batch);
}

// ------------------------------------------------------------------------------------------

struct NormalizeCase {
    const char* In;
    const char* Out;
};

class NormalizePathRule : public testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizePathRule, FileAddressesBecomeLocalPaths)
{
    EXPECT_EQ(TpzBatch::NormalizePath(QString::fromUtf8(GetParam().In)),
              QString::fromUtf8(GetParam().Out));
}

INSTANTIATE_TEST_SUITE_P(
    Table, NormalizePathRule,
    testing::Values(NormalizeCase{"file:///home/a/b.xls", "/home/a/b.xls"},
                    NormalizeCase{"file://localhost/home/a.xls", "/home/a.xls"},
                    NormalizeCase{"file://LocalHost/x", "/x"},
                    NormalizeCase{"file:///data/my%20book.xls", "/data/my book.xls"},
                    NormalizeCase{"file:///data/%C3%A4%3F.xls", "/data/\u00e4?.xls"},
                    NormalizeCase{"file:/x/y.xls", "/x/y.xls"},
                    NormalizeCase{"file:rel/y.xls", "rel/y.xls"}, NormalizeCase{"file:", ""},
                    NormalizeCase{"file:///", ""}, NormalizeCase{"/data/a.xls", "/data/a.xls"},
                    NormalizeCase{"FILE:///data/a.xls", "FILE:///data/a.xls"},
                    NormalizeCase{"", ""}));

TEST(NormalizePathTest, AnotherHostIsAClearError)
{
    try {
        TpzBatch::NormalizePath(QStringLiteral("file://server/share/a.xls"));
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("\"server\""))) << e.what();
    }
}

// ------------------------------------------------------------------------------------------

TEST(BatchCounters, FailuresCountEveryReportMessagesOnceIgnoringCase)
{
    TpzBatch batch;
    batch.AddFailure(QStringLiteral("Access denied"));
    batch.AddFailure(QStringLiteral("ACCESS DENIED"));
    batch.AddFailure(QStringLiteral("Disk full"));
    batch.AddSuccess();
    EXPECT_EQ(batch.Failures(), 3);
    EXPECT_EQ(batch.Successes(), 1);
    EXPECT_EQ(batch.Messages(), (QStringList{"Access denied", "Disk full"}));
}

class RefuseAll : public TpzMatchBase {
public:
    bool Matches(const QString&, const QString&) override { return false; }
};

TEST(BatchAddFile, RefusedFileMakesNoItemButCompletesTheList)
{
    RefuseAll refuse;
    pzMatch.store(&refuse);
    TpzBatch batch;
    int added = 0;
    batch.OnAddNode = [&](TpzBatch*, TpzNode*) { ++added; };
    batch.AddFile(QStringLiteral("/data/a.xls"));
    pzMatch.store(nullptr);
    EXPECT_EQ(batch.Count(), 0);
    EXPECT_EQ(added, 0);
    EXPECT_TRUE(batch.SearchDone());
    EXPECT_EQ(batch.NextNode(), nullptr);
    EXPECT_TRUE(batch.Exhausted());
}

TEST(BatchAddFile, ItemsKeepTheTextAndTheirIndex)
{
    TpzBatch batch;
    std::vector<TpzNode*> seen;
    batch.OnAddNode = [&](TpzBatch* b, TpzNode* n) {
        EXPECT_EQ(b, &batch);
        seen.push_back(n);
    };
    batch.AddFile(QStringLiteral("https://host/a.xls"));
    batch.AddFile(QStringLiteral("/b.xls"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1]->Index, 1);
    EXPECT_EQ(seen[0]->FileName, "https://host/a.xls");
    EXPECT_EQ(seen[0]->Status, StatusRunning);
    // A batch filled by hand never starts its search.
    TestProcess process;
    WriteFile(process.Root() + "in/x.xls");
    batch.Search(process.Root() + "in/*.xls", process.Root() + "out", false);
    batch.WaitFor();
    EXPECT_EQ(batch.Count(), 2);
    EXPECT_EQ(batch.Mask(), "*.xls");
}

// ------------------------------------------------------------------------------------------

class SearchTest : public testing::Test {
protected:
    TestProcess Process;
    QString In = Process.Root() + "in/";
    QString Out = Process.Root() + "out/";
};

TEST_F(SearchTest, StoresFolderAndMaskAndCreatesTheTarget)
{
    TpzBatch batch;
    batch.Search(In + "*.xls?", Out + "deep/er", true);
    batch.WaitFor();
    EXPECT_EQ(batch.SourceFolder(), In);
    EXPECT_EQ(batch.Mask(), "*.xls?");
    EXPECT_EQ(batch.TargetFolder(), Out + "deep/er");
    EXPECT_TRUE(batch.Subdirs());
    EXPECT_TRUE(QFileInfo(Out + "deep/er").isDir());
    // The missing source folder lists nothing, and the search is still done.
    EXPECT_EQ(batch.Count(), 0);
    EXPECT_TRUE(batch.SearchDone());
}

TEST_F(SearchTest, EmptyTargetIsRefused)
{
    TpzBatch batch;
    EXPECT_THROW(batch.Search(In + "*.xls", QString(), false), Exception);
    EXPECT_FALSE(batch.SearchDone());
}

TEST_F(SearchTest, SourceWithoutFolderListsTheCurrentFolder)
{
    WriteFile(In + "a.xls");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(In));
    const QStringList items = SearchAll(QStringLiteral("*.xls?"), Out, false);
    QDir::setCurrent(before);
    EXPECT_EQ(items, QStringList{"a.xls"});
}

TEST_F(SearchTest, SourceEndingInDelimiterListsNothing)
{
    WriteFile(In + "a.xls");
    EXPECT_TRUE(SearchAll(In, Out, true).isEmpty());
}

// Every folder's files come before the files of its sub-folders, and a sub-folder is searched
// completely before the next one (depth first, pre-order).
void ExpectDepthFirst(const QStringList& items)
{
    std::set<QString> closed; // folders whose subtree has been left
    QString current;
    for (const QString& item : items) {
        const QString folder = item.left(item.lastIndexOf(u'/') + 1);
        if (folder != current) {
            // Leaving `current`: every folder on its path that does not contain `folder` is done.
            for (QString f = current; !f.isEmpty() && !folder.startsWith(f);
                 f = f.left(f.lastIndexOf(u'/', -2) + 1)) {
                closed.insert(f);
            }
            EXPECT_EQ(closed.count(folder), 0u) << "came back to " << folder.toStdString();
            EXPECT_FALSE(current.startsWith(folder) && current != folder)
                << "files of " << folder.toStdString() << " after its sub-folder";
            current = folder;
        }
    }
}

TEST_F(SearchTest, WalksDepthFirstWithTheFilesOfAFolderFirst)
{
    for (const char* name : {"a.xls", "b.xlsx", "sub/c.xls", "sub/deeper/d.xls",
                             "sub/deeper/x/y.xlsm", "sub2/e.xls", "sub2/f.xls", "z.XLS"}) {
        WriteFile(In + name);
    }
    const QStringList items = SearchAll(In + "*.xls?", Out, true);
    ExpectDepthFirst(items);
    EXPECT_EQ(std::set<QString>(items.begin(), items.end()),
              (std::set<QString>{In + "a.xls", In + "b.xlsx", In + "sub/c.xls",
                                 In + "sub/deeper/d.xls", In + "sub/deeper/x/y.xlsm",
                                 In + "sub2/e.xls", In + "sub2/f.xls", In + "z.XLS"}));
    EXPECT_EQ(items.indexOf(In + "sub/c.xls") + 1, items.indexOf(In + "sub/deeper/d.xls"));
    // Without sub-folders only the folder's own files.
    EXPECT_EQ(SearchAll(In + "*.xls?", Out, false).size(), 3);
}

TEST_F(SearchTest, HiddenOwnerAndLinkedEntries)
{
    for (const char* name :
         {"book.xlsx", "~$book.xlsx", ".hidden.xls", ".git/in-hidden.xls", "sub/s.xls"}) {
        WriteFile(In + name);
    }
    WriteFile(Process.Root() + "elsewhere/linked.xls");
    ASSERT_EQ(symlink((Process.Root() + "elsewhere").toUtf8().constData(),
                      (In + "link").toUtf8().constData()),
              0);
    ASSERT_EQ(
        symlink((In + "book.xlsx").toUtf8().constData(), (In + "alias.xls").toUtf8().constData()),
        0);
    QFile::setPermissions(In + "sub/s.xls", QFile::ReadOwner); // read-only is listed too

    const auto listed = [&] {
        const QStringList items = SearchAll(In + "*.xls?", Out, true);
        return std::set<QString>(items.begin(), items.end());
    };
    EXPECT_EQ(listed(), (std::set<QString>{In + "book.xlsx", In + ".hidden.xls", In + "alias.xls",
                                           In + "sub/s.xls"}));
    Process.Set("SkipHidden", "True");
    EXPECT_EQ(listed(), (std::set<QString>{In + "book.xlsx", In + "alias.xls", In + "sub/s.xls"}));
}

TEST_F(SearchTest, RegExtFiltersTheFullPath)
{
    for (const char* name : {"x.xls", "report2019.xls", "2019/y.xls", "2019/z.doc"}) {
        WriteFile(In + name);
    }
    Process.Set("RegExt", "2019");
    TpzBatch batch;
    batch.Search(In + "*.xls?", Out, true);
    batch.WaitFor();
    const QStringList items = Items(batch);
    EXPECT_EQ(std::set<QString>(items.begin(), items.end()),
              (std::set<QString>{In + "report2019.xls", In + "2019/y.xls"}));
    EXPECT_EQ(batch.RegExt(), "2019");
}

TEST_F(SearchTest, TerminationStopsAfterTheEntryInHand)
{
    for (int i = 0; i < 200; ++i) {
        WriteFile(In + QStringLiteral("f%1.xls").arg(i));
    }
    WriteFile(In + "sub/late.xls");
    TpzBatch batch;
    batch.OnAddNode = [](TpzBatch* b, TpzNode* n) {
        if (n->Index == 4) {
            b->Terminate();
        }
    };
    batch.Search(In + "*.xls", Out, true);
    batch.WaitFor();
    EXPECT_TRUE(batch.SearchDone());
    EXPECT_EQ(batch.Count(), 5);
    int handed = 0;
    while (batch.NextNode() != nullptr) {
        ++handed;
    }
    EXPECT_EQ(handed, 5);
}

TEST_F(SearchTest, AnErrorOfTheAddEventEndsTheSearchButMarksItDone)
{
    for (int i = 0; i < 20; ++i) {
        WriteFile(In + QStringLiteral("f%1.xls").arg(i));
    }
    TpzBatch batch;
    batch.OnAddNode = [](TpzBatch*, TpzNode*) { throw Exception(QStringLiteral("receiver")); };
    batch.Search(In + "*.xls", Out, false);
    batch.WaitFor();
    EXPECT_TRUE(batch.SearchDone());
    EXPECT_EQ(batch.Count(), 1);
}

TEST_F(SearchTest, DestroyingTheBatchEndsARunningSearch)
{
    for (int d = 0; d < 20; ++d) {
        for (int i = 0; i < 20; ++i) {
            WriteFile(In + QStringLiteral("d%1/f%2.xls").arg(d).arg(i));
        }
    }
    std::atomic<int> added{0};
    {
        TpzBatch batch;
        batch.OnAddNode = [&](TpzBatch*, TpzNode*) { ++added; };
        batch.Search(In + "*.xls", Out, true);
        while (added.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Never started: destruction lists nothing.
    TpzBatch idle;
    EXPECT_EQ(idle.Count(), 0);
}

// ------------------------------------------------------------------------------------------

// A batch whose search adds the items the test hands it, when the test says so.
class ScriptedBatch : public TpzBatch {
public:
    std::atomic<int> Release{0};
    std::atomic<bool> Finish{false};

protected:
    void Execute() override
    {
        int added = 0;
        for (;;) {
            const bool finish = Finish.load();
            while (added < Release.load()) {
                Add(QStringLiteral("/in/%1.xls").arg(added++));
            }
            if (finish) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

TEST(NextNodeTest, WaitsWhileTheSearchListsThenEndsWhenItIsDone)
{
    TestProcess process;
    ScriptedBatch batch;
    batch.Search(process.Root() + "in/*.xls", process.Root() + "out", false);
    std::atomic<TpzNode*> got{nullptr};
    std::thread worker([&] { got.store(batch.NextNode()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(got.load(), nullptr); // still waiting for an item
    batch.Release.store(1);
    worker.join();
    ASSERT_NE(got.load(), nullptr);
    EXPECT_EQ(got.load()->Index, 0);
    EXPECT_FALSE(batch.Exhausted());
    batch.Release.store(2);
    batch.Finish.store(true);
    TpzNode* second = batch.NextNode();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Index, 1);
    EXPECT_EQ(batch.NextNode(), nullptr);
    EXPECT_TRUE(batch.Exhausted());
}

TEST(NextNodeTest, ConcurrentWorkersGetEveryItemOnceInListOrder)
{
    TestProcess process;
    ScriptedBatch batch;
    batch.Search(process.Root() + "in/*.xls", process.Root() + "out", false);
    constexpr int Total = 3000;
    std::vector<std::vector<int>> taken(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (TpzNode* node = batch.NextNode()) {
                taken[t].push_back(node->Index);
            }
        });
    }
    // Items arrive while the workers are already asking.
    for (int i = 1; i <= Total; i += 7) {
        batch.Release.store(i);
        std::this_thread::yield();
    }
    batch.Release.store(Total);
    batch.Finish.store(true);
    for (auto& t : threads) {
        t.join();
    }
    std::vector<int> seen(Total, 0);
    for (const auto& list : taken) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        for (int index : list) {
            ++seen[index];
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), Total);
    EXPECT_TRUE(batch.Exhausted());
}

} // namespace
