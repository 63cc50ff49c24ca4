#include "platform/TextFile.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

TEST(SplitLines, EveryLineBreakKindAndNul)
{
    struct Case {
        QString text;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}}, // LF then CR are two breaks
        {"\r\n", {""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {QString::fromUtf16(u"a\nb\0c\nd", 7), {"a", "b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitLines(c.text), c.lines) << c.text.toStdString();
    }
}

TEST(DecodeFileText, ByteOrderMarksSelectTheEncoding)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
    };
    const QString expected = QString::fromUtf8("Zoë=1");
    const Case cases[] = {
        {"utf-8 mark", QByteArray("\xEF\xBB\xBFZo\xC3\xAB=1"), expected},
        {"utf-16le mark",
         QByteArray("\xFF\xFEZ\0o\0\xEB\0=\0"
                    "1\0",
                    12),
         expected},
        {"utf-16be mark",
         QByteArray("\xFE\xFF\0Z\0o\0\xEB\0=\0"
                    "1",
                    12),
         expected},
        {"no mark, utf-8 locale", QByteArray("Zo\xC3\xAB=1"), expected},
        {"nul ends the text", QByteArray("Zo\xC3\xAB=1\0rest", 11), expected},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeFileText(c.bytes, "UTF-8"), c.text) << c.name;
    }
}

TEST(DecodeFileText, UnmarkedTextUsesTheNamedCharset)
{
    EXPECT_EQ(DecodeFileText(QByteArray("caf\xE9"), "ISO-8859-1"), QString::fromUtf8("café"));
    EXPECT_EQ(DecodeFileText(QByteArray("\x80"), "CP1252"), QString::fromUtf8("€"));
    // Bytes that are not UTF-8 are shown as replacement characters, never dropped silently.
    EXPECT_EQ(DecodeFileText(QByteArray("a\xFF"
                                        "b"),
                             "UTF-8"),
              QString::fromUtf8("a\uFFFDb"));
}

TEST(EncodeText, CharactersTheCharsetLacksBecomeQuestionMarks)
{
    EXPECT_EQ(EncodeText(QString::fromUtf8("café €"), "ISO-8859-1"), QByteArray("caf\xE9 ?"));
    EXPECT_EQ(EncodeText(QString::fromUtf8("€"), "CP1252"), QByteArray("\x80"));
    EXPECT_EQ(EncodeText(QString::fromUtf8("a😀b"), "ISO-8859-1"), QByteArray("a??b"));
    EXPECT_EQ(EncodeText(QString::fromUtf8("é😀"), "UTF-8"), QByteArray("\xC3\xA9\xF0\x9F\x98\x80"));
}

TEST(LocaleCharset, IsNeverPlainAscii)
{
    const QByteArray charset = LocaleCharset();
    EXPECT_FALSE(charset.isEmpty());
    EXPECT_NE(charset, "ANSI_X3.4-1968");
}

class TextFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(TextFileTest, WritesCrLfAfterEveryLineWithoutMark)
{
    const QString path = Path("p.txt");
    WriteTextFile(path, {"Source=/in/*.xls?", "", QString::fromUtf8("Target=/out/é")});
    EXPECT_EQ(ReadBytes(path), QByteArray("Source=/in/*.xls?\r\n\r\nTarget=/out/\xC3\xA9\r\n"));
    EXPECT_EQ(ReadTextFile(path),
              QStringList({"Source=/in/*.xls?", "", QString::fromUtf8("Target=/out/é")}));
}

TEST_F(TextFileTest, ReplacesALongerFileWhole)
{
    const QString path = Path("p.txt");
    WriteBytes(path, QByteArray(1000, 'x'));
    WriteTextFile(path, {"a"});
    EXPECT_EQ(ReadBytes(path), QByteArray("a\r\n"));
    WriteTextFile(path, {});
    EXPECT_EQ(ReadBytes(path), QByteArray());
}

TEST_F(TextFileTest, MarkedFileIsReadAndWrittenBackUnmarked)
{
    const QString path = Path("p.txt");
    WriteBytes(path, QByteArray("\xEF\xBB\xBFSource=\xC3\xA9\r\nSubdir=1"));
    const QStringList lines = ReadTextFile(path);
    EXPECT_EQ(lines, QStringList({QString::fromUtf8("Source=é"), "Subdir=1"}));
    WriteTextFile(path, lines);
    EXPECT_EQ(ReadBytes(path), QByteArray("Source=\xC3\xA9\r\nSubdir=1\r\n"));
}

TEST_F(TextFileTest, FailuresNameTheFile)
{
    const QString missingFolder = Path("no/such/folder/p.txt");
    try {
        WriteTextFile(missingFolder, {"a"});
        FAIL() << "writing into a missing folder succeeded";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(missingFolder)) << error.Message().toStdString();
    }
    EXPECT_FALSE(QDir(Path("no")).exists()) << "the folder must not be created";

    const QString missingFile = Path("missing.txt");
    try {
        ReadTextFile(missingFile);
        FAIL() << "reading a missing file succeeded";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(missingFile)) << error.Message().toStdString();
    }
    // A folder in the place of the file cannot be written either.
    ASSERT_TRUE(QDir().mkpath(Path("folder")));
    EXPECT_THROW(WriteTextFile(Path("folder"), {"a"}), Exception);
}
