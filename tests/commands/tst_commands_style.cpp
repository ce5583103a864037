#include "commands/Demos.h"
#include "commands/Session.h"
#include "commands/Style.h"
#include "support/CodePage.h"

#include <QRegularExpression>
#include <QtTest>

#include <functional>

using Proposer = std::function<StyleProposal(RandomSource&)>;
Q_DECLARE_METATYPE(Proposer)

namespace {

// A fresh alternation for each row: the first font press of a run.
Proposer FirstFont(const char* keyword)
{
    return [keyword](RandomSource& rng) {
        FontAlternation fonts;
        return ComposeFont(rng, fonts, keyword);
    };
}

Proposer DotSize(bool ctrlHeld)
{
    return [ctrlHeld](RandomSource& rng) { return ComposeDotSize(rng, ctrlHeld); };
}

Proposer StyleColor(const char* keyword)
{
    return [keyword](RandomSource& rng) { return ComposeStyleColor(rng, keyword); };
}

} // namespace

// Each style button's proposal for an exact draw sequence, with the range the dialog selects.
// The script must be used up, so a draw too many, too few or out of order fails its row.
class StyleTest : public QObject
{
    Q_OBJECT

private slots:
    void proposal_data()
    {
        QTest::addColumn<Proposer>("proposer");
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("selected");
        const auto row = [](const char* name, Proposer proposer, const QList<int>& draws,
                            const char* text, const char* selected) {
            QTest::newRow(name) << proposer << draws << QByteArray(text) << QByteArray(selected);
        };
        row("DotSize 1..40", DotSize(false), {79}, "Dotsize 40;", "40");
        row("DotSize with Ctrl proposes 8 but still draws", DotSize(true), {5}, "Dotsize 8;", "8");
        row("Color selects the six digits", ComposeColorProposal, {0x0A, 0x0B, 0x0C},
            "Color &H0A0B0C;", "0A0B0C");
        row("TextPos (TopLeft) draws y first", ComposeTextPosTopLeft, {239, 401},
            "TextPos 1,239;", "1,239");
        row("TextPos (Rect) draws y2, x2, y1, x1", ComposeTextPosRect, {239, 399, 121, 201},
            "TextPos 1,1,799,479;", "1,1,799,479");
        row("CtrlFont without the optional flags", FirstFont("CtrlFont "), {1, 99, 0},
            "CtrlFont 109,'Courier New',1;", "109,'Courier New',1");
        row("TextFont flags written c before b", FirstFont("Textfont "), {0, 47, 1, 1, 0},
            "Textfont 57,'Courier New',0,0,1;", "57,'Courier New',0,0,1");
        row("TextColor alone", StyleColor("TextColor "), {1, 2, 3, 0}, "TextColor &H010203;",
            "010203");
        row("TextColor background repeats the colour", StyleColor("TextColor "),
            {0x12, 0xAB, 0x34, 1, 0}, "TextColor &H12AB34,&H12AB34;", "12AB34,&H12AB34");
        row("CtrlColor transparent", StyleColor("CtrlColor "), {0x12, 0xAB, 0x34, 1, 1},
            "CtrlColor &H12AB34,$transparent;", "12AB34,$transparent");
    }
    void proposal()
    {
        QFETCH(Proposer, proposer);
        QFETCH(QList<int>, draws);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, selected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        const StyleProposal proposal = proposer(rng);
        QCOMPARE(proposal.text, text);
        QCOMPARE(proposal.text.mid(proposal.selStart, proposal.selEnd - proposal.selStart),
                 selected);
        QCOMPARE(rng.Remaining(), 0u);
    }

    void fontsAlternateAcrossBothButtons()
    {
        SeededRandom rng(7);
        FontAlternation fonts;
        QStringList seen;
        for (const char* keyword : {"CtrlFont ", "Textfont ", "Textfont ", "CtrlFont "})
            seen << QString::fromLatin1(ComposeFont(rng, fonts, keyword).text).section(',', 1, 1);
        QCOMPARE(seen, QStringList({"'Courier New'", "'Tahoma'", "'Courier New'", "'Tahoma'"}));
    }

