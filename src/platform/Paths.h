#pragma once

#include <QString>

// Path texts, built on the native delimiter "/". Folder texts that the program builds end in
// the delimiter.
namespace platform {

inline constexpr QChar PathDelimiter = u'/';

// The folder part of a path up to and including its last delimiter; empty when there is none.
QString ExtractFilePath(const QString& path);

// The name part after the last delimiter.
QString ExtractFileName(const QString& path);

// Replaces the extension of the name part (from its last "." on) with ext, which carries its own
// dot; a name without extension gets ext appended. A leading dot of a hidden name is part of
// the name, not an extension.
QString ChangeFileExt(const QString& path, const QString& ext);

// path with a delimiter at the end (unchanged when it has one already, or is empty).
QString IncludeTrailingPathDelimiter(const QString& path);

// path without a delimiter at the end, the root "/" excepted.
QString ExcludeTrailingPathDelimiter(const QString& path);

// Creates the folder and its missing parents. True when the folder exists afterwards.
bool ForceDirectories(const QString& folder);

// An address of the web (http:, https:, ftp:, letter case ignored), as opposed to a path.
bool IsWebAddress(const QString& text);

} // namespace platform
