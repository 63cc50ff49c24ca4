#include "platform/ProcessInfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(ProcessInfo, ExecutablePathIsThisTestProgram)
{
    const QString path = ExecutablePath();
    EXPECT_TRUE(QFileInfo(path).isAbsolute());
    EXPECT_EQ(QFileInfo(path).fileName(), "platform_tests");
}

TEST(ProcessInfo, FirstArgumentOnly)
{
    const char* none[] = {"tabulix", nullptr};
    const char* two[] = {"tabulix", "-P:Source=/a b/*.xls", "ignored", nullptr};
    const char* accented[] = {"tabulix", "/in/caf\xC3\xA9.xlsx", nullptr};
    EXPECT_EQ(FirstArgument(1, none), "");
    EXPECT_EQ(FirstArgument(0, nullptr), "");
    EXPECT_EQ(FirstArgument(3, two), "-P:Source=/a b/*.xls");
    EXPECT_EQ(FirstArgument(2, accented), QString::fromUtf8("/in/café.xlsx"));
}

TEST(ProcessInfo, TickCountAdvancesWithTime)
{
    const uint32_t t0 = TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint32_t elapsed = TickCount() - t0; // modulo 2^32, right across a wrap
    EXPECT_GE(elapsed, 30U);
}
