// tabulix-bench-floor FILE [PART]
// Inflates one sheet part of an xlsx file and scans it with expat doing nothing else; prints
// the bytes and the seconds. PART defaults to the largest worksheet part.

#include <cstdio>
#include <exception>

#include "Floor.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: tabulix-bench-floor FILE [PART]\n", stderr);
        return 2;
    }
    try {
        const std::string part = argc == 3 ? argv[2] : bench::largestSheetPart(argv[1]);
        const auto result = bench::runFloor(argv[1], part);
        std::printf("%s %s: %llu bytes of XML in %.3f s\n", argv[1], part.c_str(),
                    static_cast<unsigned long long>(result.bytes), result.seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tabulix-bench-floor: %s\n", error.what());
        return 1;
    }
    return 0;
}
