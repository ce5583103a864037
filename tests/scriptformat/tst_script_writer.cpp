// What a recording writes must read back through the parser as the step that repeats it.
#include "scriptformat/Pattern.h"
#include "scriptformat/Script.h"
#include "scriptformat/ScriptWriter.h"
#include "support/CodePage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestScriptWriter : public QObject
{
    Q_OBJECT

private slots:
    void sendReadsBackAsTheSameBytes_data();
    void sendReadsBackAsTheSameBytes();
    void expectMatchesTheReportItCameFrom_data();
    void expectMatchesTheReportItCameFrom();
    void recordedLimit_data();
    void recordedLimit();
    void fileIsReplacedWholeOrNotAtAll();
    void screenReadsBackAsWritten_data();
    void screenReadsBackAsWritten();
};

void TestScriptWriter::sendReadsBackAsTheSameBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("asText");
    QTest::newRow("statement") << QByteArray("Line 10,10,200,200;") << true;
    QTest::newRow("hash inside") << QByteArray("Print '#1',0,0;") << true;
    QTest::newRow("code page text") << ToCp949(QStringLiteral("Print '탈던';")) << true;
    QTest::newRow("blank at the end") << QByteArray("Clear; ") << false;
    QTest::newRow("line break") << QByteArray("Clear;\r\nLine 1,1,2,2;") << false;
    QTest::newRow("invalid pair") << QByteArray("Print '\xC9\x20';") << false;
    QTest::newRow("raw report bytes") << QByteArray("\x81\x00\x05\xFF", 4) << false;
}

void TestScriptWriter::sendReadsBackAsTheSameBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, asText);
    const QByteArray line = script_line::Send(bytes);
    QCOMPARE(line.startsWith("send "), asText);
    const ParseOutcome parsed = ParseScript(line + "\n");
    QVERIFY2(parsed.errors.empty(), line.constData());
    QCOMPARE(parsed.steps.size(), std::size_t(1));
    const ScriptStep& step = parsed.steps.front();
    QCOMPARE(asText ? ToCp949(parsed.Statement(step)) : parsed.HexBytes(step), bytes);
}

void TestScriptWriter::expectMatchesTheReportItCameFrom_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("click") << QByteArray("$on_click (down : ctrl 5)");
    QTest::newRow("hash after a blank") << QByteArray("$on_key_press (key # 35)");
    QTest::newRow("wildcard characters") << QByteArray("$on_touch (down : *,?)");
    QTest::newRow("ends like a limit") << QByteArray("$on_lcd_state within 5");
}

void TestScriptWriter::expectMatchesTheReportItCameFrom()
{
    QFETCH(QByteArray, report);
    const QByteArray line = script_line::Expect(report, 300);
    const ParseOutcome parsed = ParseScript(line + "\n");
    QVERIFY2(parsed.errors.empty(), line.constData());
    QCOMPARE(parsed.steps.front().ms, 300);
    QVERIFY2(MatchesPattern(parsed.Pattern(parsed.steps.front()), report), line.constData());
}

void TestScriptWriter::recordedLimit_data()
{
    QTest::addColumn<qint64>("latency");
    QTest::addColumn<int>("limit");
    QTest::newRow("instant") << qint64(0) << 200;
    QTest::newRow("under the floor") << qint64(99) << 200;
    QTest::newRow("rounds up") << qint64(101) << 300;
    QTest::newRow("exact hundreds") << qint64(150) << 300;
    QTest::newRow("clock went back") << qint64(-40) << 200;
}

void TestScriptWriter::recordedLimit()
{
    QFETCH(qint64, latency);
    QFETCH(int, limit);
    QCOMPARE(RecordedExpectLimit(latency), limit);
}

void TestScriptWriter::fileIsReplacedWholeOrNotAtAll()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.ots");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("wait 1\n");
    old.close();

    ScriptFile file;
    QVERIFY(file.Open(path, nullptr));
    file.Append("send Clear;");
    QCOMPARE(QFile(path).size(), qint64(7)); // nothing is in place before Finish
    file.Discard();
    QCOMPARE(QFile(path).size(), qint64(7));

    QVERIFY(file.Open(path, nullptr));
    file.Append("send Clear;");
    file.Append("expect $on_click (up : ctrl 1) within 200");
    QVERIFY(file.Finish(nullptr));
    QFile done(path);
    QVERIFY(done.open(QIODevice::ReadOnly));
    QCOMPARE(done.readAll(),
             QByteArray("send Clear;\nexpect $on_click (up : ctrl 1) within 200\n"));

    QString error;
    QVERIFY(!file.Open(dir.path(), &error)); // a folder is never replaced
    QVERIFY(error.contains(dir.path()));
}

QTEST_GUILESS_MAIN(TestScriptWriter)
#include "tst_script_writer.moc"

void TestScriptWriter::screenReadsBackAsWritten_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("maxDiffMilli");
    QTest::addColumn<QList<QRect>>("masks");
    QTest::addColumn<bool>("written");

    QTest::newRow("plain") << "screen.png" << 0 << 0 << QList<QRect>{} << true;
    QTest::newRow("every option") << "ref/a b.png" << 4 << 1250
                                  << QList<QRect>{{0, 0, 800, 20}, {10, 10, 5, 5}} << true;
    QTest::newRow("whole share") << "a.png" << 0 << 2000 << QList<QRect>{} << true;
    QTest::newRow("name with a comment mark") << "a #2.png" << 0 << 0 << QList<QRect>{} << false;
    QTest::newRow("name holding an option")
        << "a mask 1,1,1,1.png" << 0 << 0 << QList<QRect>{} << false;
    QTest::newRow("name with a line break") << "a\nb.png" << 0 << 0 << QList<QRect>{} << false;
    QTest::newRow("mask off the screen")
        << "a.png" << 0 << 0 << QList<QRect>{{790, 0, 20, 20}} << false;
}

void TestScriptWriter::screenReadsBackAsWritten()
{
    QFETCH(QString, file);
    QFETCH(int, tolerance);
    QFETCH(int, maxDiffMilli);
    QFETCH(QList<QRect>, masks);
    QFETCH(bool, written);
    const ScreenCheck check{tolerance, maxDiffMilli, {masks.begin(), masks.end()}};
    const QByteArray line = script_line::Screen(file, check);
    QCOMPARE(!line.isEmpty(), written);
    if (!written)
        return;
    const ParseOutcome parsed = ParseScript(line + "\n");
    QVERIFY2(parsed.errors.empty(), line.constData());
    QCOMPARE(parsed.File(parsed.steps.front()), file);
    QVERIFY2(parsed.Screen(parsed.steps.front()) == check, line.constData());
}
