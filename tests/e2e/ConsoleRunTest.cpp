// Whole console runs of the program on real workbooks: a copy of build/tabulix in a temporary
// folder (so its history and usage store land there) converts copies of the samples, and the
// tests read the text files, the log file and the usage counters as a user would find them.

#include "ProgramCopy.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QString Samples = QStringLiteral(TABULIX_SOURCE_DIR "/samples/");
const QString Fixtures = QStringLiteral(TABULIX_SOURCE_DIR "/tests/convert/fixtures/");

// A sheet's text compared cell by cell: trailing empty fields and trailing empty lines left
// out, which is how the expected texts of the samples are meant to be read.
QStringList Cells(const QByteArray& text)
{
    QStringList lines = QString::fromUtf8(text).split(u'\n');
    for (QString& line : lines) {
        while (line.endsWith(u'\t')) {
            line.chop(1);
        }
    }
    while (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

// The sheets of a whole-workbook text: separated by lines holding one form feed.
QList<QByteArray> Sheets(const QByteArray& text)
{
    QList<QByteArray> sheets;
    for (const QByteArray& part : text.split('\f')) {
        // Every sheet but the first starts after the form feed's own line break.
        sheets.append(sheets.isEmpty() ? part : part.mid(1));
    }
    return sheets;
}

class ConsoleRun : public ProgramCopy {
protected:
    QString In(const QString& name = QString()) const { return exe.Path("in/" + name); }
    QString Out(const QString& name = QString()) const { return exe.Path("out/" + name); }

    void Copy(const QString& from, const QString& name) const
    {
        QDir().mkpath(In());
        ASSERT_TRUE(QFile::copy(from, In(name))) << name.toStdString();
    }
    void CopySamples() const
    {
        for (const QString& name :
             QDir(Samples).entryList({"*.xls", "*.xlsx", "*.xlsm"}, QDir::Files)) {
            Copy(Samples + name, name);
        }
    }

    // Runs the program with the settings given inline, always into out/ with a log there.
    int Run(const QString& settings, const QString& mask = QStringLiteral("*.xls?"),
            QString source = QString())
    {
        if (source.isEmpty()) {
            source = In() + mask;
        }
        const QString project =
            QStringLiteral("-P:Source=%1,Target=%2,PureConsole=1,LogFile=%2log.txt")
                .arg(source, Out()) +
            (settings.isEmpty() ? QString() : u',' + settings);
        Result result = ProgramCopy::Run({project}, 120000);
        standardError = std::move(result.standardError);
        return result.exitCode;
    }

    // The log's lines in order of the source names (workers finish in any order).
    QStringList Log() const
    {
        QStringList lines = platform::SplitLines(TpzFileUtils::ReadText(Out("log.txt"), 1));
        lines.removeAll(QString());
        std::sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
            return a.section(" => ", 1, 1) < b.section(" => ", 1, 1);
        });
        return lines;
    }

    QByteArray standardError;
};

} // namespace

