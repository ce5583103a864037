// The script text: every step form, every error with its line, and the report patterns.
#include "scriptformat/Pattern.h"
#include "scriptformat/Script.h"

#include <QTemporaryDir>
#include <QTest>

using Kind = ScriptStep::Kind;

class ScriptParserTest : public QObject
{
    Q_OBJECT

private slots:
    void stepForms_data();
    void stepForms();
    void lineEnds_data();
    void lineEnds();
    void errors_data();
    void errors();
    void warnings_data();
    void warnings();
    void files_data();
    void files();
    void patterns_data();
    void patterns();
};

void ScriptParserTest::stepForms_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    // The fields a form sets, written "field=value" in a fixed order, so one column checks them.
    QTest::addColumn<QString>("fields");

    const auto row = [](const char* name, const char* line, Kind kind, const char* fields) {
        QTest::newRow(name) << QByteArray(line) << int(kind) << QString::fromUtf8(fields);
    };
    row("send keeps # and inner blanks", "  send Print '#1  x',10,10;  ", Kind::Send,
        "text=Print '#1  x',10,10;");
    row("send in Korean", "send Print '한글',1,1;", Kind::Send, "text=Print '한글',1,1;");
    row("keyword in any case", "SEND Clear;", Kind::Send, "text=Clear;");
    row("sendhex", "sendhex 02 81 0a FF", Kind::SendHex, "bytes=0281 0aff");
    row("expect default limit", "expect $on_click (down : ctrl 1)", Kind::Expect,
        "pattern=$on_click (down : ctrl 1) ms=1000");
    row("expect within", "expect $on_touch (down : *,*) within 250", Kind::Expect,
        "pattern=$on_touch (down : *,*) ms=250");
    row("expect trailing comment", "expect $on_check*  # the box", Kind::Expect,
        "pattern=$on_check* ms=1000");
    row("within inside a pattern", "expect within x within 5", Kind::Expect,
        "pattern=within x ms=5");
    row("expect-none", "expect-none $on_* for 300", Kind::ExpectNone, "pattern=$on_* ms=300");
    row("wait", "wait 0", Kind::Wait, "ms=0");
    row("touch", "touch 799, 479", Kind::Touch, "point=799,479");
    row("press", "press 0,0", Kind::Press, "point=0,0");
    row("move", "move 10,20", Kind::Move, "point=10,20");
    row("release", "release 10,20", Kind::Release, "point=10,20");
    row("key decimal", "key 13", Kind::Key, "key=13");
    row("key hex", "key 0x7F", Kind::Key, "key=127");
    row("key character", "key a", Kind::Key, "key=97");
    row("event date", "event date", Kind::Event, "event=date");
    row("event with dashes", "event Screen-Touch_down", Kind::Event, "event=screen touch down");
    row("event screen touch", "event screen touch", Kind::Event, "event=screen touch");
    row("event checksum", "event checksum error", Kind::Event, "event=checksum error");
    row("screen", "screen ref/a b.png", Kind::Screen,
        "file=ref/a b.png tolerance=0 max-diff=0 masks=");
    row("screen of a name that starts with U+FEFF",
        "screen \xEF\xBB\xBF"
        "a.png",
        Kind::Screen,
        "file=\uFEFF"
        "a.png tolerance=0 max-diff=0 masks=");
    row("screen tolerance", "screen a.png tolerance 12", Kind::Screen,
        "file=a.png tolerance=12 max-diff=0 masks=");
    row("screen options in any order, masks kept in order",
        "screen a b.png mask 0,0,800,20 MAX-DIFF 0.25% mask 700,440,100,40 tolerance 3 # clock",
        Kind::Screen, "file=a b.png tolerance=3 max-diff=250 masks=0,0,800,20;700,440,100,40");
    row("screen max-diff whole", "screen a.png max-diff 100%", Kind::Screen,
        "file=a.png tolerance=0 max-diff=100000 masks=");
    row("screen max-diff thousandths", "screen a.png max-diff 0.005%", Kind::Screen,
        "file=a.png tolerance=0 max-diff=5 masks=");
    row("texts after wide characters",
        "\xE3\x80\x80"
        "expect 한글 \xF0\x9F\x98\x80 within 9 # c",
        Kind::Expect, "pattern=한글 \xF0\x9F\x98\x80 ms=9");
}

