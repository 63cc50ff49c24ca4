#include "platform/FileTime.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

QDateTime FromTimestamp(int64_t seconds, uint32_t nanoseconds)
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, Qt::UTC);
}

} // namespace

std::optional<QDateTime> FileTime(const QString& path, bool creation)
{
    if (path.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray name = QFile::encodeName(path);
    struct statx info {};
    const unsigned mask = STATX_BTIME | STATX_CTIME | STATX_MTIME;
    if (statx(AT_FDCWD, name.constData(), 0, mask, &info) != 0) {
        return std::nullopt;
    }
    if (!creation) {
        return FromTimestamp(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    }
    // Not every file system keeps a birth time; the last status change is the nearest stand-in.
    if ((info.stx_mask & STATX_BTIME) != 0) {
        return FromTimestamp(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
    }
    return FromTimestamp(info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec);
}

std::optional<QDateTime> BirthTime(const QString& path)
{
    if (path.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray name = QFile::encodeName(path);
    struct statx info {};
    if (statx(AT_FDCWD, name.constData(), 0, STATX_BTIME, &info) != 0 ||
        (info.stx_mask & STATX_BTIME) == 0) {
        return std::nullopt;
    }
    return FromTimestamp(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
}

int32_t PackDosDateTime(const QDateTime& time)
{
    if (!time.isValid()) {
        return -1;
    }
    const QDate date = time.date();
    const QTime clock = time.time();
    if (date.year() < 1980 || date.year() > 2107) {
        return -1;
    }
    const auto dosDate =
        static_cast<uint32_t>(((date.year() - 1980) << 9) | (date.month() << 5) | date.day());
    const auto dosTime =
        static_cast<uint32_t>((clock.hour() << 11) | (clock.minute() << 5) | (clock.second() / 2));
    return static_cast<int32_t>((dosDate << 16) | dosTime);
}

} // namespace platform
