#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The wording of the engine's messages, kept in one place so that both readers and the writer
// speak alike. Every message names the file it is about.
namespace sheets::msg {

// Cannot open "book.xlsx": <reason>
std::string cannotOpen(std::string_view path, std::string_view reason);

// Cannot open "book.xlsx": it is <what>, not a workbook
std::string notAWorkbook(std::string_view path, std::string_view what);

// The workbook "book.xlsx" is damaged: <where>: <detail>   (where may be empty)
std::string damaged(std::string_view path, std::string_view where, std::string_view detail);

// The workbook "book.xlsx" is damaged: <part>, line <n>: <detail>
std::string damagedAt(std::string_view path, std::string_view part, std::uint64_t line,
                      std::string_view detail);

// The workbook "book.xls" is protected by a password
std::string passwordProtected(std::string_view path);

// Cannot write "out.txt": <reason>
std::string cannotWrite(std::string_view path, std::string_view reason);

// Sheet 5 does not exist: the workbook has 3 sheets   (number is 1-based, as users count)
std::string noSuchSheet(std::int64_t number, std::size_t count);

// A reason as it reads inside a sentence: "No such file" becomes "no such file".
std::string lowerFirst(std::string text);

// The system's text for an errno value, as a reason: "no such file or directory".
std::string systemReason(int error);

// Why a file could not be opened, as a reason: "no such file" when it is missing, otherwise
// the system's text.
std::string openFailure(int error);

} // namespace sheets::msg
