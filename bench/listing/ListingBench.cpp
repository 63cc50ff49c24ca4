// tabulix-bench-listing [--dir DIR] [--runs N] [--threads N] [--regext TEXT]
//
// Lists a tree of 100,000 files in 1,000 folders the way a run does: the batch's search with
// the product's mask "*.xls?" and sub-folders, the file filter, and N workers (default 4) that
// take every item and do nothing with it. Beside it, on the same tree and in the same run,
// `find DIR -iname '*.xls?'`. Prints the best of N runs (default 3) of each, in items per
// second, and the ratio. The tree is made on first use (DIR defaults to
// /tmp/tabulix-bench-listing); its names match both tools alike (.xlsx, .xlsm, and .csv that
// neither lists), so both count the same items.

#include "batch/TpzMatch.h"
#include "batch/pzBatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Folders = 1000;
constexpr int FilesPerFolder = 100;
const char* const Layout = "tree v1: 10 x 100 folders, 100 files each (60 xlsx, 30 xlsm, 10 csv)";

using Clock = std::chrono::steady_clock;

bool MakeTree(const QString& root)
{
    const QString marker = root + "/.layout";
    QFile m(marker);
    if (m.open(QIODevice::ReadOnly) && m.readAll() == Layout) {
        return true;
    }
    m.close();
    std::fprintf(stderr, "making the tree in %s ...\n", qPrintable(root));
    QDir(root).removeRecursively();
    for (int f = 0; f < Folders; ++f) {
        const QString folder = QStringLiteral("%1/g%2/f%3/").arg(root).arg(f / 100).arg(f % 100);
        if (!QDir().mkpath(folder)) {
            return false;
        }
        for (int i = 0; i < FilesPerFolder; ++i) {
            const char* ext = i < 60 ? "xlsx" : i < 90 ? "xlsm" : "csv";
            const QByteArray path =
                QFile::encodeName(folder + QStringLiteral("book%1.").arg(i)) + ext;
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) {
                return false;
            }
            ::close(fd);
        }
    }
    QFile out(marker);
    return out.open(QIODevice::WriteOnly) && out.write(Layout) > 0;
}

// A worker that takes items and does nothing with them.
class IdleWorker : public TpzWorkBase {
public:
    using TpzWorkBase::TpzWorkBase;
    std::atomic<int> Items{0};

protected:
    void Process() override { ++Items; }
};

struct Timing {
    double Seconds = 0;
    double CpuSeconds = 0; // user + system, of every thread (or of the child process)
    long Items = 0;
};

double CpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Timing RunBatch(const QString& root, const QString& target, int threads)
{
    const double c0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = Clock::now();
    auto batch = std::make_unique<TpzBatch>();
    batch->Search(root + "/*.xls?", target, true);
    std::vector<std::shared_ptr<IdleWorker>> workers;
    for (int i = 0; i < threads; ++i) {
        workers.push_back(std::make_shared<IdleWorker>(batch.get()));
        workers.back()->Resume();
    }
    long processed = 0;
    if (threads == 0) { // the search alone
        batch->WaitFor();
        processed = batch->Count();
    }
    for (auto& w : workers) {
        while (!w->Finished()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        processed += w->Items.load();
    }
    const long listed = batch->Count();
    workers.clear();
    batch.reset(); // freeing the list is part of the run, as find's exit is part of find's
    const auto t1 = Clock::now();
    const double c1 = CpuSeconds(RUSAGE_SELF);
    if (processed != listed) {
        std::fprintf(stderr, "error: %ld items processed of %ld listed\n", processed, listed);
    }
    return {std::chrono::duration<double>(t1 - t0).count(), c1 - c0, processed};
}

// find with its output read through a pipe and counted, as a listing consumer would.
Timing RunFind(const QString& root)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const double c0 = CpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        const QByteArray dir = QFile::encodeName(root);
        execlp("find", "find", dir.constData(), "-iname", "*.xls?", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    long lines = 0;
    char buffer[1 << 16];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        lines += std::count(buffer, buffer + n, '\n');
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const auto t1 = Clock::now();
    return {std::chrono::duration<double>(t1 - t0).count(), CpuSeconds(RUSAGE_CHILDREN) - c0,
            lines};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString root = QStringLiteral("/tmp/tabulix-bench-listing");
    int runs = 3;
    int threads = 4;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            root = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--threads" && i + 1 < argc) {
            threads = std::max(0, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--dir DIR] [--runs N] [--threads N]\n", argv[0]);
            return 2;
        }
    }
    root = QDir::cleanPath(QDir(root).absolutePath());
    if (!MakeTree(root)) {
        std::fprintf(stderr, "error: cannot make the tree in %s\n", qPrintable(root));
        return 1;
    }
    const QString target = QDir::tempPath() + "/tabulix-bench-listing-out";

    // As the product runs: the file-name matcher exists and owner files are left out.
    TpzMatch match;
    pzMatch.store(&match);
    SkipOwnerFiles.store(true);

    Timing bestBatch{1e9, 1e9, 0};
    Timing bestFind{1e9, 1e9, 0};
    RunBatch(root, target, threads); // warm the caches for both
    for (int r = 0; r < runs; ++r) {
        const Timing b = RunBatch(root, target, threads);
        const Timing f = RunFind(root);
        bestBatch.Seconds = std::min(bestBatch.Seconds, b.Seconds);
        bestBatch.CpuSeconds = std::min(bestBatch.CpuSeconds, b.CpuSeconds);
        bestBatch.Items = b.Items;
        bestFind.Seconds = std::min(bestFind.Seconds, f.Seconds);
        bestFind.CpuSeconds = std::min(bestFind.CpuSeconds, f.CpuSeconds);
        bestFind.Items = f.Items;
    }
    pzMatch.store(nullptr);
    QDir(target).removeRecursively();

    const double batchRate = bestBatch.Items / bestBatch.Seconds;
    const double findRate = bestFind.Items / bestFind.Seconds;
    const double batchCpuRate = bestBatch.Items / bestBatch.CpuSeconds;
    const double findCpuRate = bestFind.Items / bestFind.CpuSeconds;
    std::printf("listing: %d files in %d folders, mask *.xls?, RegExt empty, best of %d runs\n",
                Folders * FilesPerFolder, Folders, runs);
    std::printf("  %-34s %6s %9s %13s %9s %16s\n", "", "items", "wall s", "items/s", "cpu s",
                "items/cpu s");
    const auto row = [](const char* name, const Timing& t, double rate, double cpuRate) {
        std::printf("  %-34s %6ld %9.3f %13.0f %9.3f %16.0f\n", name, t.Items, t.Seconds, rate,
                    t.CpuSeconds, cpuRate);
    };
    const QByteArray name = QStringLiteral("tabulix batch, %1 idle workers").arg(threads).toUtf8();
    row(name.constData(), bestBatch, batchRate, batchCpuRate);
    row("find DIR -iname '*.xls?'", bestFind, findRate, findCpuRate);
    std::printf("  ratio tabulix / find: %.2f by wall time, %.2f by processor time\n",
                batchRate / findRate, batchCpuRate / findCpuRate);
    // Wall times mean little on a busy machine; the load says how busy it was.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly)) {
        std::printf("  load average while measured: %s", load.readLine().constData());
    }
    return bestBatch.Items == bestFind.Items ? 0 : 1;
}
