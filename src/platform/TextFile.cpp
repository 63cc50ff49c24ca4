#include "platform/TextFile.h"

#include "platform/Exception.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

namespace platform {

namespace {

bool IsUtf8Name(const QByteArray& charset)
{
    const QByteArray name = charset.toUpper();
    return name == "UTF-8" || name == "UTF8";
}

// iconv with a guard that closes it.
class Iconv {
public:
    Iconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (Valid()) {
            iconv_close(FHandle);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return reinterpret_cast<intptr_t>(FHandle) != -1; }
    iconv_t Handle() const { return FHandle; }

private:
    iconv_t FHandle;
};

// Feeds input to iconv; at a sequence it cannot convert it writes `substitute` (in the target
// encoding), skips `skip` input bytes and goes on.
QByteArray Convert(const Iconv& cd, const QByteArray& input, const QByteArray& substitute,
                   size_t skip)
{
    QByteArray output;
    output.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    size_t used = 0;
    while (inLeft > 0) {
        char* out = output.data() + used;
        size_t outLeft = static_cast<size_t>(output.size()) - used;
        const size_t rc = iconv(cd.Handle(), &in, &inLeft, &out, &outLeft);
        used = static_cast<size_t>(out - output.data());
        if (rc != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL (a truncated sequence at the end): substitute and skip.
        if (static_cast<size_t>(output.size()) - used < static_cast<size_t>(substitute.size())) {
            output.resize(output.size() * 2 + substitute.size());
        }
        std::memcpy(output.data() + used, substitute.constData(), substitute.size());
        used += static_cast<size_t>(substitute.size());
        const size_t step = std::min(skip, inLeft);
        in += step;
        inLeft -= step;
    }
    output.resize(static_cast<qsizetype>(used));
    return output;
}

} // namespace

QByteArray LocaleCharset()
{
    const char* codeset = nl_langinfo(CODESET);
    QByteArray name = codeset != nullptr ? QByteArray(codeset) : QByteArray();
    if (name.isEmpty() || name == "ANSI_X3.4-1968" || name.toUpper() == "ASCII" ||
        name.toUpper() == "US-ASCII") {
        return QByteArrayLiteral("UTF-8");
    }
    return name;
}

QString DecodeText(const QByteArray& bytes, const QByteArray& charset)
{
    if (IsUtf8Name(charset)) {
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        return decoder.decode(bytes);
    }
    const Iconv cd("UTF-16LE", charset.constData());
    if (!cd.Valid()) {
        // A character set iconv does not know: UTF-8 is the best guess on this system.
        return DecodeText(bytes, QByteArrayLiteral("UTF-8"));
    }
    const QByteArray replacement("\xFD\xFF", 2); // U+FFFD in UTF-16LE
    const QByteArray utf16 = Convert(cd, bytes, replacement, 1);
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

QByteArray EncodeText(const QString& text, const QByteArray& charset)
{
    if (IsUtf8Name(charset)) {
        return text.toUtf8();
    }
    const Iconv cd(charset.constData(), "UTF-16LE");
    if (!cd.Valid()) {
        return text.toUtf8();
    }
    // Input is UTF-16LE: skipping 2 bytes leaves a surrogate pair as two "?", which is how a
    // code page without such characters shows them too.
    const QByteArray input(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return Convert(cd, input, QByteArrayLiteral("?"), 2);
}

QString DecodeFileText(const QByteArray& bytes, const QByteArray& charset)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = DecodeText(bytes.mid(3), QByteArrayLiteral("UTF-8"));
    } else if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        text = decoder.decode(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless);
        text = decoder.decode(bytes.mid(2));
    } else {
        text = DecodeText(bytes, charset);
    }
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        text.truncate(nul);
    }
    return text;
}

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = text.at(i);
        if (c == u'\0') {
            break;
        }
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n') {
                ++i;
            }
            start = i + 1;
        }
        ++i;
    }
    if (i > start) {
        lines.append(text.mid(start, i - start));
    }
    return lines;
}

QString JoinLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(
            QStringLiteral("Cannot open file \"%1\": %2").arg(path, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw Exception(
            QStringLiteral("Cannot read file \"%1\": %2").arg(path, file.errorString()));
    }
    return bytes;
}

QStringList ReadTextFile(const QString& path)
{
    return SplitLines(DecodeFileText(ReadFileBytes(path)));
}

void WriteTextFile(const QString& path, const QStringList& lines)
{
    // A file the user made read-only stays as it is, although the folder would allow replacing it.
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable()) {
        throw Exception(QStringLiteral("Cannot write file \"%1\": Permission denied").arg(path));
    }
    QSaveFile file(path);
    // Where no temporary file can be made beside it (a folder without create rights, a
    // special file), write in place rather than fail.
    file.setDirectWriteFallback(true);
    const QByteArray bytes = EncodeText(JoinLines(lines), LocaleCharset());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        throw Exception(
            QStringLiteral("Cannot write file \"%1\": %2").arg(path, file.errorString()));
    }
}

} // namespace platform
