#include "sheets/Messages.h"

#include <cerrno>
#include <cstring>

namespace sheets::msg {

namespace {

std::string quoted(std::string_view path)
{
    std::string out;
    out.reserve(path.size() + 2);
    out += '"';
    out += path;
    out += '"';
    return out;
}

} // namespace

std::string cannotOpen(std::string_view path, std::string_view reason)
{
    return "Cannot open " + quoted(path) + ": " + std::string(reason);
}

std::string notAWorkbook(std::string_view path, std::string_view what)
{
    return cannotOpen(path, "it is " + std::string(what) + ", not a workbook");
}

std::string damaged(std::string_view path, std::string_view where, std::string_view detail)
{
    std::string out = "The workbook " + quoted(path) + " is damaged: ";
    if (!where.empty()) {
        out += where;
        out += ": ";
    }
    out += detail;
    return out;
}

std::string damagedAt(std::string_view path, std::string_view part, std::uint64_t line,
                      std::string_view detail)
{
    return damaged(path, std::string(part) + ", line " + std::to_string(line), detail);
}

std::string passwordProtected(std::string_view path)
{
    return "The workbook " + quoted(path) + " is protected by a password";
}

std::string cannotWrite(std::string_view path, std::string_view reason)
{
    return "Cannot write " + quoted(path) + ": " + std::string(reason);
}

std::string noSuchSheet(std::int64_t number, std::size_t count)
{
    return "Sheet " + std::to_string(number) + " does not exist: the workbook has " +
           std::to_string(count) + (count == 1 ? " sheet" : " sheets");
}

std::string lowerFirst(std::string text)
{
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

std::string systemReason(int error)
{
    return lowerFirst(std::strerror(error));
}

std::string openFailure(int error)
{
    return error == ENOENT ? std::string("no such file") : systemReason(error);
}

} // namespace sheets::msg
