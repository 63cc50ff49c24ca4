#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/Messages.h"
#include "sheets/xlsx/XlsxReader.h"

namespace sheets {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Mostly printable, no NUL: someone's text (CSV, tab-delimited, a log).
bool looksLikeText(std::string_view head)
{
    std::size_t control = 0;
    for (const char ch : head) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0) {
            return false;
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
            ++control;
        }
    }
    return control * 100 <= head.size();
}

// What a file that is neither a zip nor a compound file is, for the message.
std::string describeOther(std::string_view head)
{
    if (startsWith(head, "%PDF")) {
        return "a PDF document";
    }
    if (startsWith(head, "{\\rtf")) {
        return "an RTF document";
    }
    if (startsWith(head, "\x1F\x8B")) {
        return "a gzip archive";
    }
    if (startsWith(head, "7z\xBC\xAF\x27\x1C")) {
        return "a 7-Zip archive";
    }
    if (startsWith(head, "Rar!")) {
        return "a RAR archive";
    }
    if (startsWith(head, "\xFF\xFE") || startsWith(head, "\xFE\xFF")) {
        return "a Unicode (UTF-16) text file";
    }
    // Excel 2.x to 4.x kept a bare BIFF stream: BOF record 0x0009, 0x0209 or 0x0409.
    if (head.size() >= 4 && (head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04) &&
        head[0] == 0x09 && head[3] == 0x00 && head[2] >= 4 && head[2] <= 16) {
        return "an Excel 2.x-4.x worksheet (a format this converter does not read)";
    }
    std::string_view text = head;
    if (startsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r')) {
        text.remove_prefix(1);
    }
    const std::string lower = lowerAscii(text);
    if (lower.find("urn:schemas-microsoft-com:office:spreadsheet") != std::string::npos) {
        return "an XML Spreadsheet 2003 file (a format this converter does not read)";
    }
    if (startsWith(lower, "<!doctype html") || startsWith(lower, "<html") ||
        lower.find("<html") != std::string::npos || lower.find("<table") != std::string::npos) {
        return "an HTML page";
    }
    if (startsWith(lower, "<?xml") || startsWith(lower, "<")) {
        return "an XML file";
    }
    if (looksLikeText(head)) {
        return "a text file";
    }
    return "a file of an unknown kind";
}

} // namespace

std::unique_ptr<BookReader> openBook(const std::string& path, const OpenOptions& options)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Error(msg::cannotOpen(path, msg::openFailure(errno)));
    }
    struct stat info {};
    char head[4096];
    ssize_t got = -1;
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (S_ISREG(info.st_mode)) {
        got = ::pread(fd, head, sizeof head, 0);
        if (got < 0) {
            error = errno;
        }
    }
    ::close(fd);
    if (error != 0) {
        throw Error(msg::cannotOpen(path, msg::systemReason(error)));
    }
    if (S_ISDIR(info.st_mode)) {
        throw Error(msg::cannotOpen(path, "it is a folder"));
    }
    if (!S_ISREG(info.st_mode)) {
        throw Error(msg::cannotOpen(path, "it is not a regular file"));
    }
    if (got == 0) {
        throw Error(msg::cannotOpen(path, "the file is empty"));
    }
    const std::string_view bytes(head, static_cast<std::size_t>(got));
    if (startsWith(bytes, "PK\x03\x04") || startsWith(bytes, "PK\x05\x06") ||
        startsWith(bytes, "PK\x07\x08")) {
        return xlsx::openFile(path, options);
    }
    if (startsWith(bytes, std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))) {
        return openXls(path, options);
    }
    throw Error(msg::notAWorkbook(path, describeOther(bytes)));
}

} // namespace sheets
