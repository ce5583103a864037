// What a recording of the virtual module writes for a session: the lines, in order, and that
// every line reads back as the step that repeats what was recorded.
#include "module/EventEncoder.h"
#include "module/ModuleRecording.h"
#include "scriptformat/Script.h"
#include "support/CodePage.h"

#include <QTest>

namespace {

// One thing that happens, as "MS WHAT ARGS": "0 bytes Clear;", "5 press 10,20", "5 key 97",
// "5 event 8C 1" (code, state), "5 report 81 1 5" (code, state, values; binary form).
void Play(ModuleRecording& recording, const QString& event)
{
    const QStringList words = event.split(u' ');
    const qint64 ms = words[0].toLongLong();
    const QString& what = words[1];
    const QString rest = event.section(u' ', 2);
    const QStringList xy = rest.split(u',');
    using Kind = ModuleAction::Kind;
    if (what == u"bytes") {
        recording.Received(ToCp949(rest), ms);
    } else if (what == u"press" || what == u"move" || what == u"release") {
        const Kind kind = what == u"press"  ? Kind::Press
                          : what == u"move" ? Kind::Move
                                            : Kind::Release;
        recording.Acted({kind, QPoint(xy[0].toInt(), xy[1].toInt())}, ms);
    } else if (what == u"key") {
        recording.Acted({Kind::Key, {}, std::uint8_t(words[2].toInt())}, ms);
    } else if (what == u"event") {
        recording.Acted(
            {Kind::Event, {}, std::uint8_t(words[2].toInt(nullptr, 16)), words[3] == u"1"}, ms);
    } else if (what == u"report") {
        ReportContent content{words[3] == u"1", {}};
        for (qsizetype i = 4; i < words.size(); ++i)
            content.values[std::size_t(i - 4)] = words[i].toLong();
        recording.Reported(
            EncodeReport(std::uint8_t(words[2].toInt(nullptr, 16)), content, ReportForm::Binary),
            ms);
    } else {
        QFAIL(qPrintable(event));
    }
}

QByteArrayList Record(const QStringList& events)
{
    QByteArrayList lines;
    ModuleRecording recording([&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
    for (const QString& event : events)
        Play(recording, event);
    recording.Finish();
    return lines;
}

} // namespace

class TestModuleRecording : public QObject
{
    Q_OBJECT

private slots:
    void linesInOrder_data();
    void linesInOrder();
    void longBurstsReadBack_data();
    void longBurstsReadBack();
};

void TestModuleRecording::linesInOrder_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArrayList>("lines");

    QTest::newRow("pieces of one send")
        << QStringList{"0 bytes Line 1,1,", "4 bytes 2,2;", "9 bytes Clear;"}
        << QByteArrayList{"send Line 1,1,2,2;Clear;"};
    QTest::newRow("a quiet line ends a burst; a long pause is a wait")
        << QStringList{"0 bytes Clear;", "300 bytes Clear;", "1300 bytes Line 1,1,2,2;"}
        << QByteArrayList{"send Clear;", "send Clear;", "wait 1000", "send Line 1,1,2,2;"};
    QTest::newRow("pause longer than one wait step may be")
        << QStringList{"0 bytes Clear;", "7201000 key 65"}
        << QByteArrayList{"send Clear;", "wait 3600000", "wait 3600000", "wait 1000", "key 65"};
    QTest::newRow("touch on a button")
        << QStringList{"0 bytes Button 1,20,40,90,70;", "400 press 55,55", "400 report 81 1 1",
                       "480 release 55,55", "480 report 81 0 1"}
        << QByteArrayList{"send Button 1,20,40,90,70;", "touch 55,55",
                          "expect $on_click (down : ctrl 1) within 200",
                          "expect $on_click (up : ctrl 1) within 200"};
    QTest::newRow("long press") << QStringList{"0 press 55,55", "0 report 81 1 1",
                                               "900 release 55,55", "900 report 81 0 1"}
                                << QByteArrayList{"press 55,55",
                                                  "expect $on_click (down : ctrl 1) within 200",
                                                  "wait 900", "release 55,55",
                                                  "expect $on_click (up : ctrl 1) within 200"};
    QTest::newRow("slider drag keeps the moves that moved it")
        << QStringList{"0 press 300,220",   "0 report 83 0 3 10",  "10 move 301,220",
                       "20 move 380,220",   "20 report 83 0 3 30", "30 move 382,220",
                       "40 release 382,220"}
        << QByteArrayList{"press 300,220", "expect $on_position (ctrl 3 : 10) within 200",
                          "move 380,220", "expect $on_position (ctrl 3 : 30) within 200",
                          "release 382,220"};
    QTest::newRow("touch released elsewhere")
        << QStringList{"0 press 10,10", "0 report 84 1 10 10", "50 release 20,10",
                       "50 report 84 0 20 10"}
        << QByteArrayList{"press 10,10", "expect $on_touch (down : 10,10) within 200",
                          "release 20,10", "expect $on_touch (up : 20,10) within 200"};
    QTest::newRow("statements arrive while pressed")
        << QStringList{"0 press 10,10", "0 report 84 1 10 10", "100 bytes Clear;",
                       "200 release 10,10", "200 report 84 0 10 10"}
        << QByteArrayList{"press 10,10", "expect $on_touch (down : 10,10) within 200",
                          "send Clear;", "release 10,10",
                          "expect $on_touch (up : 10,10) within 200"};
    QTest::newRow("key and hand-sent events; a clock reading matches any")
        << QStringList{"0 key 97",       "0 report 85 0 97",
                       "100 event 87 0", "100 report 87 0 21 5 9",
                       "200 event 86 0", "200 report 86 0 2026 12 8",
                       "300 event 8C 1", "300 report 8C 1 1 0"}
        << QByteArrayList{"key 97",
                          "expect $on_key_press (ascii code=&H61) within 200",
                          "event time",
                          "expect $on_time (*:*:*) within 200",
                          "event date",
                          "expect $on_date (*/*/*) within 200",
                          "event screen touch down",
                          "expect $on_screen_touch (down : screen 1, ctrl 0) within 200"};
    QTest::newRow("a slow answer gets twice its time")
        << QStringList{"0 key 97", "350 report 85 0 97"}
        << QByteArrayList{"key 97", "expect $on_key_press (ascii code=&H61) within 700"};
    QTest::newRow("held back lines are written at the end")
        << QStringList{"0 bytes Clear;", "10 press 5,5", "10 report 84 1 5 5", "20 move 9,9"}
        << QByteArrayList{"send Clear;", "press 5,5", "expect $on_touch (down : 5,5) within 200"};
}

void TestModuleRecording::linesInOrder()
{
    QFETCH(QStringList, events);
    QFETCH(QByteArrayList, lines);
    const QByteArrayList recorded = Record(events);
    QCOMPARE(recorded, lines);
    // Every line is a step the runner takes.
    const ParseOutcome parsed = ParseScript(recorded.join('\n'));
    QVERIFY(parsed.errors.empty());
    QCOMPARE(qsizetype(parsed.steps.size()), lines.size());
}

void TestModuleRecording::longBurstsReadBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("sendLines");

