// Each command button end to end: the press puts the whole statement into the transmit box and
// the same bytes arrive at the module's end of a pseudo-terminal.
#include "ConsoleFixture.h"

#include "support/CodePage.h"

#include <QRegularExpression>

class ConsoleCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pressSendsWhatTheTransmitBoxShows_data();
    void pressSendsWhatTheTransmitBoxShows();
    void randomColorPrefixesDrawingOnly();
    void printSendsKoreanInCodePage949();
    void namesWhatTheCodePageLacksOnceBeforeSending_data();
    void namesWhatTheCodePageLacksOnceBeforeSending();

private:
    // What the module receives after a press, read until the transmit box's statement is whole.
    QByteArray Press(int id);

    std::unique_ptr<ConsoleFixture> m_f;
    std::unique_ptr<PseudoTerminal> m_module;
};

void ConsoleCommandsTest::init()
{
    m_f = std::make_unique<ConsoleFixture>();
    m_module = std::make_unique<PseudoTerminal>();
    QVERIFY(m_f->StartOpen(*m_module, 3));
}

void ConsoleCommandsTest::cleanup()
{
    m_f.reset();
    m_module.reset();
}

QByteArray ConsoleCommandsTest::Press(int id)
{
    m_f->Click(id);
    const QByteArray shown = ToCp949(m_f->Transmit()->toPlainText());
    const QByteArray arrived = m_module->ReadExactly(shown.size(), 3000);
    if (arrived != shown)
        return "mismatch: box " + shown + " line " + arrived;
    return m_module->ReadFor(50).isEmpty() ? arrived : "more bytes than the box shows";
}

void ConsoleCommandsTest::pressSendsWhatTheTransmitBoxShows_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("pattern");
    const QString n = "\\d+";
    const QString colour = "&H[0-9A-F]{6}";
    QTest::newRow("Line") << ids::kLine << QString("Line %1,%1,%1,%1;").arg(n);
    QTest::newRow("PSet") << ids::kPSet << "PSet \\d+,50;";
    QTest::newRow("Box") << ids::kBox << QString("Box %1,%1,%1,%1;").arg(n);
    QTest::newRow("BoxFill") << ids::kBoxFill << QString("BoxFill %1,%1,%1,%1(,.*)?;").arg(n);
    QTest::newRow("RoundBox") << ids::kRoundBox << QString("Roundbox (%1,){4}%1(,%1)?;").arg(n);
    QTest::newRow("RoundBoxFill") << ids::kRoundBoxFill
                                  << QString("Roundboxfill (%1,){4}%1(,.*)?;").arg(n);
    QTest::newRow("Circle") << ids::kCircle << QString("Circle %1,%1,%1,%1;").arg(n);
    QTest::newRow("CircleFill") << ids::kCircleFill
                                << QString("Circlefill (%1,){3}%1(,%2(,%1)?)?;").arg(n, colour);
    QTest::newRow("Arc") << ids::kArc << QString("Arc (%1,){5}%1;").arg(n);
    QTest::newRow("Bezier") << ids::kBezier << QString("Bezier (%1,){7}%1;").arg(n);
    QTest::newRow("Print") << ids::kPrint
                           << QString("TextFont %1;Print 'Taldern Technology';").arg(n);
    QTest::newRow("Button") << ids::kButtonCtrl << "Button 1,20,40,90,70(,'Press')?;";
    QTest::newRow("Edit") << ids::kEditCtrl << "Edit 2,150,40,250,120,'edit ctrl';";
    QTest::newRow("Checkbox") << ids::kCheckboxCtrl
                              << QString("Checkbox 3,300,40,370,60,'Check'(,%1)?;").arg(colour);
    QTest::newRow("Slider") << ids::kSliderCtrl
                            << "XSlider 4,400,40,520,65,1000;;YSlider 5,450,90,425,200,1000;;";
    QTest::newRow("Progress") << ids::kProgressCtrl
                              << "XProgress 6,550,40,650,65,1000;SetCtrl 6,\\$position,300;"
                                 "YProgress 7,600,90,575,190,1000;SetCtrl 7,\\$position,300;";
    QTest::newRow("ShowCursor") << ids::kShowCursor << "ShowCursor;";
    QTest::newRow("HideCursor") << ids::kHideCursor << "HideCursor;";
    QTest::newRow("DrawImage") << ids::kDrawImage << "DrawImage 'taldern_sample.bmp'(,50,50)?;";
    QTest::newRow("Sound") << ids::kSound << "Sound 'taldern_sample.wav';";
    QTest::newRow("Clear") << ids::kClear << "Clear;";
}

