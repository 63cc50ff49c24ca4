#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace platform {

QString ExtractFilePath(const QString& path)
{
    return path.left(path.lastIndexOf(PathDelimiter) + 1);
}

QString ExtractFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(PathDelimiter) + 1);
}

QString ChangeFileExt(const QString& path, const QString& ext)
{
    const qsizetype nameStart = path.lastIndexOf(PathDelimiter) + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot > nameStart) {
        return path.left(dot) + ext;
    }
    return path + ext;
}

QString IncludeTrailingPathDelimiter(const QString& path)
{
    if (path.isEmpty() || path.endsWith(PathDelimiter)) {
        return path;
    }
    return path + PathDelimiter;
}

QString ExcludeTrailingPathDelimiter(const QString& path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(PathDelimiter)) {
        result.chop(1);
    }
    return result;
}

bool ForceDirectories(const QString& folder)
{
    if (folder.isEmpty()) {
        return false;
    }
    if (QFileInfo(folder).isDir()) {
        return true;
    }
    return QDir().mkpath(folder);
}

bool IsWebAddress(const QString& text)
{
    static const QRegularExpression web(QStringLiteral("^(https?|ftp)://"),
                                        QRegularExpression::CaseInsensitiveOption);
    return web.match(text).hasMatch();
}

} // namespace platform
