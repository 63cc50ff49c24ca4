// tabulix-sheets FILE [--sheet N | --all | --list]
//
// Writes a workbook's sheet as tab-delimited text to standard output, as the converter saves
// it: the active sheet by default, sheet N (counted from 1) with --sheet, every visible
// worksheet with --all (a line holding one form feed between two sheets). --list prints the
// sheets instead. Messages go to standard error; the exit code is 0 on success, 1 when the
// workbook cannot be converted and 2 for a wrong command line.

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "sheets/Error.h"
#include "sheets/Workbook.h"

namespace {

constexpr const char* kUsage =
    "usage: tabulix-sheets FILE [--sheet N | --all | --list]\n"
    "  Writes the active sheet of the workbook FILE (.xlsx, .xlsm, .xltx, .xltm, .xls) as\n"
    "  tab-delimited text to standard output, in the locale's character set.\n"
    "  --sheet N  the N-th sheet instead, counted from 1\n"
    "  --all      every visible worksheet, a line with one form feed between two sheets\n"
    "  --list     the sheets: number, kind, visibility, name; the active one marked with *\n";

int usage(const char* problem)
{
    if (problem != nullptr) {
        std::fprintf(stderr, "tabulix-sheets: %s\n", problem);
    }
    std::fputs(kUsage, problem != nullptr ? stderr : stdout);
    return problem != nullptr ? 2 : 0;
}

const char* kindName(sheets::SheetKind kind)
{
    switch (kind) {
    case sheets::SheetKind::Worksheet:
        return "worksheet";
    case sheets::SheetKind::Chart:
        return "chart";
    case sheets::SheetKind::Macro:
        return "macro";
    case sheets::SheetKind::Dialog:
        return "dialog";
    case sheets::SheetKind::Other:
        break;
    }
    return "other";
}

const char* visibilityName(sheets::Visibility visibility)
{
    switch (visibility) {
    case sheets::Visibility::Visible:
        return "visible";
    case sheets::Visibility::Hidden:
        return "hidden";
    case sheets::Visibility::VeryHidden:
        break;
    }
    return "very-hidden";
}

// The text goes to a temporary file first (a sheet's layout may be rewritten while it is
// worked out), then to standard output, which may be a pipe.
void copyToStdout(std::FILE* file)
{
    std::rewind(file);
    char buffer[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            throw sheets::Error(std::string("Cannot write the standard output: ") +
                                std::strerror(errno));
        }
    }
    if (std::fflush(stdout) != 0) {
        throw sheets::Error(std::string("Cannot write the standard output: ") +
                            std::strerror(errno));
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string file;
    long long sheet = 0;
    bool all = false;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return usage(nullptr);
        }
        if (arg == "--all") {
            all = true;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--sheet") {
            if (++i >= argc) {
                return usage("--sheet needs a number");
            }
            const std::string_view number = argv[i];
            const auto [end, ec] =
                std::from_chars(number.data(), number.data() + number.size(), sheet);
            if (ec != std::errc() || end != number.data() + number.size() || sheet < 1) {
                return usage("--sheet needs a number from 1 on");
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return usage(("unknown option " + std::string(arg)).c_str());
        } else if (file.empty()) {
            file = arg;
        } else {
            return usage("only one file, please");
        }
    }
    if (file.empty()) {
        return usage("which file?");
    }
    if (static_cast<int>(all) + static_cast<int>(list) + static_cast<int>(sheet > 0) > 1) {
        return usage("--sheet, --all and --list exclude each other");
    }

    try {
        auto book = sheets::Workbook::open(file);
        if (list) {
            const auto& infos = book->sheets();
            for (std::size_t i = 0; i < infos.size(); ++i) {
                std::printf("%zu%s\t%s\t%s\t%s\n", i + 1, i == book->activeSheet() ? "*" : "",
                            kindName(infos[i].kind), visibilityName(infos[i].visibility),
                            infos[i].name.c_str());
            }
            return 0;
        }
        std::vector<std::size_t> indices;
        if (all) {
            indices = book->visibleWorksheets();
        } else if (sheet > 0) {
            if (static_cast<unsigned long long>(sheet) > book->sheetCount()) {
                throw book->noSuchSheet(sheet);
            }
            indices.push_back(static_cast<std::size_t>(sheet - 1));
        } else {
            indices.push_back(book->activeSheet());
        }
        std::FILE* temporary = std::tmpfile();
        if (temporary == nullptr) {
            throw sheets::Error(std::string("Cannot create a temporary file: ") +
                                std::strerror(errno));
        }
        try {
            book->writeText(indices, fileno(temporary), "the standard output");
            copyToStdout(temporary);
        } catch (...) {
            std::fclose(temporary);
            throw;
        }
        std::fclose(temporary);
    } catch (const sheets::Error& error) {
        std::fprintf(stderr, "tabulix-sheets: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tabulix-sheets: %s\n", error.what());
        return 1;
    }
    return 0;
}