TEST_F(ConsoleRun, ConvertsTheSamplesWithTwoWorkers)
{
    CopySamples();
    ASSERT_EQ(Run("ThreadsCount=2"), 0) << standardError.toStdString();

    const QStringList names = QDir(In()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 6);
    QStringList expectedLog;
    for (const QString& name : names) {
        expectedLog.append(QStringLiteral("Success => %1 => %2")
                               .arg(In(name), Out(QFileInfo(name).completeBaseName() + ".txt")));
    }
    EXPECT_EQ(Log(), expectedLog);

    // The readxl workbooks against the texts LibreOffice saved of each of their sheets.
    for (const QString& name : names.filter("readxl-")) {
        const QList<QByteArray> sheets =
            Sheets(ReadBytes(Out(QFileInfo(name).completeBaseName() + ".txt")));
        const QString expected = Samples + "expected/" + name + "/";
        const qsizetype count = QDir(expected).entryList({"[0-9]*.txt"}).size();
        ASSERT_EQ(sheets.size(), count) << name.toStdString();
        for (qsizetype i = 0; i < count; ++i) {
            EXPECT_EQ(Cells(sheets[i]),
                      Cells(ReadBytes(expected + QString::number(i + 1) + ".txt")))
                << name.toStdString() << " sheet " << i + 1;
        }
    }

    // Our own samples, checked by hand: the hidden sheet is left out, formulas show their
    // stored results, fields with a line break, tab or quote are quoted.
    EXPECT_EQ(ReadBytes(Out("tabulix-orders.txt")),
              "Order\tDate\tCustomer\tQuantity\tUnit price\tDiscount\tTotal\tPaid\n"
              "1001\t2024-01-15\tNorthwind Traders\t12\t19.50\t0.0%\t234.00\tTRUE\n"
              "1002\t2024-01-17\tContoso, Ltd.\t250\t3.75\t5.0%\t890.63\tTRUE\n"
              "1003\t2024-02-02\tFabrikam\t1\t1,299.00\t12.5%\t1,136.63\tFALSE\n"
              "1004\t2024-02-29\tTailspin Toys\t40\t0.99\t0.0%\t39.60\tFALSE\n"
              "\t\t\t\t\t\t\t\n"
              "Prices without VAT\t\t\t\t\t\t\t\n"
              "\f\n"
              "Orders in 2024\t\n"
              "Orders\t4\n"
              "Revenue\t2,300.86\n"
              "Unpaid\t2\n");
    EXPECT_EQ(QString::fromUtf8(ReadBytes(Out("tabulix-texts.txt"))),
              QStringLiteral("\t\t\t\t\t\t\n"
                             "\tName\tComment\tCode\tMeasure\tStarted\tDuration\n"
                             "\tZoë Ünal\t\"line one\nline two\"\t00123\t123456789012\t1:30 PM\t"
                             "42:00\n"
                             "\t東京 (Tōkyō)\t\"She said \"\"hi\"\"\tand left\"\tA-7\t0.3\t"
                             "12:00 AM\t1:00\n"
                             "\tΕλληνικά\t€ 5 · naïve café\t007\t1.5E+20\t\t\n"));

    const QStringList store = Store();
    for (const char* counter : {"R=1", "C=1", "A=6", "S=6", "F=0", "W=19"}) {
        EXPECT_TRUE(store.contains(counter)) << counter << " in " << store.join(',').toStdString();
    }
    // Nothing but the texts and the log in the target folder; the sources are untouched.
    EXPECT_EQ(QDir(Out()).entryList(QDir::Files | QDir::Hidden).size(), 7);
    EXPECT_EQ(ReadBytes(In("tabulix-orders.xlsx")), ReadBytes(Samples + "tabulix-orders.xlsx"));
}

TEST_F(ConsoleRun, FailuresAreLoggedAndCountedAndTheRunGoesOn)
{
    Copy(Samples + "readxl-clippy-xlsx.xlsx", "good.xlsx");
    Copy(Fixtures + "protected.xls", "secret.xls");
    Copy(Fixtures + "broken-sheet.xlsx", "broken.xlsx");
    WriteBytes(In("notes.xls"), "a,b\n1,2\n");
    QDir().mkpath(Out());
    WriteBytes(Out("broken.txt"), "old text");

    ASSERT_EQ(Run("SkipPassword=1"), 0) << standardError.toStdString();
    const QStringList log = Log();
    ASSERT_EQ(log.size(), 4) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].startsWith("Failure => " + In("broken.xlsx") + " => The workbook \"" +
                                  In("broken.xlsx") + "\" is damaged: xl/worksheets/sheet1.xml"))
        << log[0].toStdString();
    EXPECT_EQ(log[1], "Success => " + In("good.xlsx") + " => " + Out("good.txt"));
    EXPECT_EQ(log[2], "Failure => " + In("notes.xls") + " => Cannot open \"" + In("notes.xls") +
                          "\": it is a text file, not a workbook");
    EXPECT_EQ(log[3], "Failure => " + In("secret.xls") + " => The workbook \"" + In("secret.xls") +
                          "\" is protected by a password");

    // The failed save took the old text with it and left nothing of its own.
    EXPECT_EQ(QDir(Out()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"good.txt", "log.txt"}));
    const QStringList store = Store();
    for (const char* counter : {"A=4", "S=1", "F=3"}) {
        EXPECT_TRUE(store.contains(counter)) << counter << " in " << store.join(',').toStdString();
    }
    // Failed items are not errors of the program.
    EXPECT_TRUE(store.filter(QRegularExpression("^E=")).isEmpty()) << store.join(',').toStdString();
}

