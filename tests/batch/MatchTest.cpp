#include "batch/TpzMatch.h"
#include "batch/pzBatch.h"

#include <gtest/gtest.h>

namespace {

TEST(WildcardToRegexTest, EscapesAndAnchorsAtTheEnd)
{
    EXPECT_EQ(WildcardToRegex("*.xls?"), ".*\\.xls.?$");
    EXPECT_EQ(WildcardToRegex("*.xls?").size(), 10);
    EXPECT_EQ(WildcardToRegex(""), "$");
    EXPECT_EQ(WildcardToRegex("report(1)[a].xls"), "report\\(1\\)\\[a\\]\\.xls$");
    EXPECT_EQ(WildcardToRegex("a+b^c$d{2}"), "a\\+b\\^c\\$d\\{2\\}$");
    // A backslash, a bar, a hyphen and blanks are copied as they are.
    EXPECT_EQ(WildcardToRegex("a\\b|c-d e"), "a\\b|c-d e$");
}

struct AcceptCase {
    const char* Mask;
    const char* RegExt;
    const char* Path;
    bool Expected;
};

class AcceptRule : public testing::TestWithParam<AcceptCase> {};

// The filter's rule, as the batch applies it: the mask's expression, then RegExt, both on the
// full path with letter case ignored.
TEST_P(AcceptRule, MaskThenRegExtOnTheFullPath)
{
    const auto& c = GetParam();
    TpzMatch match;
    bool r = match.Matches(QString::fromUtf8(c.Path), WildcardToRegex(QString::fromUtf8(c.Mask)));
    if (r && *c.RegExt != 0) {
        r = match.Matches(QString::fromUtf8(c.Path), QString::fromUtf8(c.RegExt));
    }
    EXPECT_EQ(r, c.Expected) << c.Mask << " / " << c.RegExt << " / " << c.Path;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AcceptRule,
    testing::Values(AcceptCase{"*.xls?", "", "/data/a.xls", true},
                    AcceptCase{"*.xls?", "", "/data/a.XLSX", true},
                    AcceptCase{"*.xls?", "", "/data/a.xlsm", true},
                    AcceptCase{"*.xls?", "", "/data/a.xlsxx", false},
                    AcceptCase{"*.xls", "", "/data/book.xlsx", false},
                    // No start anchor: the "a" of "data" starts the match.
                    AcceptCase{"a*.xls", "", "/data/b.xls", true},
                    AcceptCase{"", "", "/data/anything", true},
                    AcceptCase{"*.xls?", "2019", "/data/2019/x.xls", true},
                    AcceptCase{"*.xls?", "2019", "/data/report2019.xls", true},
                    AcceptCase{"*.xls?", "2019", "/data/x.xls", false},
                    AcceptCase{"*.xls?", "^/data/[^/]*$", "/data/x.xls", true},
                    AcceptCase{"*.xls?", "^/data/[^/]*$", "/data/sub/x.xls", false},
                    // An expression that does not compile lets every file through.
                    AcceptCase{"*.xls?", "(", "/data/x.xls", true},
                    AcceptCase{"*.xls?", "(", "/data/x.doc", false}));

TEST(MatchBaseTest, AcceptsEverything)
{
    TpzMatchBase base;
    EXPECT_TRUE(base.Matches("/x.doc", "\\.xls$"));
}

TEST(MatchTest, CachedExpressionsStillAnswerPerPattern)
{
    // The per-thread cache holds a few expressions; cycling through more than it holds must
    // still give each pattern's own answer.
    TpzMatch match;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 6; ++i) {
            const QString pattern = QStringLiteral("n%1$").arg(i);
            EXPECT_TRUE(match.Matches(QStringLiteral("/x/n%1").arg(i), pattern));
            EXPECT_FALSE(match.Matches(QStringLiteral("/x/n%1").arg(i + 1), pattern));
        }
    }
}

} // namespace
