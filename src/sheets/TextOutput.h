#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where the text of sheets goes: a file descriptor, through a buffer, in the chosen character
// set. Text is gathered in UTF-8 and converted on its way out.
namespace sheets {

// The character set of the user's locale as LC_ALL, LC_CTYPE and LANG name it, found without
// touching the process's locale (setlocale is not thread-safe). The C/POSIX locale counts as
// UTF-8, as it does for Qt 6, and so does a locale that is not installed.
const std::string& localeCharset();

// True for the names of UTF-8 ("UTF-8", "utf8", ...).
bool isUtf8(std::string_view charset);

class TextOutput {
public:
    // charset: a name iconv knows; UTF-8 (and "" for the locale's) pass text through unchanged.
    // Characters the charset cannot hold are written as its "?". displayPath names the target
    // in messages. Throws sheets::Error for a character set that iconv does not know.
    TextOutput(int fd, std::string displayPath, const std::string& charset = {});
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    // UTF-8 text is appended here; lineDone() hands it on once enough has gathered. Only whole
    // characters may be left in it when lineDone() or flush() is called.
    std::string& buffer() { return buffer_; }
    void lineDone()
    {
        if (buffer_.size() >= kFlushAt) {
            flush();
        }
    }
    // Writes out everything gathered. Throws sheets::Error when the file cannot take it.
    void flush();

    // The offset in the file where the next text goes (after a flush).
    std::uint64_t position();
    // Forgets everything after `position`: gathered text and text already written.
    void rewind(std::uint64_t position);

private:
    static constexpr std::size_t kFlushAt = 1U << 20;

    void writeAll(const char* data, std::size_t size);

    int fd_;
    std::string path_;
    std::string buffer_;
    std::string converted_;
    std::uint64_t written_ = 0;
    void* iconv_ = nullptr; // iconv_t when converting
    std::string replacement_;
};

} // namespace sheets
