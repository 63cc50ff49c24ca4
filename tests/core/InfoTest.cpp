// Product information: the usage store, links and the error handler.

#include "TestSupport.h"
#include "core/TpzApp.h"
#include "core/TpzFileUtils.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/FileTime.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>
#include <stdexcept>

namespace {

class Info : public ::testing::Test {
protected:
    TempExe exe;
    OpenedLinks opened;
    std::unique_ptr<TpzProcess> process;

    void Start()
    {
        process.reset();
        process = std::make_unique<TpzProcess>(exe.Exe(), "");
        ASSERT_TRUE(process->StartUp());
    }
    void TearDown() override { process.reset(); }

    QString StoreFile() const { return exe.Path("tabulix.ext"); }
    QString Site() const { return QLatin1String(TpzInfo::WebSite); }
    QString Stamp() const { return QString::number(pzInfo->Stamp()); }

    // The store text as the file holds it, decoded with the folder's stamp.
    QStringList StoreOnDisk() const
    {
        QString text;
        const int32_t stamp = platform::PackDosDateTime(*platform::BirthTime(exe.Folder()));
        if (!TpzInfo::DecodeStore(TpzFileUtils::ReadText(StoreFile(), 2), stamp, &text)) {
            return {"(does not decode)"};
        }
        return platform::SplitLines(text);
    }
};

} // namespace

TEST_F(Info, FirstStartCreatesTheStore)
{
    ASSERT_FALSE(QFileInfo::exists(StoreFile()));
    Start();
    EXPECT_EQ(pzInfo->StoreLines(), QStringList({"v=2", "R=1"}));
    EXPECT_EQ(StoreOnDisk(), QStringList({"v=2", "R=1"}));
    EXPECT_NE(pzInfo->Stamp(), -1) << "a fresh folder has a birth time";
}

TEST_F(Info, EveryStartCountsOneMore)
{
    Start();
    Start();
    Start();
    EXPECT_EQ(pzInfo->StoreValue("R"), "3");
    process.reset();
    EXPECT_EQ(StoreOnDisk(), QStringList({"v=2", "R=3"}));
}

TEST_F(Info, AddCountSetsOrIncrements)
{
    Start();
    pzInfo->AddCount("C", 0, 1);
    pzInfo->AddCount("C", 0, 1);
    pzInfo->AddCount("A", 0, 40);
    pzInfo->AddCount("A", 0, 2);
    pzInfo->AddCount("S", 0, 0);  // adding 0 to a missing counter creates it
    pzInfo->AddCount("W", 16, 1); // a positive value is set as it is
    pzInfo->AddCount("W", 15, 1);
    pzInfo->SetStoreValue("F", "junk");
    pzInfo->AddCount("F", 0, 3); // a counter that is no number starts from 0
    EXPECT_EQ(pzInfo->StoreLines(),
              QStringList({"v=2", "R=1", "C=2", "A=42", "S=0", "W=15", "F=3"}));
    EXPECT_EQ(StoreOnDisk(), pzInfo->StoreLines()) << "every change is saved at once";
}

TEST_F(Info, StoreCodecRoundTripAndItsChecks)
{
    const QString text = "v=2\r\nR=12\r\nC=5\r\n";
    const QString encoded = TpzInfo::EncodeStore(text, 0x4F2A1B3C);
    EXPECT_TRUE(encoded.startsWith("4F2A1B3C"));
    EXPECT_EQ(encoded.size(), 8 + 3 * text.size() + 8);
    QString decoded;
    ASSERT_TRUE(TpzInfo::DecodeStore(encoded, 0x4F2A1B3C, &decoded));
    EXPECT_EQ(decoded, text);
    EXPECT_FALSE(encoded.contains("R=12")) << "the body is scrambled";
    EXPECT_NE(TpzInfo::EncodeStore(text, 0x4F2A1B3D).mid(8, 12), encoded.mid(8, 12))
        << "another key scrambles differently";

    QString lastChanged = encoded;
    lastChanged[lastChanged.size() - 1] = lastChanged.back() == u'0' ? u'1' : u'0';
    QString bodyChanged = encoded;
    bodyChanged[10] = bodyChanged[10] == u'0' ? u'1' : u'0';
    const QString bad[] = {
        "",
        encoded.left(15),
        encoded.left(encoded.size() - 1),
        lastChanged,
        bodyChanged,
        TpzInfo::EncodeStore(text, 0x11111111),
        QString(encoded).replace(8, 3, "GGG"),
        "4F2A1B3C" + QString("FFF") + "00000000", // a group above 255
    };
    for (const QString& fileText : bad) {
        EXPECT_FALSE(TpzInfo::DecodeStore(fileText, 0x4F2A1B3C, &decoded))
            << fileText.toStdString();
    }
    EXPECT_TRUE(TpzInfo::DecodeStore(TpzInfo::EncodeStore("", -1), -1, &decoded));
    EXPECT_EQ(decoded, "");
}

