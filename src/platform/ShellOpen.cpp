#include "platform/ShellOpen.h"

#include <QMutex>
#include <QProcess>
#include <QStandardPaths>

namespace platform {

namespace {

QMutex& HookLock()
{
    static QMutex lock;
    return lock;
}

ShellOpenHook& Hook()
{
    static ShellOpenHook hook;
    return hook;
}

void OpenWithXdg(const QString& target)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        return;
    }
    QProcess process;
    process.setProgram(opener);
    process.setArguments({target});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace

void ShellOpen(const QString& target)
{
    ShellOpenHook hook;
    {
        const QMutexLocker locker(&HookLock());
        hook = Hook();
    }
    if (hook) {
        hook(target);
        return;
    }
    OpenWithXdg(target);
}

ShellOpenHook SetShellOpenHook(ShellOpenHook hook)
{
    const QMutexLocker locker(&HookLock());
    ShellOpenHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

} // namespace platform
