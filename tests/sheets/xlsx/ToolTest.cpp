// tabulix-sheets as people and pipes use it: what goes to standard output, standard error and
// the exit code.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "SheetText.h"

namespace {

using testing_sheets::fixture;
using testing_sheets::readFile;

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun run(const std::string& arguments, const std::string& environment = "")
{
    char outName[] = "/tmp/tabulix-tool-out-XXXXXX";
    char errName[] = "/tmp/tabulix-tool-err-XXXXXX";
    const int outFd = ::mkstemp(outName);
    const int errFd = ::mkstemp(errName);
    ::close(outFd);
    ::close(errFd);
    const std::string command = environment + " '" + std::string(TOOL) + "' " + arguments + " >" +
                                outName + " 2>" + errName;
    const int status = std::system(command.c_str());
    ToolRun result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outName),
                   readFile(errName)};
    std::remove(outName);
    std::remove(errName);
    return result;
}

TEST(Tool, WritesTheActiveSheetByDefault)
{
    const ToolRun r = run("'" + fixture("sheets.xlsx") + "'");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "z\t\n\t\n\tend\n");
    EXPECT_EQ(r.err, "");
}

TEST(Tool, SheetNumberAllAndList)
{
    const std::string book = "'" + fixture("sheets.xlsx") + "'";
    EXPECT_EQ(run(book + " --sheet 2").out, "secret\n");
    EXPECT_EQ(run("--all " + book).out, "a\t1\n\f\nz\t\n\t\n\tend\n");
    EXPECT_EQ(run(book + " --list").out,
              "1\tworksheet\tvisible\tFirst\n2\tworksheet\thidden\tHidden\n"
              "3\tchart\tvisible\tChart\n4*\tworksheet\tvisible\tLast\n");
}

TEST(Tool, FailuresGoToStandardErrorWithExitCodes)
{
    const ToolRun outOfRange = run("'" + fixture("sheets.xlsx") + "' --sheet 9");
    EXPECT_EQ(outOfRange.code, 1);
    EXPECT_EQ(outOfRange.out, "");
    EXPECT_EQ(outOfRange.err,
              "tabulix-sheets: Sheet 9 does not exist: the workbook has 4 sheets\n");

    const ToolRun damaged = run("'" + fixture("badxml.xlsx") + "'");
    EXPECT_EQ(damaged.code, 1);
    EXPECT_EQ(damaged.out, ""); // nothing half-written reaches the pipe
    EXPECT_NE(damaged.err.find("is damaged: xl/worksheets/sheet1.xml, line 4"), std::string::npos);

    EXPECT_EQ(run("").code, 2);
    EXPECT_EQ(run("a.xlsx --sheet x").code, 2);
    EXPECT_EQ(run("a.xlsx --all --list").code, 2);
    EXPECT_EQ(run("a.xlsx --bogus").code, 2);
    EXPECT_EQ(run("--help").code, 0);
}

// The C locale counts as UTF-8, as it does for Qt 6: nothing is lost in a plain environment.
TEST(Tool, CLocaleWritesUtf8)
{
    const ToolRun r = run("'" + fixture("types.xlsx") + "'", "LC_ALL=C LANG=C");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\tZ\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80\t"),
              std::string::npos);
}

} // namespace