TEST_F(Info, ATamperedOrForeignStoreRestartsTheCounters)
{
    Start();
    Start();
    process.reset();
    QString fileText = TpzFileUtils::ReadText(StoreFile(), 2);
    fileText[fileText.size() - 3] = fileText[fileText.size() - 3] == u'A' ? u'B' : u'A';
    TpzFileUtils::WriteText(StoreFile(), fileText, 2, false);
    Start();
    EXPECT_EQ(pzInfo->StoreLines(), QStringList({"v=2", "R=1"}));

    // A store written for another install stamp does not decode here.
    process.reset();
    TpzFileUtils::WriteText(StoreFile(), TpzInfo::EncodeStore("R=50\r\n", 0x12345678), 2, false);
    Start();
    EXPECT_EQ(pzInfo->StoreValue("R"), "1");
}

TEST_F(Info, GarbageStoreFilesGiveAnEmptyStore)
{
    QRandomGenerator random(7);
    QByteArray noise(999, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(random.bounded(256));
    }
    const QByteArray garbage[] = {noise, QByteArray(), QByteArray("x"), QByteArray(64, '0'),
                                  QByteArray(17, '\xFF')};
    for (const QByteArray& bytes : garbage) {
        process.reset();
        WriteBytes(StoreFile(), bytes);
        Start();
        EXPECT_EQ(pzInfo->StoreLines(), QStringList({"v=2", "R=1"}));
    }
    // A store that decodes but holds no "R" is not taken either.
    process.reset();
    const int32_t stamp = platform::PackDosDateTime(*platform::BirthTime(exe.Folder()));
    TpzFileUtils::WriteText(StoreFile(), TpzInfo::EncodeStore("C=9\r\n", stamp), 2, false);
    Start();
    EXPECT_EQ(pzInfo->StoreLines(), QStringList({"v=2", "R=1"}));
}

TEST_F(Info, AStoreThatCannotBeWrittenKeepsCountingInMemory)
{
    // A folder in the store's place cannot be written, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(StoreFile()));
    Start();
    pzInfo->AddCount("C", 0, 1);
    pzInfo->AddCount("C", 0, 1);
    EXPECT_EQ(pzInfo->StoreValue("R"), "1");
    EXPECT_EQ(pzInfo->StoreValue("C"), "2");
    EXPECT_NO_THROW(process.reset());
}

TEST_F(Info, HomeAndCheckUpdateLinks)
{
    Start();
    pzInfo->OpenLink("", "", "");
    pzInfo->OpenLink("download", "", "");
    ASSERT_EQ(opened.Links().size(), 2);
    EXPECT_EQ(opened.Links().at(0), Site() + "?p=morvel&v=2019.11.215.1520&c=r1&i=" + Stamp());
    EXPECT_EQ(opened.Links().at(1),
              Site() + "/en/morvel/download.htm?p=morvel&v=2019.11.215.1520&c=r1&i=" + Stamp());
}

