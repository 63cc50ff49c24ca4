#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// File and folder times.
namespace platform {

// The creation time (birth time where the file system keeps one, through statx; else the time
// of the last status change) or the last-write time of a file or folder, in UTC. Symbolic links
// are followed. Empty when the path cannot be looked up.
std::optional<QDateTime> FileTime(const QString& path, bool creation);

// The birth time in UTC, only where the file system keeps one; empty otherwise. Unlike the
// change time, which every new entry in a folder moves, it stays put for the life of the file.
std::optional<QDateTime> BirthTime(const QString& path);

// A time packed as a DOS date-time: the date in the high 16 bits (bits 15-9 year - 1980, 8-5
// month, 4-0 day), the time in the low 16 bits (15-11 hours, 10-5 minutes, 4-0 seconds / 2).
// The fields are taken as the QDateTime shows them (in its own time zone). -1 for a year outside
// 1980-2107 or an invalid time.
int32_t PackDosDateTime(const QDateTime& time);

} // namespace platform
