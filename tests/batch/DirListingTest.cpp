#include "platform/DirListing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace DirListing;

namespace {

struct MaskCase {
    const char* Mask;
    const char* Name;
    bool Expected;
};

class WildcardRules : public testing::TestWithParam<MaskCase> {};

TEST_P(WildcardRules, MatchLongNamesIgnoringCase)
{
    const auto& c = GetParam();
    EXPECT_EQ(WildcardMask(QString::fromUtf8(c.Mask)).Matches(QString::fromUtf8(c.Name)),
              c.Expected)
        << c.Mask << " vs " << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WildcardRules,
    testing::Values(
        // The product's mask: ".xls" plus one character or none.
        MaskCase{"*.xls?", "a.xls", true}, MaskCase{"*.xls?", "a.xlsx", true},
        MaskCase{"*.xls?", "A.XLSM", true}, MaskCase{"*.xls?", "a.xlsxx", false},
        MaskCase{"*.xls?", "a.xl", false}, MaskCase{"*.xls?", "a.b.xls", true},
        MaskCase{"*.xls?", "xls", false}, MaskCase{"*.xls", "book.xlsx", false},
        // "?" is one character, or none at the end or before a dot.
        MaskCase{"a?c", "abc", true}, MaskCase{"a?c", "ac", false},
        MaskCase{"ab?.txt", "ab.txt", true}, MaskCase{"ab??", "ab", true},
        MaskCase{"ab??", "abcde", false},
        // "*.*" lists everything, also names without a dot.
        MaskCase{"*.*", "folder", true}, MaskCase{"*.*", "a.b", true}, MaskCase{"*", "", true},
        MaskCase{"", "a", false},
        // No wildcard: the name itself, letter case ignored, Unicode included.
        MaskCase{"Book.xls", "book.XLS", true}, MaskCase{"\u00c4rger.xls", "\u00e4rger.xls", true},
        MaskCase{"[a].xls", "[a].xls", true}, MaskCase{"a*b*c", "axxbyyc", true},
        MaskCase{"a*b*c", "axxbyy", false}));

void Touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

std::set<QString> List(const QString& folder, const QString& mask, uint32_t requested,
                       std::map<QString, uint32_t>* attrs = nullptr)
{
    std::set<QString> names;
    Listing listing(folder, mask, requested);
    Entry e;
    while (listing.Next(e)) {
        names.insert(e.Name);
        if (attrs != nullptr) {
            (*attrs)[e.Name] = e.Attr;
        }
    }
    return names;
}

class ListingTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Root = Dir.path() + u'/';
        Touch(Root + "a.xls");
        Touch(Root + "b.XLSX");
        Touch(Root + ".hidden.xls");
        Touch(Root + "notes.txt");
        QDir(Root).mkdir("sub.xls"); // a folder that matches the mask
        QDir(Root).mkdir(".git");
        ASSERT_EQ(symlink((Root + "sub.xls").toUtf8().constData(),
                          (Root + "link.xls").toUtf8().constData()),
                  0);
        ASSERT_EQ(symlink((Root + "a.xls").toUtf8().constData(),
                          (Root + "filelink.xls").toUtf8().constData()),
                  0);
    }
    QTemporaryDir Dir;
    QString Root;
};

TEST_F(ListingTest, FilesPassLeavesOutFoldersAndHiddenUnlessRequested)
{
    EXPECT_EQ(List(Root, "*.xls?", 0x1ED), (std::set<QString>{"a.xls", "b.XLSX", "filelink.xls"}));
    EXPECT_EQ(List(Root, "*.xls?", 0x1EF),
              (std::set<QString>{"a.xls", "b.XLSX", "filelink.xls", ".hidden.xls"}));
}

TEST_F(ListingTest, FolderPassMarksLinksToFoldersAndSkipsHiddenFolders)
{
    std::map<QString, uint32_t> attrs;
    const auto names = List(Root, "*.*", faDirectory, &attrs);
    EXPECT_EQ(names, (std::set<QString>{"a.xls", "b.XLSX", "notes.txt", "sub.xls", "link.xls",
                                        "filelink.xls"}));
    EXPECT_EQ(attrs["sub.xls"] & (faDirectory | faSymLink), faDirectory);
    EXPECT_EQ(attrs["link.xls"] & (faDirectory | faSymLink), faDirectory | faSymLink);
    EXPECT_EQ(attrs["a.xls"] & faDirectory, 0u);
}

TEST_F(ListingTest, MissingFolderAndEmptyMaskYieldNothing)
{
    EXPECT_TRUE(List(Root + "missing/", "*.*", 0x1EF).empty());
    EXPECT_TRUE(List(Root, "", 0x1EF).empty());
}

TEST_F(ListingTest, EmptyFolderMeansTheCurrentFolder)
{
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Root));
    const auto names = List(QString(), "*.xls", 0x1EF);
    QDir::setCurrent(before);
    EXPECT_TRUE(names.count("a.xls"));
}

TEST_F(ListingTest, FileAttributesMapHiddenAndReadOnly)
{
    bool ok = false;
    EXPECT_EQ(FileAttributes(Root + ".hidden.xls", &ok) & faHidden, faHidden);
    EXPECT_TRUE(ok);
    QFile::setPermissions(Root + "a.xls", QFile::ReadOwner);
    if (geteuid() != 0) { // root may write anything
        EXPECT_EQ(FileAttributes(Root + "a.xls") & faReadOnly, faReadOnly);
    }
    EXPECT_EQ(FileAttributes(Root + "sub.xls") & faDirectory, faDirectory);
    FileAttributes(Root + "none", &ok);
    EXPECT_FALSE(ok);
}

} // namespace