TEST_F(Info, CountersTravelInStoreOrder)
{
    Start();
    pzInfo->AddCount("R", 12, 0);
    pzInfo->AddCount("C", 5, 0);
    pzInfo->AddCount("A", 40, 0);
    pzInfo->SetStoreValue("+", "0");
    EXPECT_TRUE(pzInfo->LinkFor("", "", "").contains("&c=r12c5a40&"));
}

TEST_F(Info, SupportMail)
{
    Start();
    pzProject->SetTitle("Tabulix & Co & Friends");
    pzInfo->OpenLink("supports", "", "");
    ASSERT_EQ(opened.Links().size(), 1);
    const QUrl mail(opened.Links().at(0));
    EXPECT_EQ(mail.scheme(), "mailto");
    EXPECT_EQ(mail.path(), QLatin1String(TpzInfo::SupportMail));
    EXPECT_EQ(QUrlQuery(mail).queryItemValue("subject", QUrl::FullyDecoded),
              "Support required for Tabulix And Co & Friends 2019.11.215.1520 - " + Stamp());
}

TEST_F(Info, HelpIsTheChmElseThePdf)
{
    Start();
    pzInfo->OpenLink("h", "", "");
    WriteBytes(exe.Path("tabulix.chm"), "help");
    pzInfo->OpenLink("h", "", "");
    EXPECT_EQ(opened.Links(), QStringList({exe.Path("tabulix.pdf"), exe.Path("tabulix.chm")}));
}

TEST_F(Info, ErrorNoticeCannotBeTurnedByItsMessage)
{
    Start();
    const QString message = QString::fromUtf8("Bad \"file\" a&c=evil#x 100% +1 why? é\r\n");
    pzInfo->OpenLink("", "err&e=" + message, "");
    ASSERT_EQ(opened.Links().size(), 1);
    const QString link = opened.Links().at(0);
    EXPECT_TRUE(link.startsWith(Site() + "/net/?a=err&e=Bad%20file%20a%26c=evil%23x%20100%25%20"
                                         "%2B1%20why%3F%20%C3%A9%0D%0A&p=morvel&"))
        << link.toStdString();
    const QUrlQuery query{QUrl(link)};
    EXPECT_EQ(query.queryItemValue("e", QUrl::FullyDecoded),
              QString::fromUtf8("Bad file a&c=evil#x 100% +1 why? é\r\n"));
    EXPECT_EQ(query.queryItemValue("c"), "r1") << "the message brought no counters of its own";
    EXPECT_EQ(query.allQueryItemValues("a"), QStringList({"err"}));
}

TEST_F(Info, InstallNoticeKeepsTheCallersFragment)
{
    Start();
    pzInfo->OpenLink("", "ins", "src=setup&lang=en us");
    ASSERT_EQ(opened.Links().size(), 1);
    EXPECT_EQ(opened.Links().at(0), Site() + "/net/?a=ins&p=morvel&v=2019.11.215.1520&c=r1&i=" +
                                        Stamp() + "&src=setup&lang=en%20us");
}

TEST_F(Info, QuietFlagSilencesNoticesOnly)
{
    Start();
    pzInfo->SetStoreValue("+", "True");
    EXPECT_TRUE(pzInfo->IsQuiet());
    pzInfo->AppException(nullptr, std::runtime_error("boom"));
    pzInfo->OpenLink("", "uni", "");
    EXPECT_TRUE(opened.Links().isEmpty());
    EXPECT_EQ(pzInfo->StoreValue("E"), "1") << "the error is still counted";
    pzInfo->OpenLink("download", "", "");
    pzInfo->OpenLink("", "", "");
    EXPECT_EQ(opened.Links().size(), 2) << "pages and the home page still open";

    for (const char* notQuiet : {"0", "False", "maybe", ""}) {
        pzInfo->SetStoreValue("+", notQuiet);
        EXPECT_FALSE(pzInfo->IsQuiet()) << notQuiet;
    }
}