void ScriptParserTest::stepForms()
{
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QString, fields);

    const ParseOutcome parsed = ParseScript("# a comment\n\n" + line + "\r\n");
    QVERIFY2(parsed.errors.empty(),
             qPrintable(parsed.errors.empty() ? QString() : parsed.errors.front().message));
    QCOMPARE(parsed.steps.size(), std::size_t(1));
    const ScriptStep& step = parsed.steps.front();
    QCOMPARE(step.line, 3);
    QCOMPARE(int(step.kind), kind);
    QStringList got;
    switch (step.kind) {
    case Kind::Send:
        got << QStringLiteral("text=") + parsed.Statement(step);
        break;
    case Kind::SendHex: {
        const QByteArray bytes = parsed.HexBytes(step);
        got << QStringLiteral("bytes=") + QString::fromLatin1(bytes.left(2).toHex()) + u' ' +
                   QString::fromLatin1(bytes.mid(2).toHex());
        break;
    }
    case Kind::Expect:
    case Kind::ExpectNone:
        got << QStringLiteral("pattern=") + QString::fromUtf8(parsed.Pattern(step))
            << QStringLiteral("ms=%1").arg(step.ms);
        break;
    case Kind::Wait:
        got << QStringLiteral("ms=%1").arg(step.ms);
        break;
    case Kind::Key:
        got << QStringLiteral("key=%1").arg(step.key);
        break;
    case Kind::Event:
        got << QStringLiteral("event=") +
                   EventStepName(step.eventCode, step.eventState, step.eventBoth);
        break;
    case Kind::Screen: {
        const ScreenCheck check = parsed.Screen(step);
        QStringList masks;
        for (const QRect& mask : check.masks)
            masks << QStringLiteral("%1,%2,%3,%4")
                         .arg(mask.x())
                         .arg(mask.y())
                         .arg(mask.width())
                         .arg(mask.height());
        got << QStringLiteral("file=") + parsed.File(step)
            << QStringLiteral("tolerance=%1").arg(check.tolerance)
            << QStringLiteral("max-diff=%1").arg(check.maxDiffMilli)
            << QStringLiteral("masks=") + masks.join(u';');
        break;
    }
    default:
        got << QStringLiteral("point=%1,%2").arg(step.x).arg(step.y);
    }
    QCOMPARE(got.join(u' '), fields);
    QCOMPARE(step.IsVirtualOnly(), kind >= int(Kind::Touch));
}

void ScriptParserTest::lineEnds_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("steps"); // "LINE source", one per step

    const QString steps = QStringLiteral("1 send Clear;|2 expect x|4 wait 1");
    QTest::newRow("LF") << QByteArray("send Clear;\nexpect x\n\nwait 1\n") << steps;
    QTest::newRow("CR LF") << QByteArray("send Clear;\r\nexpect x\r\n\r\nwait 1") << steps;
    QTest::newRow("CR alone") << QByteArray("send Clear;\rexpect x\r\rwait 1\r") << steps;
    QTest::newRow("mixed") << QByteArray("send Clear;\rexpect x\r\n\nwait 1") << steps;
    // Scripts joined with cat, each with its byte-order mark.
    QTest::newRow("a mark at the start of lines")
        << QByteArray("\xEF\xBB\xBFsend Clear;\n\xEF\xBB\xBF"
                      "expect x\n\nwait 1")
        << steps;
}

void ScriptParserTest::lineEnds()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, steps);
    const ParseOutcome parsed = ParseScript(text);
    QVERIFY(parsed.errors.empty());
    QStringList got;
    for (const ScriptStep& step : parsed.steps)
        got << QStringLiteral("%1 %2").arg(step.line).arg(parsed.Source(step));
    QCOMPARE(got.join(u'|'), steps);
}

