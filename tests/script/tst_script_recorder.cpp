// A recording of a session: the lines it writes, in order, with the limits taken from its timing.
#include "report/ReportDecoder.h"
#include "script/ScriptRecorder.h"
#include "tests/common/FileBytes.h"
#include "tests/common/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// One thing that happened at the console, at a time in ms: "send TEXT", "report LINE", or a file
// sent: "file NAME SIZE ALREADY_SENT", "block BYTES", "filed NOTE".
struct Happening
{
    qint64 atMs;
    QByteArray what;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<Happening>)

class TestScriptRecorder : public QObject
{
    Q_OBJECT

private slots:
    void writesTheSession_data();
    void writesTheSession();
    void recordsTheDecodedReports_data();
    void recordsTheDecodedReports();
    void startRefusesAFolder();
    void aFailedWriteEndsTheRecordingAtOnce_data();
    void aFailedWriteEndsTheRecordingAtOnce();
};

void TestScriptRecorder::writesTheSession_data()
{
    const QByteArray touch =
        "# Needs a touch or a key on the module: it sent the report below by itself.\n";
    QTest::addColumn<std::vector<Happening>>("session");
    QTest::addColumn<QByteArray>("script");

    QTest::newRow("answer gets twice its latency, rounded up")
        << std::vector<Happening>{{0, "send SetClock 2031,7,4,10,20,0;"},
                                  {0, "report $on_time (10:20:00)"},
                                  {1000, "send Line 1,1,2,2;"},
                                  {1160, "report $on_date (2031/7/4)"}}
        << QByteArray("send SetClock 2031,7,4,10,20,0;\n"
                      "expect $on_time (10:20:00) within 200\n"
                      "send Line 1,1,2,2;\n"
                      "expect $on_date (2031/7/4) within 400\n");
    QTest::newRow("every report after a send is measured from that send")
        << std::vector<Happening>{{0, "send Button 1,20,40,90,70,'Press';"},
                                  {400, "report $on_click (down : ctrl 1)"},
                                  {1900, "report $on_click (up : ctrl 1)"}}
        << QByteArray("send Button 1,20,40,90,70,'Press';\n"
                      "expect $on_click (down : ctrl 1) within 800\n"
                      "expect $on_click (up : ctrl 1) within 3800\n");
    QTest::newRow("report with no send before it needs a touch")
        << std::vector<Happening>{{5000, "report $on_touch (down : 400,300)"},
                                  {5120, "report $on_touch (up : 400,300)"}}
        << touch + "expect $on_touch (down : 400,300) within 30000\n"
                   "expect $on_touch (up : 400,300) within 300\n";
    QTest::newRow("report long after the last send needs a touch")
        << std::vector<Happening>{{0, "send Checkbox 3,300,40,370,60,'Check';"},
                                  {8000, "report $on_check (on : ctrl 3)"},
                                  {8000, "send Clear;"}}
        << "send Checkbox 3,300,40,370,60,'Check';\n" + touch +
               "expect $on_check (on : ctrl 3) within 30000\n"
               "send Clear;\n";
    QTest::newRow("bytes no send line holds go as sendhex, empty sends not at all")
        << std::vector<Happening>{{0, "send Clear; "}, {0, "send "}}
        << QByteArray("sendhex 43 6C 65 61 72 3B 20\n");
    QTest::newRow("a sent file: named, its blocks as sends, how it ended")
        << std::vector<Happening>{{0, "file s.txt 19 0"},
                                  {0, "block Line 1,1,2,2;"},
                                  {100, "block Clear;"},
                                  {150, "report $on_lcd_state (1)"},
                                  {150, "filed Send File: 19 bytes of s.txt were sent"}}
        << QByteArray("# Send File: s.txt, 19 bytes; the sends below repeat it block by block.\n"
                      "send Line 1,1,2,2;\n"
                      "send Clear;\n"
                      "expect $on_lcd_state (1) within 200\n"
                      "# Send File: 19 bytes of s.txt were sent\n");
    QTest::newRow("a file begun before the recording")
        << std::vector<Happening>{{0, "file s.txt 19 13"}, {0, "block Clear;"}}
        << QByteArray("# Send File: s.txt, 19 bytes, 13 of them sent before this recording "
                      "began; the sends below repeat it block by block.\n"
                      "send Clear;\n");
    QTest::newRow("a file too large to repeat is named only")
        << std::vector<Happening>{{0, "file big.bin 4194305 0"},
                                  {0, "block Clear;"},
                                  {0, "filed Send File: 4194305 bytes of big.bin were sent"},
                                  {10, "send Line 1,1,2,2;"}}
        << QByteArray("# Send File: big.bin, 4194305 bytes; not repeated here: files over 4194304 "
                      "bytes are left out of recordings.\n"
                      "# Send File: 4194305 bytes of big.bin were sent\n"
                      "send Line 1,1,2,2;\n");
    QTest::newRow("wildcard and comment characters in a report")
        << std::vector<Happening>{{0, "send Edit;"}, {10, "report $on_key_press (key # *)"}}
        << QByteArray("send Edit;\nexpect $on_key_press (key ? *) within 200\n");
}

