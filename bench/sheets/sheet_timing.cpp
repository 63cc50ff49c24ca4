// tabulix-bench-sheets [--runs N] [--keep DIR] FILE|FOLDER...
//
// Times the engine against its floor on the same workbooks, each in a process of its own so
// that the peak memory is that of the work alone:
//   floor:  inflate the largest worksheet part and scan it with expat doing nothing else;
//   engine: open the workbook and save its active sheet as text, as the converter does.
// A folder stands for the .xlsx files in it. Prints the best wall time of N runs (default 3),
// the peak resident memory and the ratio engine / floor.

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Floor.h"
#include "sheets/Workbook.h"

namespace {

struct Measure {
    double seconds = 0; // best wall time of the runs
    double cpu = 0;     // best user + system time of the runs (steadier on a busy machine)
    long peakKb = 0;    // largest of the runs
    bool failed = false;
};

// Runs work() in a child process; returns its wall time and peak memory.
Measure inChild(const std::function<void()>& work)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        double seconds = -1;
        try {
            const auto start = std::chrono::steady_clock::now();
            work();
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        }
        if (write(pipeFds[1], &seconds, sizeof seconds) != sizeof seconds) {
            _exit(1);
        }
        _exit(seconds < 0 ? 1 : 0);
    }
    close(pipeFds[1]);
    double seconds = -1;
    if (read(pipeFds[0], &seconds, sizeof seconds) != sizeof seconds) {
        seconds = -1;
    }
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = seconds;
    m.peakKb = usage.ru_maxrss;
    m.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.failed = seconds < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    return m;
}

Measure best(int runs, const std::function<void()>& work)
{
    Measure out;
    out.seconds = 1e300;
    out.cpu = 1e300;
    for (int i = 0; i < runs; ++i) {
        const Measure m = inChild(work);
        out.failed = out.failed || m.failed;
        out.seconds = std::min(out.seconds, m.seconds);
        out.cpu = std::min(out.cpu, m.cpu);
        out.peakKb = std::max(out.peakKb, m.peakKb);
    }
    return out;
}

void addFiles(const std::string& path, std::vector<std::string>& files)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "tabulix-bench-sheets: %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(2);
    }
    if (!S_ISDIR(info.st_mode)) {
        files.push_back(path);
        return;
    }
    std::vector<std::string> found;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".xlsx") {
                found.push_back(path);
                found.back() += '/';
                found.back() += name;
            }
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

void print(const char* what, const Measure& m, int runs)
{
    std::printf("%-36s wall %7.3f s, cpu %7.3f s (best of %d), peak %6.1f MB%s\n", what, m.seconds,
                m.cpu, runs, static_cast<double>(m.peakKb) / 1024.0, m.failed ? "  (FAILED)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    std::string keep;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else {
            addFiles(arg, files);
        }
    }
    if (files.empty()) {
        std::fputs("usage: tabulix-bench-sheets [--runs N] [--keep DIR] FILE|FOLDER...\n", stderr);
        return 2;
    }

    std::vector<std::string> parts;
    parts.reserve(files.size());
    for (const auto& file : files) {
        parts.push_back(bench::largestSheetPart(file));
    }
    char folderTemplate[] = "/tmp/tabulix-bench-XXXXXX";
    const std::string out = keep.empty() ? std::string(mkdtemp(folderTemplate)) : keep;

    std::uint64_t bytes = 0;
    const Measure floor = best(runs, [&] {
        for (std::size_t i = 0; i < files.size(); ++i) {
            bench::runFloor(files[i], parts[i]);
        }
    });
    for (std::size_t i = 0; i < files.size(); ++i) {
        bytes += bench::runFloor(files[i], parts[i]).bytes;
    }
    const Measure engine = best(runs, [&] {
        for (std::size_t i = 0; i < files.size(); ++i) {
            auto book = sheets::Workbook::open(files[i]);
            book->saveSheetAsText(book->activeSheet(), out + "/" + std::to_string(i) + ".txt");
        }
    });

    std::printf("%zu workbook(s), %.1f MB of sheet XML\n", files.size(),
                static_cast<double>(bytes) / 1e6);
    print("floor (inflate + expat scan):", floor, runs);
    print("engine (open + save sheet as text):", engine, runs);
    std::printf("engine / floor: wall %.2f, cpu %.2f\n", engine.seconds / floor.seconds,
                engine.cpu / floor.cpu);
    if (keep.empty()) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::remove((out + "/" + std::to_string(i) + ".txt").c_str());
        }
        rmdir(out.c_str());
    }
    return floor.failed || engine.failed ? 1 : 0;
}
