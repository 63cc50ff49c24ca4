#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Text files of lines: projects, the history and log files.
//
// Read: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE and is dropped; without one the
// bytes are decoded in the locale's character set. A NUL character ends the text. CR, LF and
// CR LF each end a line; a break at the very end adds no empty line.
//
// Write: the locale's character set, no byte-order mark, CR LF after every line, the last one
// included. A character the character set cannot hold is written as "?".
namespace platform {

// The character-set name to use for unmarked text files (nl_langinfo(CODESET)). The plain C
// locale reports ASCII, which would turn every accented letter in a path into "?"; it is taken
// as UTF-8 instead, its superset, as Qt and Python do, so nothing is lost.
QByteArray LocaleCharset();

// Decoding and encoding in a named character set (any name iconv knows). Bytes that do not
// decode become U+FFFD; characters that do not encode become "?".
QString DecodeText(const QByteArray& bytes, const QByteArray& charset);
QByteArray EncodeText(const QString& text, const QByteArray& charset);

// Text from file bytes by the reading rules above (byte-order mark, else charset).
QString DecodeFileText(const QByteArray& bytes, const QByteArray& charset = LocaleCharset());

// Splits a text into lines by the reading rules above (NUL ends the text; CR, LF, CR LF).
QStringList SplitLines(const QString& text);

// Joins lines with CR LF after every line.
QString JoinLines(const QStringList& lines);

// Reads a whole file. Throws Exception naming the file when it cannot be read.
QByteArray ReadFileBytes(const QString& path);

// Reads a text file into lines. Throws Exception naming the file when it cannot be read.
QStringList ReadTextFile(const QString& path);

// Writes lines, replacing the file (an interrupted write leaves the old content). The folder is
// not created. Throws Exception naming the file when it cannot be written.
void WriteTextFile(const QString& path, const QStringList& lines);

} // namespace platform
