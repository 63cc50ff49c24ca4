#include "core/TpzFileUtils.h"
#include "platform/TextFile.h"

#include "platform/Exception.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>

int32_t TpzFileUtils::FileDosTime(const QString& path, bool creation, bool keepUtc)
{
    const std::optional<QDateTime> time = platform::FileTime(path, creation);
    if (!time) {
        return -1;
    }
    return platform::PackDosDateTime(keepUtc ? *time : time->toLocalTime());
}

QString TpzFileUtils::ReadText(const QString& path, int charSize)
{
    const QByteArray bytes = platform::ReadFileBytes(path);
    if (charSize == 1) {
        return QString::fromLatin1(bytes);
    }
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes.at(2 * i));
        const auto high = static_cast<unsigned char>(bytes.at(2 * i + 1));
        text[i] = QChar(static_cast<char16_t>(low | (high << 8)));
    }
    return text;
}

void TpzFileUtils::WriteText(const QString& path, const QString& text, int charSize, bool append)
{
    const bool existed = QFileInfo::exists(path);
    const QString folder = platform::ExtractFilePath(path);
    if (!folder.isEmpty()) {
        platform::ForceDirectories(folder);
    }
    QByteArray bytes;
    if (charSize == 1) {
        bytes.reserve(text.size());
        for (const QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() & 0xFF));
        }
    } else {
        bytes.reserve(text.size() * 2);
        for (const QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() & 0xFF));
            bytes.append(static_cast<char>(c.unicode() >> 8));
        }
    }
    QFile file(path);
    const QIODevice::OpenMode mode =
        existed ? QIODevice::ReadWrite : QIODevice::ReadWrite | QIODevice::NewOnly;
    if (!file.open(mode)) {
        throw Exception(
            QStringLiteral("Cannot open file \"%1\": %2").arg(path, file.errorString()));
    }
    const bool positioned = append ? file.seek(file.size()) : file.resize(0);
    if (!positioned || file.write(bytes) != bytes.size() || !file.flush()) {
        throw Exception(
            QStringLiteral("Cannot write file \"%1\": %2").arg(path, file.errorString()));
    }
}