void ConsoleCommandsTest::pressSendsWhatTheTransmitBoxShows()
{
    QFETCH(int, id);
    QFETCH(QString, pattern);
    m_f->Check(ids::kRandomColor)->setChecked(false);
    m_f->Check(ids::kRandomTextPos)->setChecked(false);
    const QRegularExpression expected(QRegularExpression::anchoredPattern(pattern));
    // Several presses, so that the optional parts show up both ways.
    for (int press = 0; press < 8; ++press) {
        const QByteArray sent = Press(id);
        QVERIFY2(expected.match(QString::fromLatin1(sent)).hasMatch(), sent.constData());
    }
    QVERIFY(m_f->MessageBoxes().isEmpty());
}

void ConsoleCommandsTest::randomColorPrefixesDrawingOnly()
{
    m_f->Check(ids::kRandomColor)->setChecked(true);
    const QRegularExpression line(
        QRegularExpression::anchoredPattern("Color &H[0-9A-F]{6};Line \\d+,\\d+,\\d+,\\d+;"));
    const QByteArray sent = Press(ids::kLine);
    QVERIFY2(line.match(QString::fromLatin1(sent)).hasMatch(), sent.constData());
    QCOMPARE(Press(ids::kSound), QByteArray("Sound 'taldern_sample.wav';"));
}

void ConsoleCommandsTest::printSendsKoreanInCodePage949()
{
    m_f->Check(ids::kRandomColor)->setChecked(false);
    m_f->Check(ids::kRandomTextPos)->setChecked(false);
    m_f->PrintText()->setText("  탈던 ☃  ");
    const QByteArray sent = Press(ids::kPrint);
    QVERIFY2(sent.endsWith(";Print '\xC5\xBB\xB4\xF8 ?';"), sent.toHex(' ').constData());
    QVERIFY(m_f->Transmit()->toPlainText().endsWith("Print '탈던 ?';"));
}

void ConsoleCommandsTest::namesWhatTheCodePageLacksOnceBeforeSending_data()
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text"); // in the transmit box, or the Print text for Print
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("named"); // each once in one message; none, no message

    QTest::newRow("plain text") << ids::kSend << "Clear;" << QByteArray("Clear;") << QStringList();
    QTest::newRow("Korean, which the code page holds")
        << ids::kSend << "Print '탈던';" << QByteArray("Print '\xC5\xBB\xB4\xF8';")
        << QStringList();
    QTest::newRow("an accent twice and an emoji")
        << ids::kSend << "Print 'caf\u00E9 " + emoji + " \u00E9';"
        << QByteArray("Print 'caf? ? ?';") << QStringList{"\u00E9 (U+00E9)", emoji + " (U+1F600)"};
    QTest::newRow("Print text") << ids::kPrint << "caf\u00E9" << QByteArray("Print 'caf?';")
                                << QStringList{"\u00E9 (U+00E9)"};
}

// The send still goes, each such character as "?", but not without a word.
void ConsoleCommandsTest::namesWhatTheCodePageLacksOnceBeforeSending()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    QFETCH(QByteArray, line);
    QFETCH(QStringList, named);
    m_f->Check(ids::kRandomColor)->setChecked(false);
    m_f->Check(ids::kRandomTextPos)->setChecked(false);
    if (button == ids::kPrint)
        m_f->PrintText()->setText(text);
    else
        m_f->Transmit()->setPlainText(text);
    const QByteArray sent = Press(button);
    QVERIFY2(sent.endsWith(line), sent.constData());
    if (named.isEmpty()) {
        QVERIFY(m_f->MessageBoxes().isEmpty());
        return;
    }
    QCOMPARE(m_f->MessageBoxes().size(), 1);
    const QString shown = m_f->MessageBoxes()[0]->text();
    for (const QString& name : named)
        QVERIFY2(shown.count(name) == 1, qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("\"?\"")), qPrintable(shown));
}

QTEST_MAIN(ConsoleCommandsTest)
#include "tst_console_commands.moc"
