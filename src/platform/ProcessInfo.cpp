#include "platform/ProcessInfo.h"

#include <QFile>
#include <ctime>

namespace platform {

QString ExecutablePath()
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

QString FirstArgument(int argc, const char* const* argv)
{
    if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
        return {};
    }
    return QString::fromLocal8Bit(argv[1]);
}

uint32_t TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Truncation to 32 bits is the point: the tick count wraps like the one it stands in for.
    const auto millis =
        static_cast<uint64_t>(now.tv_sec) * 1000U + static_cast<uint64_t>(now.tv_nsec) / 1000000U;
    return static_cast<uint32_t>(millis);
}

} // namespace platform
