#pragma once

#include <QString>
#include <cstdint>

// Whole-file helpers of the usage store; stateless, safe on any thread.
class TpzFileUtils {
public:
    // A time of a file or folder as a packed DOS date-time (date in the high 16 bits): the
    // creation time when creation is true, else the last-write time; in UTC when keepUtc, else
    // in local time. -1 when the path is missing or the time lies outside 1980-2107. Never
    // throws.
    static int32_t FileDosTime(const QString& path, bool creation, bool keepUtc);

    // The file's bytes as characters: with charSize 1 each byte is one character (Latin-1),
    // with charSize 2 each pair of bytes is one UTF-16 little-endian code unit and an odd last
    // byte is dropped. Throws Exception naming the file when it cannot be opened or read.
    static QString ReadText(const QString& path, int charSize);

    // Writes the characters as bytes (charSize 1: the low byte of each; 2: UTF-16 little-endian,
    // no byte-order mark), replacing the content or appending to it. A missing folder is
    // created first. Throws Exception naming the file when it cannot be opened or written.
    static void WriteText(const QString& path, const QString& text, int charSize, bool append);
};
