#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

TEST(Paths, ChangeFileExt)
{
    struct Case {
        QString path;
        QString ext;
        QString result;
    };
    const Case cases[] = {
        {"/opt/tools/conv.exe", ".batch-morvel", "/opt/tools/conv.batch-morvel"},
        {"/opt/tools/tabulix", ".ext", "/opt/tools/tabulix.ext"}, // no extension: appended
        {"/opt/tools.d/tabulix", ".ext", "/opt/tools.d/tabulix.ext"},
        {"/opt/a.b.c", ".pdf", "/opt/a.b.pdf"},
        {"/opt/.hidden", ".ext", "/opt/.hidden.ext"},
        {"tabulix", ".ext", "tabulix.ext"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.result) << c.path.toStdString();
    }
}

TEST(Paths, FolderAndNameParts)
{
    EXPECT_EQ(ExtractFilePath("/in/sub/a.xls"), "/in/sub/");
    EXPECT_EQ(ExtractFilePath("a.xls"), "");
    EXPECT_EQ(ExtractFileName("/in/sub/a.xls"), "a.xls");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/out/"), "/out/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/out//"), "/out");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Paths, ForceDirectoriesCreatesParents)
{
    QTemporaryDir dir;
    const QString nested = dir.filePath("a/b/c");
    EXPECT_TRUE(ForceDirectories(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_TRUE(ForceDirectories(nested)); // existing: fine
    EXPECT_FALSE(ForceDirectories(""));
}