    const QByteArray pset = QByteArray("PSet 1,1;").repeated(2222); // 19998 bytes
    QTest::newRow("cut after the last statement that fits") << pset << 2;
    QTest::newRow("no statement end: cut anywhere") << QByteArray(40000, '\xFF') << 3;
    QTest::newRow("code page text cut inside a character")
        << ToCp949(QStringLiteral("Print '") + QString(12000, u'한') + QStringLiteral("';")) << 2;
}

void TestModuleRecording::longBurstsReadBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, sendLines);
    // Arriving in pieces, as from the line.
    QByteArrayList lines;
    ModuleRecording recording([&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
    for (qsizetype at = 0; at < bytes.size(); at += 1000)
        recording.Received(
            QByteArrayView(bytes).sliced(at, std::min<qsizetype>(1000, bytes.size() - at)),
            at / 1000);
    recording.Finish();

    QCOMPARE(lines.size(), sendLines);
    QByteArray sent;
    for (const QByteArray& line : lines) {
        QVERIFY(line.size() < kMostLineBytes);
        const ParseOutcome parsed = ParseScript(line);
        QVERIFY2(parsed.errors.empty(), line.left(60).constData());
        const ScriptStep& step = parsed.steps.front();
        sent += step.kind == ScriptStep::Kind::Send ? ToCp949(parsed.Statement(step))
                                                    : parsed.HexBytes(step);
    }
    QCOMPARE(sent, bytes);
    if (QTest::currentDataTag() == QByteArrayView("cut after the last statement that fits"))
        QVERIFY(lines.front().endsWith(';'));
}

QTEST_GUILESS_MAIN(TestModuleRecording)
#include "tst_module_recording.moc"