void ScriptParserTest::errors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected"); // "LINE: start of message", one per error

    const auto row = [](const char* name, const QByteArray& text, const char* expected) {
        QTest::newRow(name) << text << QString::fromUtf8(expected);
    };
    row("unknown step", "send a;\n\nsned b;\n", "3: unknown step \"sned\"");
    row("send without text", "send   \n", "1: send needs a statement text");
    row("sendhex without bytes", "sendhex\n", "1: sendhex needs bytes");
    row("sendhex odd digits", "sendhex 02 8\n", "1: \"8\" is not a byte");
    row("sendhex not hex", "sendhex 0G\n", "1: \"0G\" is not a byte");
    row("expect without pattern", "expect\n", "1: expect needs a pattern");
    row("expect only a limit", "expect within 100\n", "1: expect needs a pattern");
    row("within not a number", "expect x within soon\n", "1: within takes milliseconds");
    row("within zero", "expect x within 0\n", "1: within takes milliseconds");
    row("within too long", "expect x within 3600001\n", "1: within takes milliseconds");
    row("expect-none without for", "expect-none $on_*\n", "1: expect-none needs \"for MS\"");
    row("expect-none without pattern", "expect-none for 10\n", "1: expect-none needs a pattern");
    row("wait negative", "wait -1\n", "1: wait takes milliseconds");
    row("wait with plus", "wait +5\n", "1: wait takes milliseconds");
    row("touch off screen", "touch 800,0\n", "1: touch takes X,Y");
    row("press one number", "press 10\n", "1: press takes X,Y");
    row("move three numbers", "move 1,2,3\n", "1: move takes X,Y");
    row("key too large", "key 256\n", "1: key takes a code");
    row("key two letters", "key ab\n", "1: key takes a code");
    row("event unknown", "event lunch\n", "1: unknown event \"lunch\"");
    row("screen without file", "screen\n", "1: screen needs a reference picture");
    row("tolerance too large", "screen a.png tolerance 256\n", "1: tolerance takes 0..255");
    row("tolerance twice", "screen a.png tolerance 1 tolerance 2\n", "1: tolerance is given twice");
    row("max-diff without %", "screen a.png max-diff 5\n", "1: max-diff takes a share");
    row("max-diff over 100%", "screen a.png max-diff 100.001%\n", "1: max-diff takes a share");
    row("max-diff four decimals", "screen a.png max-diff 0.0001%\n", "1: max-diff takes a share");
    row("max-diff negative", "screen a.png max-diff -1%\n", "1: max-diff takes a share");
    row("max-diff without its value", "screen a.png max-diff\n", "1: max-diff takes a share");
    row("mask of three numbers", "screen a.png mask 1,2,3\n", "1: mask takes X,Y,W,H");
    row("mask past the screen", "screen a.png mask 700,0,101,10\n", "1: mask takes X,Y,W,H");
    row("mask of no area", "screen a.png mask 1,1,0,5\n", "1: mask takes X,Y,W,H");
    row("mask with blanks", "screen a.png mask 1, 2,3,4\n",
        "1: mask takes X,Y,W,H of an area on the 800 x 480 screen, without blanks, not \"1, "
        "2,3,4\"");
    row("option without a file", "screen mask 1,2,3,4\n", "1: screen needs a reference picture");
    row("not UTF-8", "send a;\nsend \xC3\x28;\n", "2: the line is not UTF-8 text");
    row("NUL byte", QByteArray("wait 1\nwait 1\0\n", 15), "2: the line is not UTF-8 text");
    row("line too long", "wait 1\nsend " + QByteArray(kMostLineBytes, 'x') + "\nwait 2\n",
        "2: the line is longer than 65536 bytes");
    row("every error, in order", "wait x\nwait 1\nkey\n# fine\ntouch\n",
        "1: wait takes|3: key takes|5: touch takes");
    row("a line after one that is not UTF-8", "wait \xFF\nwait 1\nwait y\n",
        "1: the line is not UTF-8 text|3: wait takes");
    row("within without its number", "expect x within\n", "1: within takes milliseconds after");
    row("for without its number", "expect-none x for\n", "1: for takes milliseconds after");
    row("tolerance without its number", "screen a.png tolerance\n", "1: tolerance takes 0..255");
    row("key hex with a sign", "key 0x+41\n", "1: key takes a code");
    row("key hex too long", "key 0x0041\n", "1: key takes a code");
    row("key with a sign", "key -0\n", "1: key takes a code");
    row("sendhex with a sign", "sendhex +1\n", "1: \"+1\" is not a byte");
    row("send outside code page 949", "send Print '\xC3\xA9',1,1;\n",
        "1: \"\xC3\xA9\" (U+00E9) cannot be sent: code page 949");
    row("send of an emoji", "send Print 'a\xF0\x9F\x98\x80',1,1;\n",
        "1: \"\xF0\x9F\x98\x80\" (U+1F600)");
    row("CR line ends", "wait 1\rwait x\rsend a;\r\rkey\r", "2: wait takes|5: key takes");
    row("CR LF and CR mixed", "wait x\r\nwait 1\rwait y\n", "1: wait takes|3: wait takes");
}

void ScriptParserTest::errors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    const ParseOutcome parsed = ParseScript(text);
    const QStringList wanted = expected.split(u'|');
    QCOMPARE(parsed.errors.size(), std::size_t(wanted.size()));
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const ScriptError& error = parsed.errors[std::size_t(i)];
        const QString got = QStringLiteral("%1: %2").arg(error.line).arg(error.message);
        QVERIFY2(got.startsWith(wanted[i]), qPrintable(got));
    }
}

