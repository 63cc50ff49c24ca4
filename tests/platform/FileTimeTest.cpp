#include "platform/FileTime.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

TEST(PackDosDateTime, FieldsAndLimits)
{
    struct Case {
        QDateTime time;
        int32_t packed;
    };
    const Case cases[] = {
        {QDateTime(QDate(1980, 1, 1), QTime(0, 0, 0), Qt::UTC), 0x00210000},
        {QDateTime(QDate(2019, 11, 15), QTime(15, 20, 7), Qt::UTC),
         static_cast<int32_t>((((2019 - 1980) << 9 | 11 << 5 | 15) << 16) |
                              (15 << 11 | 20 << 5 | 3))},
        // The year 2044 sets the top bit: the packed value is negative but valid.
        {QDateTime(QDate(2044, 1, 1), QTime(0, 0, 0), Qt::UTC), static_cast<int32_t>(0x80210000U)},
        {QDateTime(QDate(2107, 12, 31), QTime(23, 59, 59), Qt::UTC),
         static_cast<int32_t>(0xFF9FBF7DU)},
        {QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59), Qt::UTC), -1},
        {QDateTime(QDate(2108, 1, 1), QTime(0, 0, 0), Qt::UTC), -1},
        {QDateTime(), -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PackDosDateTime(c.time), c.packed) << c.time.toString().toStdString();
    }
}

TEST(FileTime, WriteTimeOfAFileAndMissingPaths)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QDateTime when(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();

    const std::optional<QDateTime> written = FileTime(path, false);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, when);
    EXPECT_TRUE(FileTime(path, true).has_value());
    EXPECT_TRUE(FileTime(dir.path(), true).has_value()) << "folders have times too";
    EXPECT_FALSE(FileTime(dir.filePath("missing"), false).has_value());
    EXPECT_FALSE(FileTime("", true).has_value());
    EXPECT_FALSE(BirthTime(dir.filePath("missing")).has_value());
}
