#include "batch/VBScriptRegex.h"

#include <gtest/gtest.h>

using namespace VBScriptRegex;

namespace {

struct CompileErrorCase {
    const char* Pattern;
    int Code;
    const char* Message;
};

class CompileErrors : public testing::TestWithParam<CompileErrorCase> {};

TEST_P(CompileErrors, MapToTheVBScriptRowAndKeepTheFullCode)
{
    const auto& c = GetParam();
    auto regex = Regex::Compile(QString::fromUtf8(c.Pattern), 0);
    try {
        regex->IsMatch(QStringLiteral("abc"));
        FAIL() << "no error for " << c.Pattern;
    } catch (const ERegexException& e) {
        EXPECT_EQ(e.Message(), QString::fromUtf8(c.Message));
        EXPECT_EQ(e.ErrorCode(), MakeErrorCode(c.Code));
        EXPECT_EQ(static_cast<uint32_t>(e.ErrorCode()) >> 16, 0x800Au);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompileErrors,
    testing::Values(CompileErrorCase{"(", 5020, "Expected ')' in regular expression"},
                    CompileErrorCase{"a(b", 5020, "Expected ')' in regular expression"},
                    CompileErrorCase{"[abc", 5019, "Expected ']' in regular expression"},
                    CompileErrorCase{"[z-a]", 5021, "Invalid range in character set"},
                    CompileErrorCase{"*a", 5018, "Unexpected quantifier"},
                    CompileErrorCase{"a{3,1}", 5018, "Unexpected quantifier"},
                    CompileErrorCase{"a)", 5017, "Syntax error in regular expression"},
                    CompileErrorCase{"\\", 5017, "Syntax error in regular expression"}));

TEST(VBScriptErrorTable, HasTheFortyThreeRowsWithUniqueCodes)
{
    const auto& rows = VBScriptErrors();
    ASSERT_EQ(rows.size(), 43u);
    std::set<int32_t> codes;
    for (const auto& row : rows) {
        EXPECT_TRUE(codes.insert(row.Code).second) << row.Code;
    }
    EXPECT_EQ(VBScriptErrorMessage(MakeErrorCode(429)), "ActiveX component can't create object");
    EXPECT_EQ(VBScriptErrorMessage(MakeErrorCode(450)),
              "Wrong number of arguments or invalid property assignment");
}

TEST(ERegexExceptionTest, LowSixteenBitsChooseTheRowElseTheOwnMessage)
{
    const int32_t code = static_cast<int32_t>(0x800A139Du); // 5021
    ERegexException known(code, QStringLiteral("engine text"));
    EXPECT_EQ(known.Message(), "Invalid range in character set");
    EXPECT_EQ(known.ErrorCode(), code);

    const int32_t other = static_cast<int32_t>(0x80041234u);
    ERegexException unknown(other, QStringLiteral("engine text"));
    EXPECT_EQ(unknown.Message(), "engine text");
    EXPECT_EQ(unknown.ErrorCode(), other);
}

TEST(RegexTest, IsMatchHonoursIgnoreCaseAndFindsAnywhere)
{
    EXPECT_TRUE(Regex::IsMatch(QStringLiteral("xls$"), roIgnoreCase, QStringLiteral("/a/B.XLS")));
    EXPECT_FALSE(Regex::IsMatch(QStringLiteral("xls$"), 0, QStringLiteral("/a/B.XLS")));
    // Unicode case folding, not only ASCII.
    EXPECT_TRUE(
        Regex::IsMatch(QStringLiteral("ärger"), roIgnoreCase, QStringLiteral("/ÄRGER.xls")));
}

TEST(RegexTest, FollowsTheScriptDialect)
{
    // "$" is the very end, not before a final line break.
    EXPECT_FALSE(Regex::IsMatch(QStringLiteral("a$"), 0, QStringLiteral("a\n")));
    EXPECT_TRUE(Regex::IsMatch(QStringLiteral("a$"), roMultiline, QStringLiteral("a\nb")));
    // \u escapes, and [^] matching any character.
    EXPECT_TRUE(Regex::IsMatch(QStringLiteral("\\u00e9"), 0, QStringLiteral("caf\u00e9")));
    EXPECT_TRUE(Regex::IsMatch(QStringLiteral("a[^]b"), 0, QStringLiteral("a\nb")));
    // A back-reference to a group that did not take part matches the empty text.
    EXPECT_TRUE(Regex::IsMatch(QStringLiteral("^(?:(x)|y)\\1z$"), 0, QStringLiteral("yz")));
}

TEST(RegexTest, ReplaceTakesTheFirstMatchOnlyAndIsCaseSensitive)
{
    const QString pattern = QStringLiteral("^file:/*");
    EXPECT_EQ(Regex::Replace(pattern, QStringLiteral("file:///C:/x"), QString()), "C:/x");
    EXPECT_EQ(Regex::Replace(pattern, QStringLiteral("file:C:/x"), QString()), "C:/x");
    EXPECT_EQ(Regex::Replace(pattern, QStringLiteral("FILE:///C:/x"), QString()), "FILE:///C:/x");
    EXPECT_EQ(Regex::Replace(QStringLiteral("o"), QStringLiteral("foo"), QStringLiteral("0")),
              "f0o");
}

TEST(RegexTest, ReplacementTokens)
{
    auto r = Regex::Compile(QStringLiteral("(\\w+)@(\\w+)"), 0);
    const QString in = QStringLiteral("<ann@host>");
    EXPECT_EQ(r->Replace(in, QStringLiteral("$2:$1")), "<host:ann>");
    EXPECT_EQ(r->Replace(in, QStringLiteral("[$&]")), "<[ann@host]>");
    EXPECT_EQ(r->Replace(in, QStringLiteral("$`|$'")), "<<|>>");
    EXPECT_EQ(r->Replace(in, QStringLiteral("$$1 $3 $")), "<$1 $3 $>");
    // $10 with two groups is group 1 followed by "0".
    EXPECT_EQ(r->Replace(in, QStringLiteral("$10")), "<ann0>");
}

TEST(RegexTest, GlobalWalkAdvancesPastEmptyMatches)
{
    auto r = Regex::Compile(QStringLiteral("x*"), 0);
    EXPECT_EQ(r->ReplaceAll(QStringLiteral("abc"), QStringLiteral("-")), "-a-b-c-");
    auto digits = Regex::Compile(QStringLiteral("(\\d)(z)?"), 0);
    auto all = digits->MatchAll(QStringLiteral("a1b22"));
    ASSERT_EQ(all->Count(), 3);
    EXPECT_EQ(all->Item(0)->Value(), "1");
    EXPECT_EQ(all->Item(0)->FirstIndex(), 1);
    EXPECT_EQ(all->Item(2)->FirstIndex(), 4);
    EXPECT_EQ(all->Item(2)->Length(), 1);
    auto subs = all->Item(1)->SubMatches();
    ASSERT_EQ(subs->Count(), 2);
    EXPECT_EQ(subs->Item(0).toString(), "2");
    EXPECT_FALSE(subs->Item(1).isValid()); // group 2 took no part
    EXPECT_EQ(digits->Match(QStringLiteral("a1b22"))->Count(), 1);
    EXPECT_THROW(all->Item(3), ERegexException);
}

TEST(RegexTest, PropertiesReadBack)
{
    auto r = Regex::Compile(QStringLiteral("a+"), roIgnoreCase | roMultiline);
    EXPECT_EQ(r->Pattern(), "a+");
    EXPECT_TRUE(r->IgnoreCase());
    EXPECT_TRUE(r->Multiline());
    EXPECT_FALSE(Regex::Compile(QStringLiteral("a"), 0)->IgnoreCase());
}

} // namespace