TEST_F(Info, UnhandledErrorsAreCountedAndNoticed)
{
    Start();
    pzInfo->AppException(nullptr, Exception("Cannot open \"a b.xls\""));
    pzInfo->AppException(nullptr, std::runtime_error("plain"));
    EXPECT_EQ(pzInfo->StoreValue("E"), "2");
    ASSERT_EQ(opened.Links().size(), 2);
    EXPECT_TRUE(
        opened.Links().at(0).startsWith(Site() + "/net/?a=err&e=Cannot%20open%20a%20b.xls&"));
    EXPECT_TRUE(opened.Links().at(1).startsWith(Site() + "/net/?a=err&e=plain&"));
}

TEST(FileUtils, FileDosTime)
{
    TempExe exe;
    const QString file = exe.Path("a.txt");
    WriteBytes(file, "x");
    QFile handle(file);
    ASSERT_TRUE(handle.open(QIODevice::ReadWrite));
    ASSERT_TRUE(handle.setFileTime(QDateTime(QDate(2019, 11, 15), QTime(15, 20, 8), Qt::UTC),
                                   QFileDevice::FileModificationTime));
    handle.close();
    EXPECT_EQ(TpzFileUtils::FileDosTime(file, false, true),
              static_cast<int32_t>((((2019 - 1980) << 9 | 11 << 5 | 15) << 16) |
                                   (15 << 11 | 20 << 5 | 4)));
    const QDateTime local = QDateTime(QDate(2019, 11, 15), QTime(15, 20, 8), Qt::UTC).toLocalTime();
    EXPECT_EQ(TpzFileUtils::FileDosTime(file, false, false), platform::PackDosDateTime(local));
    EXPECT_NE(TpzFileUtils::FileDosTime(exe.Folder(), true, true), -1);
    EXPECT_NE(TpzFileUtils::FileDosTime(exe.Folder(), false, true), -1);
    EXPECT_EQ(TpzFileUtils::FileDosTime(exe.Path("missing"), true, true), -1);
}

TEST(FileUtils, ReadText)
{
    TempExe exe;
    const QString path = exe.Path("t.bin");
    WriteBytes(path, "");
    EXPECT_EQ(TpzFileUtils::ReadText(path, 2), "");
    WriteBytes(path, QByteArray("a\0b\0\xAC\x20", 6));
    EXPECT_EQ(TpzFileUtils::ReadText(path, 2), QString::fromUtf8("ab€"));
    WriteBytes(path, QByteArray("a\0b", 3));
    EXPECT_EQ(TpzFileUtils::ReadText(path, 2), "a") << "an odd last byte is dropped";
    WriteBytes(path, QByteArray("\xE9z", 2));
    EXPECT_EQ(TpzFileUtils::ReadText(path, 1), QString::fromUtf8("éz"));
    try {
        TpzFileUtils::ReadText(exe.Path("missing"), 2);
        FAIL();
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(exe.Path("missing")));
    }
}

TEST(FileUtils, WriteText)
{
    TempExe exe;
    const QString path = exe.Path("t.bin");
    WriteBytes(path, QByteArray(50, 'x'));
    TpzFileUtils::WriteText(path, "ab", 2, false);
    EXPECT_EQ(ReadBytes(path), QByteArray("a\0b\0", 4)) << "exactly the new bytes";
    TpzFileUtils::WriteText(path, QString::fromUtf8("€"), 2, true);
    EXPECT_EQ(ReadBytes(path), QByteArray("a\0b\0\xAC\x20", 6));
    TpzFileUtils::WriteText(path, QString::fromUtf8("é"), 1, true);
    EXPECT_EQ(ReadBytes(path), QByteArray("a\0b\0\xAC\x20\xE9", 7));
    TpzFileUtils::WriteText(path, "", 2, false);
    EXPECT_EQ(ReadBytes(path), QByteArray());

    const QString nested = exe.Path("new/deeper/t.bin");
    TpzFileUtils::WriteText(nested, "z", 2, false);
    EXPECT_EQ(ReadBytes(nested), QByteArray("z\0", 2)) << "missing folders are created";

    WriteBytes(exe.Path("plain"), "x");
    EXPECT_THROW(TpzFileUtils::WriteText(exe.Path("plain/t.bin"), "z", 2, false), Exception);
}