    void setClockIsPlainDecimal_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QByteArray>("statement");
        QTest::newRow("no padding") << QDateTime(QDate(2008, 4, 25), QTime(9, 5, 7))
                                    << QByteArray("SetClock 2008,4,25,9,5,7;");
        QTest::newRow("last second of a year") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))
                                               << QByteArray("SetClock 2026,12,31,23,59,59;");
    }
    void setClockIsPlainDecimal()
    {
        QFETCH(QDateTime, time);
        QFETCH(QByteArray, statement);
        QCOMPARE(ComposeSetClock(time), statement);
    }

    void demo1()
    {
        SeededRandom rng(1);
        const std::vector<QByteArray> sends = Demo1Sends(rng);
        QCOMPARE(sends.size(), 10002u);
        QCOMPARE(sends.front(), QByteArray("Clear;MoveTo 0,0;"));
        QCOMPARE(sends.back(), QByteArray("BoxFill 300,300,400,400;"));
        const QRegularExpression line("^line ([12]?\\d{1,2},){3}[12]?\\d{1,2};$");
        for (std::size_t i = 1; i + 1 < sends.size(); ++i)
            QVERIFY2(line.match(QString::fromLatin1(sends[i])).hasMatch(), sends[i].constData());
    }

    // The first batch exactly: p at the top turns without a draw, q turns on its 1-in-100 draw,
    // r walks on.
    void demo2FirstBatch()
    {
        // p, q, r; then q's and r's turn draws (p is past 255 and turns without one); then
        // draws that are never 1, so nothing else turns except at the edges.
        std::vector<int> draws{254, 0, 100, 1, 5};
        draws.resize(draws.size() + 500 * 3, 50);
        ScriptedRandom rng(draws);
        const std::vector<QByteArray> first = Demo2Sends(rng);
        QCOMPARE(first.size(), 502u);
        QCOMPARE(first[0], QByteArray("Clear;Button 1,20,20,200,150,'cap';"));
        const QByteArray korean = ToCp949(QStringLiteral("탈던테크놀로지"));
        QCOMPARE(first[1], "Color &H6400FE;Circle 2,-2,-2,2;TextColor &H6600FE,&HFFFFFF;"
                           "TextFont 1,'Courier New',0,0,0;TextPos 165,90;Print '" +
                               korean + "';");
        QVERIFY(first[501].contains("TextFont 501,'Courier New'"));
    }

    // Over many seeds the walk never leaves 0..255 and moves each component by at most 2.
    void demo2ColoursStayInRange()
    {
        const QRegularExpression colours("^Color &H([0-9A-F]{6});.*TextColor &H([0-9A-F]{6}),");
        for (quint32 seed = 0; seed < 20; ++seed) {
            SeededRandom rng(seed);
            const std::vector<QByteArray> sends = Demo2Sends(rng);
            for (std::size_t i = 1; i < sends.size(); ++i) {
                const auto match = colours.match(QString::fromLatin1(sends[i]));
                QVERIFY(match.hasMatch());
                const uint before = match.captured(1).toUInt(nullptr, 16);
                const uint after = match.captured(2).toUInt(nullptr, 16);
                for (int shift : {0, 8, 16}) {
                    const int step = int((after >> shift) & 0xFF) - int((before >> shift) & 0xFF);
                    QVERIFY2(step == 0 || step == 2 || step == -2, sends[i].constData());
                }
            }
        }
    }

    void demo3Picture()
    {
        const std::vector<QByteArray> sends = Demo3PictureSends(14);
        QCOMPARE(sends.size(), 3u);
        QCOMPARE(sends[0], QByteArray("drawimage '14.bmp';"));
        QCOMPARE(sends[1], "textfont 30,'HY" + ToCp949(QStringLiteral("견고딕")) + "';");
        QCOMPARE(sends[2], QByteArray("print '14',10,10;"));
    }
};

QTEST_APPLESS_MAIN(StyleTest)
#include "tst_commands_style.moc"
