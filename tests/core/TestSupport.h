#pragma once

#include "platform/ShellOpen.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A stand-in executable path inside a fresh temporary folder: the default project, the history
// file and the usage store of an object made with it land there.
class TempExe {
public:
    TempExe() : FExe(FDir.filePath(QStringLiteral("tabulix"))) {}
    const QString& Exe() const { return FExe; }
    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString Folder() const { return FDir.path(); }

private:
    QTemporaryDir FDir;
    QString FExe;
};

// Records what would have been opened, and opens nothing, while it lives.
class OpenedLinks {
public:
    OpenedLinks()
        : FBefore(platform::SetShellOpenHook([this](const QString& t) { FLinks.append(t); }))
    {}
    ~OpenedLinks() { platform::SetShellOpenHook(FBefore); }
    OpenedLinks(const OpenedLinks&) = delete;
    OpenedLinks& operator=(const OpenedLinks&) = delete;
    const QStringList& Links() const { return FLinks; }

private:
    QStringList FLinks;
    platform::ShellOpenHook FBefore;
};

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Prints QStrings readably in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[' << list.join(QStringLiteral(" | ")).toStdString() << ']';
}
QT_END_NAMESPACE