void TestScriptRecorder::writesTheSession()
{
    QFETCH(std::vector<Happening>, session);
    QFETCH(QByteArray, script);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.ots"));
    qint64 now = 0;
    ScriptRecorder recorder([&now] { return now; });
    QString error;
    QVERIFY2(recorder.Start(path, &error), qPrintable(error));
    for (const Happening& h : session) {
        now = h.atMs;
        const QByteArray rest = h.what.mid(h.what.indexOf(' ') + 1);
        const QList<QByteArray> words = rest.split(' ');
        if (h.what.startsWith("send "))
            recorder.Sent(rest);
        else if (h.what.startsWith("report "))
            recorder.Reported(rest);
        else if (h.what.startsWith("file "))
            recorder.FileStarted(QString::fromUtf8(words[0]), words[1].toLongLong(),
                                 words[2].toLongLong());
        else if (h.what.startsWith("block "))
            recorder.FileSent(rest);
        else
            recorder.FileFinished(QString::fromUtf8(rest));
    }
    // Nothing shows at the target before the recording is stopped.
    QVERIFY(!QFile::exists(path));
    QVERIFY2(recorder.Stop(&error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), script);
}

void TestScriptRecorder::recordsTheDecodedReports_data()
{
    // Reads of the port, in hex, before and after the recording starts; the clock stands still.
    QTest::addColumn<QList<QByteArray>>("before");
    QTest::addColumn<QList<QByteArray>>("after");
    QTest::addColumn<QByteArray>("expects");

    QTest::newRow("a report split over reads, once when it ends")
        << QList<QByteArray>{} << QList<QByteArray>{"0281", "0501000000", "03"}
        << QByteArray("expect $on_click (down : ctrl 5) within 30000\n");
    QTest::newRow("noise, a damaged report and an unknown code give none")
        << QList<QByteArray>{}
        << QList<QByteArray>{"41028105010000000402", "8D0000000000030288000000000003"}
        << QByteArray("expect $on_buffer_warning within 30000\n");
    QTest::newRow("a report begun before the recording is left out")
        << QList<QByteArray>{"028105"} << QList<QByteArray>{"01", "00000003", "028A000000000003"}
        << QByteArray("expect $on_lcd_state within 30000\n");
    QTest::newRow("a start after the recording's start begins one it sees")
        << QList<QByteArray>{"0288000000000003"} << QList<QByteArray>{"02", "8A000000000003"}
        << QByteArray("expect $on_lcd_state within 30000\n");
    QTest::newRow("reports after the first are answers to it")
        << QList<QByteArray>{}
        << QList<QByteArray>{"028401012C00F003028400002C00F003", "0287090503000003"}
        << QByteArray("expect $on_touch (down : 300,240) within 30000\n"
                      "expect $on_touch (up : 44,240) within 200\n"
                      "expect $on_time (09:05:03) within 200\n");
}

void TestScriptRecorder::recordsTheDecodedReports()
{
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, after);
    QFETCH(QByteArray, expects);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.ots"));
    ScriptRecorder recorder([] { return qint64(0); });
    ReportDecoder decoder;
    DecodedRead read;
    const auto feed = [&](const QList<QByteArray>& reads) {
        for (const QByteArray& hex : reads) {
            decoder.Feed(QByteArray::fromHex(hex), read);
            recorder.Decoded(read);
        }
    };
    feed(before);
    QString error;
    QVERIFY2(recorder.Start(path, &error), qPrintable(error));
    feed(after);
    QVERIFY2(recorder.Stop(&error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             "# Needs a touch or a key on the module: it sent the report below by itself.\n" +
                 expects);
}

void TestScriptRecorder::startRefusesAFolder()
{
    // A folder is never renamed over; the recording is refused before anything is recorded.
    QTemporaryDir dir;
    QString error;
    ScriptRecorder recorder;
    QVERIFY(!recorder.Start(dir.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!recorder.IsRecording());
    QVERIFY(recorder.Stop(&error));
}

void TestScriptRecorder::aFailedWriteEndsTheRecordingAtOnce_data()
{
    QTest::addColumn<bool>("bySend"); // else by a burst of reports
    QTest::newRow("a send") << true;
    QTest::newRow("reports") << false;
}

// A full disk: the recording ends at the write that fails, naming the cause, once; the old
// script stays, and no temporary file is left holding space.
void TestScriptRecorder::aFailedWriteEndsTheRecordingAtOnce()
{
    QFETCH(bool, bySend);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.ots"));
    QVERIFY(WriteBytes(path, "send Clear;\n"));
    ScriptRecorder recorder([] { return qint64(0); });
    QStringList failures;
    recorder.SetFailureHandler([&failures](const QString& error) { failures << error; });
    QString error;
    QVERIFY2(recorder.Start(path, &error), qPrintable(error));
    recorder.Sent("Line 1,1,2,2;");
    {
        const FileSizeLimit limit(4096);
        QVERIFY(limit.set);
        for (int i = 0; i < 3; ++i) {
            if (bySend)
                recorder.Sent(QByteArray("PSet 1,1;").repeated(600));
            else
                for (int report = 0; report < 200; ++report)
                    recorder.Reported("$on_touch (down : 400,300)");
        }
    }
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].contains(path) && failures[0].contains(QStringLiteral("File too large")),
             qPrintable(failures[0]));
    QVERIFY(!recorder.IsRecording());
    recorder.Sent("Clear;");
    QCOMPARE(failures.size(), 1);
    QVERIFY(recorder.Stop(&error));
    QCOMPARE(ReadBytes(path), QByteArray("send Clear;\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("old.ots")});
}

QTEST_GUILESS_MAIN(TestScriptRecorder)
#include "tst_script_recorder.moc"