TEST_F(ConsoleRun, OneSheetOfEachWorkbook)
{
    Copy(Samples + "readxl-clippy-xls.xls", "clippy.xls");
    Copy(Samples + "tabulix-orders.xlsx", "orders.xlsx");
    Copy(Samples + "readxl-geometry-xlsx.xlsx", "geometry.xlsx");
    ASSERT_EQ(Run("AllSheets=0,Sheet=2"), 0) << standardError.toStdString();
    EXPECT_EQ(Cells(ReadBytes(Out("clippy.txt"))),
              Cells(ReadBytes(Samples + "expected/readxl-clippy-xls.xls/2.txt")));
    EXPECT_EQ(ReadBytes(Out("orders.txt")),
              "Orders in 2024\t\nOrders\t4\nRevenue\t2,300.86\nUnpaid\t2\n");
    EXPECT_EQ(Log().filter("geometry.xlsx").value(0),
              "Failure => " + In("geometry.xlsx") +
                  " => Sheet 2 does not exist: the workbook has 1 sheet");

    // Without a sheet number, the active one: the second of clippy, the first of geometry.
    ASSERT_EQ(Run("AllSheets=0"), 0);
    EXPECT_EQ(Cells(ReadBytes(Out("clippy.txt"))),
              Cells(ReadBytes(Samples + "expected/readxl-clippy-xls.xls/2.txt")));
    EXPECT_EQ(Cells(ReadBytes(Out("geometry.txt"))),
              Cells(ReadBytes(Samples + "expected/readxl-geometry-xlsx.xlsx/1.txt")));
}

TEST_F(ConsoleRun, EveryFileOfTheEnginesFixturesGetsItsResult)
{
    // Workbooks of every kind the engine's tests made, damaged ones, encrypted ones, zip bombs
    // and files that are no workbooks at all: each gets one line, nothing stops the run.
    QStringList names;
    for (const QString& folder : {QStringLiteral("tests/sheets/xlsx/fixtures/"),
                                  QStringLiteral("tests/sheets/xls/fixtures/")}) {
        const QString from = QStringLiteral(TABULIX_SOURCE_DIR "/") + folder;
        for (const QString& name : QDir(from).entryList(QDir::Files)) {
            if (!names.contains(name)) {
                Copy(from + name, name);
                names.append(name);
            }
        }
    }
    ASSERT_GT(names.size(), 20);
    ASSERT_EQ(Run("ThreadsCount=2", "*"), 0) << standardError.toStdString();
    const QStringList log = Log();
    ASSERT_EQ(log.size(), names.size());
    int successes = 0;
    for (const QString& line : log) {
        const QStringList parts = line.split(" => ");
        ASSERT_EQ(parts.size(), 3) << line.toStdString();
        if (parts[0] == "Success") {
            ++successes;
            EXPECT_TRUE(QFileInfo::exists(parts[2])) << line.toStdString();
        } else {
            EXPECT_EQ(parts[0], "Failure") << line.toStdString();
            EXPECT_FALSE(parts[2].isEmpty()) << line.toStdString();
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_TRUE(Store().contains(QStringLiteral("A=%1").arg(names.size())));
}

TEST_F(ConsoleRun, AWebSourceIsFetchedAndConvertedWithoutAWindow)
{
    Copy(Samples + "readxl-clippy-xlsx.xlsx", "clippy.xlsx");
    QProcess server;
    server.setWorkingDirectory(In());
    server.start("/usr/bin/python3", {"-u", "-m", "http.server", "--bind", "127.0.0.1", "0"});
    ASSERT_TRUE(server.waitForStarted());
    const QRegularExpression portText(QStringLiteral("port (\\d+)"));
    QByteArray banner;
    QRegularExpressionMatch port;
    while (!(port = portText.match(QString::fromLatin1(banner))).hasMatch() &&
           server.waitForReadyRead(10000)) {
        banner += server.readAllStandardOutput();
    }
    ASSERT_TRUE(port.hasMatch()) << banner.toStdString();
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(port.captured(1));

    EXPECT_EQ(Run(QString(), QString(), address + "clippy.xlsx"), 0) << standardError.toStdString();
    EXPECT_EQ(Log(), QStringList{"Success => " + address + "clippy.xlsx => " + Out("clippy.txt")});
    const QList<QByteArray> sheets = Sheets(ReadBytes(Out("clippy.txt")));
    ASSERT_EQ(sheets.size(), 2);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(
            Cells(sheets[n]),
            Cells(ReadBytes(Samples +
                            QStringLiteral("expected/readxl-clippy-xlsx.xlsx/%1.txt").arg(n + 1))));
    }

    EXPECT_EQ(Run(QString(), QString(), address + "missing.xlsx"), 0);
    ASSERT_EQ(Log().size(), 1);
    EXPECT_TRUE(Log()[0].startsWith("Failure => " + address + "missing.xlsx => Cannot download"))
        << Log()[0].toStdString();
    server.kill();
    server.waitForFinished();
}
