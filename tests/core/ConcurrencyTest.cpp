// Worker threads reading options and counting while the main thread changes things.

#include "TestSupport.h"
#include "core/TpzApp.h"
#include "core/TpzFileUtils.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/FileTime.h"
#include "platform/TextFile.h"

#include <atomic>
#include <thread>
#include <vector>

TEST(Concurrency, CountsFromManyThreadsAreNeitherLostNorTorn)
{
    TempExe exe;
    OpenedLinks opened;
    TpzProcess process(exe.Exe(), "");
    ASSERT_TRUE(process.StartUp());
    constexpr int Threads = 4;
    constexpr int Rounds = 100;
    std::vector<std::thread> workers;
    workers.reserve(Threads);
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([] {
            for (int i = 0; i < Rounds; ++i) {
                pzInfo->AddCount(QStringLiteral("C"), 0, 1);
                pzInfo->AddCount(QStringLiteral("W"), 16, 1);
                (void)pzInfo->LinkFor(QString(), QString(), QString());
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(pzInfo->StoreValue("C"), QString::number(Threads * Rounds));

    QString text;
    const int32_t stamp = platform::PackDosDateTime(*platform::BirthTime(exe.Folder()));
    ASSERT_TRUE(
        TpzInfo::DecodeStore(TpzFileUtils::ReadText(exe.Path("tabulix.ext"), 2), stamp, &text))
        << "the file was never left half written";
    EXPECT_TRUE(platform::SplitLines(text).contains(QStringLiteral("C=%1").arg(Threads * Rounds)));
}

TEST(Concurrency, OptionReadsSeeWholeSettings)
{
    TempExe exe;
    TpzProject project(exe.Exe());
    const QString first = QStringLiteral("Source=/a\r\nThreadsCount=2\r\nIsOverwrite=skip\r\n");
    const QString second = QStringLiteral("ThreadsCount=3\r\nSource=/b\r\nIsOverwrite=skip\r\n");
    project.SetSettingsText(first);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    readers.reserve(3);
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const int threads = project.ThreadsCount();
                const QString source = project.Source();
                if ((threads != 2 && threads != 3) || (source != "/a" && source != "/b") ||
                    project.IsOverwrite() != TpzOverwrite::Skip) {
                    ++torn;
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        project.SetSettingsText(i % 2 == 0 ? second : first);
        project.SetOption(QStringLiteral("Extra"), QString::number(i));
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(torn.load(), 0);
}

TEST(Concurrency, TickCountFromAnyThread)
{
    std::vector<std::thread> threads;
    threads.reserve(3);
    std::atomic<int> backwards{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            uint32_t last = TpzApp::TickCount();
            for (int i = 0; i < 10000; ++i) {
                const uint32_t now = TpzApp::TickCount();
                if (now - last > 0x80000000U) {
                    ++backwards;
                }
                last = now;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(backwards.load(), 0);
}