void ScriptParserTest::warnings_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected"); // lines warned about, "|" between

    QTest::newRow("statement ended") << QByteArray("send Clear;\nsend A;B;\n") << QString();
    QTest::newRow("statement not ended")
        << QByteArray("send Clear;\nsend Line 1,1,2,2\n") << QStringLiteral("2");
    // A send takes the rest of its line, the comment too.
    QTest::newRow("comment after the statement")
        << QByteArray("send Clear; # wipe\n") << QStringLiteral("1");
    QTest::newRow("raw bytes are not statements") << QByteArray("sendhex 41 42\n") << QString();
}

void ScriptParserTest::warnings()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    const ParseOutcome parsed = ParseScript(text);
    QVERIFY(parsed.errors.empty());
    QStringList lines;
    for (const ScriptError& warning : parsed.warnings) {
        lines << QString::number(warning.line);
        QVERIFY2(warning.message.contains(QStringLiteral("does not end with \";\"")),
                 qPrintable(warning.message));
    }
    QCOMPARE(lines.join(u'|'), expected);
}

void ScriptParserTest::files_data()
{
    QTest::addColumn<QString>("name"); // made in a temporary folder; "" is the folder itself
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing") << QStringLiteral("none.ots") << QByteArray() << "no such file";
    QTest::newRow("folder") << QString() << QByteArray() << "is a folder, not a script";
    QTest::newRow("10 MB line") << QStringLiteral("big.ots") << QByteArray(10 * 1024 * 1024, 'a')
                                << "1: the line is longer than";
    QTest::newRow("byte order mark")
        << QStringLiteral("bom.ots") << QByteArray("\xEF\xBB\xBFwait 1\n") << "";
}

void ScriptParserTest::files()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    QTemporaryDir folder;
    const QString path = name.isEmpty() ? folder.path() : folder.filePath(name);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const ParseOutcome parsed = LoadScript(path);
    if (expected.isEmpty()) {
        QVERIFY(parsed.errors.empty());
        QCOMPARE(parsed.steps.size(), std::size_t(1));
        return;
    }
    QCOMPARE(parsed.errors.size(), std::size_t(1));
    const QString got = FormatScriptError(QStringLiteral("s"), parsed.errors.front()).mid(2);
    QVERIFY2(got.startsWith(expected) || got.startsWith(QStringLiteral(" ") + expected),
             qPrintable(got));
}

void ScriptParserTest::patterns_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("matches");

    QTest::newRow("literal") << QByteArray("$on_click (down : ctrl 1)")
                             << QByteArray("$on_click (down : ctrl 1)") << true;
    QTest::newRow("literal is whole text") << QByteArray("$on_click (down : ctrl 1)")
                                           << QByteArray("$on_click (down : ctrl 12)") << false;
    QTest::newRow("star in the middle")
        << QByteArray("$on_touch (down : *,*)") << QByteArray("$on_touch (down : 12,400)") << true;
    QTest::newRow("star matches nothing") << QByteArray("a*b") << QByteArray("ab") << true;
    QTest::newRow("star must backtrack") << QByteArray("*a*ab") << QByteArray("xaaab") << true;
    QTest::newRow("question mark is one") << QByteArray("ctrl ?") << QByteArray("ctrl 12") << false;
    QTest::newRow("question mark") << QByteArray("ctrl ??") << QByteArray("ctrl 12") << true;
    QTest::newRow("star against a star") << QByteArray("*") << QByteArray("*x") << true;
    QTest::newRow("brackets are literal") << QByteArray("[a]") << QByteArray("a") << false;
    QTest::newRow("empty text") << QByteArray("*") << QByteArray() << true;
    QTest::newRow("empty pattern") << QByteArray() << QByteArray("x") << false;
    QTest::newRow("trailing text") << QByteArray("*x") << QByteArray("xxy") << false;
    QTest::newRow("many stars stay fast")
        << QByteArray("*a*a*a*a*a*a*a*a*a*a*a*a*b") << QByteArray(5000, 'a') << false;
}

void ScriptParserTest::patterns()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, text);
    QFETCH(bool, matches);
    QCOMPARE(MatchesPattern(pattern, text), matches);
}

QTEST_GUILESS_MAIN(ScriptParserTest)
#include "tst_script_parser.moc"
