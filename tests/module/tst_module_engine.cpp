// The virtual module's engine in-process: every statement the console's buttons compose runs, each
// drawing statement changes the pixels it should, any split of the stream gives the same screen,
// bad input is counted without stopping the module, and touches become the reports the console's
// decoder reads.
#include "commands/Controls.h"
#include "commands/Demos.h"
#include "commands/Drawing.h"
#include "commands/Format.h"
#include "commands/Session.h"
#include "commands/Style.h"
#include "module/ModuleEngine.h"
#include "module/SamplePictures.h"
#include "module/StatementSignature.h"
#include "report/ReportDecoder.h"
#include "support/CodePage.h"
#include "tests/common/ReportDisplay.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

using Composer = std::function<QByteArray(RandomSource&)>;

// Every send a console button can make. The style buttons send their proposal unedited.
const std::vector<std::pair<const char*, Composer>>& ConsoleSends()
{
    static FontAlternation fonts;
    static PSetGrid grid;
    static const std::vector<std::pair<const char*, Composer>> sends = {
        {"Line", ComposeLine},
        {"PSet", [](RandomSource&) { return grid.Next(); }},
        {"Box", ComposeBox},
        {"BoxFill", ComposeBoxFill},
        {"RoundBox", ComposeRoundBox},
        {"RoundBoxFill", ComposeRoundBoxFill},
        {"Circle", ComposeCircle},
        {"CircleFill", ComposeCircleFill},
        {"Arc", ComposeArc},
        {"Bezier", ComposeBezier},
        {"Print with position and colours",
         [](RandomSource& r) {
             return ComposePrint(r, ToCp949(QStringLiteral("탈던 a;b")), true);
         }},
        {"Print empty", [](RandomSource& r) { return ComposePrint(r, {}, false); }},
        {"Random colour prefix",
         [](RandomSource& r) { return WithRandomColor(r, ComposeBox(r), true); }},
        {"Button", ComposeButtonCtrl},
        {"Edit", [](RandomSource&) { return ComposeEditCtrl(); }},
        {"Checkbox", ComposeCheckboxCtrl},
        {"Slider", [](RandomSource&) { return ComposeSliderCtrl(); }},
        {"Progress", [](RandomSource&) { return ComposeProgressCtrl(); }},
        {"ShowCursor", [](RandomSource&) { return ComposeShowCursor(); }},
        {"HideCursor", [](RandomSource&) { return ComposeHideCursor(); }},
        {"DrawImage", ComposeDrawImage},
        {"Sound", [](RandomSource&) { return ComposeSound(); }},
        {"DotSize", [](RandomSource& r) { return ComposeDotSize(r, false).text; }},
        {"Color", [](RandomSource& r) { return ComposeColorProposal(r).text; }},
        {"TextPos (TopLeft)", [](RandomSource& r) { return ComposeTextPosTopLeft(r).text; }},
        {"TextPos (Rect)", [](RandomSource& r) { return ComposeTextPosRect(r).text; }},
        {"TextFont", [](RandomSource& r) { return ComposeFont(r, fonts, "Textfont ").text; }},
        {"CtrlFont", [](RandomSource& r) { return ComposeFont(r, fonts, "CtrlFont ").text; }},
        {"TextColor", [](RandomSource& r) { return ComposeStyleColor(r, "TextColor ").text; }},
        {"CtrlColor", [](RandomSource& r) { return ComposeStyleColor(r, "CtrlColor ").text; }},
        {"Clear", [](RandomSource&) { return ComposeClear(); }},
        {"Calibrate", [](RandomSource&) { return ComposeCalibrate(); }},
        {"SetClock",
         [](RandomSource&) {
             return ComposeSetClock(QDateTime(QDate(2008, 4, 25), QTime(9, 5, 7)));
         }},
        {"Open", [](RandomSource&) { return QByteArray("MakeTestEnvironment;"); }},
        {"Timer demo",
         [](RandomSource&) {
             return QByteArray("color &Hff0000;boxfill;color &H0000ff;boxfill;");
         }},
        {"Demo 2 (first batches)",
         [](RandomSource& r) {
             const std::vector<QByteArray> sends = Demo2Sends(r);
             QByteArray some;
             for (std::size_t i = 0; i < 20; ++i)
                 some += sends[i];
             return some;
         }},
        {"Demo 3",
         [](RandomSource&) {
             QByteArray all = Demo3Opening();
             for (int i = 1; i <= kDemo3Pictures; ++i)
                 for (const QByteArray& send : Demo3PictureSends(i))
                     all += send;
             return all;
         }},
    };
    return sends;
}

QByteArray Decoded(const QByteArray& report)
{
    const bool binary = (static_cast<std::uint8_t>(report[1]) & kBinaryFormBit) != 0;
    const ReportEvent* event = binary ? FindBinaryEvent(static_cast<std::uint8_t>(report[1]))
                                      : FindTextEvent(report[1], report[2]);
    return event ? ReportDecoder::DecodeEvent(
                       *event, reinterpret_cast<const std::uint8_t*>(report.constData()), binary)
                 : QByteArray("?");
}

QStringList DecodedAll(const QSignalSpy& spy)
{
    QStringList all;
    for (const QList<QVariant>& signal : spy)
        all << QString::fromLatin1(Decoded(signal[0].toByteArray()));
    return all;
}

} // namespace

class ModuleEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyConsoleSendRuns_data();
    void everyConsoleSendRuns();
    void drawingChangesItsPixels_data();
    void drawingChangesItsPixels();
    void anySplitGivesTheSameScreen();
    void badInputIsCountedAndReadingGoesOn_data();
    void badInputIsCountedAndReadingGoesOn();
    void signatureNamesWhatDoesNotFit_data();
    void signatureNamesWhatDoesNotFit();
    void controlStatementMakesItsKind_data();
    void controlStatementMakesItsKind();
    void reportsReadBackAsEncoded_data();
    void reportsReadBackAsEncoded();
    void touchesBecomeEvents_data();
    void touchesBecomeEvents();
    void calibrationTakesOneTouchPerCross();
    void answerDelayKeepsOrder_data();
    void answerDelayKeepsOrder();

private:
    QTemporaryDir m_storage;
};

void ModuleEngineTest::initTestCase()
{
    QVERIFY(CreateSamplePictures(m_storage.path()));
}

void ModuleEngineTest::everyConsoleSendRuns_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < ConsoleSends().size(); ++i)
        QTest::newRow(ConsoleSends()[i].first) << int(i);
}

void ModuleEngineTest::everyConsoleSendRuns()
{
    QFETCH(int, index);
    ModuleEngine engine(m_storage.path());
    SeededRandom rng(static_cast<std::uint32_t>(index) + 1);
    // Enough presses for every optional part of the composers to turn up.
    for (int press = 0; press < 60; ++press) {
        const QByteArray send = ConsoleSends()[std::size_t(index)].second(rng);
        engine.Feed(send);
        const auto& last = engine.Recent().back();
        QVERIFY2(engine.UnknownCount() == 0, (last.text + " : " + last.error).constData());
    }
    QVERIFY(engine.StatementCount() >= 60);
}

void ModuleEngineTest::drawingChangesItsPixels_data()
{
    QTest::addColumn<QByteArray>("statements");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QRgb>("expected");
    const QRgb black = 0xFF000000, white = 0xFFFFFFFF, red = 0xFFFF0000, green = 0xFF00FF00,
               blue = 0xFF0000FF;

    QTest::newRow("BoxFill in the colour set")
        << QByteArray("Color &HFF0000;BoxFill 380,220,420,260;") << QPoint(400, 240) << red;
    QTest::newRow("BoxFill in its own colour")
        << QByteArray("BoxFill 10,10,20,20,&H00FF00;") << QPoint(20, 20) << green;
    QTest::newRow("BoxFill bare fills the screen")
        << QByteArray("color &H0000ff;boxfill;") << QPoint(799, 479) << blue;
    QTest::newRow("BoxFill $pop puts back what $push kept")
        << QByteArray(
               "BoxFill 0,0,99,99,&HFF0000;BoxFill 0,0,99,99,$push,0,5;BoxFill 0,0,99,99,$pop;")
        << QPoint(50, 50) << red;
    QTest::newRow("Line lower case")
        << QByteArray("color &H0000ff;line 100,100,200,100;") << QPoint(150, 100) << blue;
    QTest::newRow("PSet is a dot of the dot size")
        << QByteArray("Dotsize 5;PSet 50,50;") << QPoint(52, 52) << white;
    QTest::newRow("Box is an outline")
        << QByteArray("Box 100,100,200,200;") << QPoint(100, 150) << white;
    QTest::newRow("Box leaves its inside")
        << QByteArray("Box 100,100,200,200;") << QPoint(150, 150) << black;
    QTest::newRow("Roundboxfill rounds its corners")
        << QByteArray("Roundboxfill 100,100,200,200,20;") << QPoint(101, 101) << black;
    QTest::newRow("Roundboxfill fills")
        << QByteArray("Roundboxfill 100,100,200,200,20,20,&H00FF00,0;") << QPoint(150, 150)
        << green;
    QTest::newRow("Circle outline at its x radius")
        << QByteArray("Circle 400,240,50,30;") << QPoint(450, 240) << white;
    QTest::newRow("Circle with negative radii")
        << QByteArray("Circle 400,240,-50,-30;") << QPoint(350, 240) << white;
    QTest::newRow("Circlefill is an ellipse, inside")
        << QByteArray("Circlefill 400,240,50,30,&HFF0000;") << QPoint(445, 240) << red;
    QTest::newRow("Circlefill is an ellipse, outside")
        << QByteArray("Circlefill 400,240,50,30,&HFF0000;") << QPoint(400, 275) << black;
    QTest::newRow("Arc over the top")
        << QByteArray("Arc 400,240,100,100,0,180;") << QPoint(400, 140) << white;
    QTest::newRow("Arc leaves the bottom")
        << QByteArray("Arc 400,240,100,100,0,180;") << QPoint(400, 340) << black;
    QTest::newRow("Bezier") << QByteArray("Bezier 100,300,150,300,250,300,300,300;")
                            << QPoint(200, 300) << white;
    QTest::newRow("Print on its background")
        << QByteArray("TextColor &HFFFF00,&H0000FF;TextPos 10,10;Print 'W';") << QPoint(10, 10)
        << blue;
    QTest::newRow("Print at its own position")
        << QByteArray("TextColor &HFFFF00,&H0000FF;Print 'W',300,200;") << QPoint(300, 200) << blue;
    QTest::newRow("Clear") << QByteArray("BoxFill 0,0,799,479,&HFF0000;Clear;") << QPoint(400, 240)
                           << black;
    QTest::newRow("Button") << QByteArray("Button 1,20,40,90,70,'Press';") << QPoint(21, 41)
                            << QRgb(0xFFD0D0D0);
    QTest::newRow("Progress at 300 of 1000, done part")
        << QByteArray("XProgress 6,550,40,650,65,1000;SetCtrl 6,$position,300;") << QPoint(570, 52)
        << black;
    QTest::newRow("Progress at 300 of 1000, rest")
        << QByteArray("XProgress 6,550,40,650,65,1000;SetCtrl 6,$position,300;") << QPoint(640, 52)
        << QRgb(0xFFD0D0D0);
    QTest::newRow("DrawImage at its position")
        << QByteArray("DrawImage '7.bmp',100,100;") << QPoint(110, 110)
        << QImage(m_storage.filePath(QStringLiteral("7.bmp"))).pixel(10, 10);
}

void ModuleEngineTest::drawingChangesItsPixels()
{
    QFETCH(QByteArray, statements);
    QFETCH(QPoint, pixel);
    QFETCH(QRgb, expected);
    ModuleEngine engine(m_storage.path());
    engine.Feed(statements);
    QCOMPARE(engine.UnknownCount(), 0);
    QCOMPARE(QColor(engine.Screen().pixel(pixel)), QColor(expected));
}

void ModuleEngineTest::anySplitGivesTheSameScreen()
{
    const QByteArray stream =
        "Clear;Color &H00FF00;Line 0,0,799,479;TextFont 24;TextPos 20,20;Print 'a;b';" +
        ToCp949(QStringLiteral("TextColor &HFF0000;Print '탈던테크놀로지',20,60;")) +
        "Print 'U::D0C8 B358-C54C,0041',20,100;\r\nButton 1,20,200,90,230,'OK';;"
        "XSlider 4,400,40,520,65,1000;;SetCtrl 4,$position,500;";
    ModuleEngine whole(m_storage.path());
    whole.Feed(stream);
    ModuleEngine bytes(m_storage.path());
    for (const char c : stream)
        bytes.Feed(QByteArrayView(&c, 1));

    QCOMPARE(whole.UnknownCount(), 0);
    QCOMPARE(bytes.StatementCount(), whole.StatementCount());
    QCOMPARE(bytes.StatementCount(), 12);
    QVERIFY(bytes.Screen() == whole.Screen());
}

void ModuleEngineTest::badInputIsCountedAndReadingGoesOn_data()
{
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<bool>("lineGoesQuiet");
    QTest::addColumn<int>("unknown"); // -1: at least one

    QByteArray noise;
    SeededRandom rng(7);
    for (int i = 0; i < 4096; ++i)
        noise += char(rng.Draw() & 0xFF);

    QTest::newRow("too few numbers") << QByteArray("Line 1,2;") << false << 1;
    QTest::newRow("letters for numbers") << QByteArray("Line a,b,c,d;") << false << 1;
    QTest::newRow("unknown keyword") << QByteArray("Frobnicate 1;") << false << 1;
    QTest::newRow("empty argument") << QByteArray("Line 1,,3,4;") << false << 1;
    QTest::newRow("colour of seven digits") << QByteArray("Color &H1234567;") << false << 1;
    QTest::newRow("bad U:: text") << QByteArray("Print 'U::12';") << false << 1;
    QTest::newRow("unclosed quote, then quiet") << QByteArray("Print 'unclosed") << true << 1;
    QTest::newRow("unclosed quote at a line break")
        << QByteArray("Print 'unclosed\r\n") << false << 1;
    QTest::newRow("100 KB without ;") << QByteArray(100 * 1024, 'x') + ';' << false << 1;
    QTest::newRow("picture outside the storage folder")
        << QByteArray("DrawImage '../x.bmp';") << false << 1;
    QTest::newRow("random bytes, then quiet") << noise << true << -1;
}

void ModuleEngineTest::badInputIsCountedAndReadingGoesOn()
{
    QFETCH(QByteArray, bad);
    QFETCH(bool, lineGoesQuiet);
    QFETCH(int, unknown);
    ModuleEngine engine(m_storage.path());
    engine.Feed(bad);
    if (lineGoesQuiet)
        engine.LineIdle();
    if (unknown < 0)
        QVERIFY(engine.UnknownCount() >= 1);
    else
        QCOMPARE(engine.UnknownCount(), unknown);
    QVERIFY(!engine.Recent().back().error.isEmpty());

    const qint64 before = engine.UnknownCount();
    engine.Feed("Clear;Color &HFF0000;BoxFill 380,220,420,260;");
    QCOMPARE(engine.UnknownCount(), before);
    QCOMPARE(QColor(engine.Screen().pixel(400, 240)), QColor(Qt::red));
}

void ModuleEngineTest::signatureNamesWhatDoesNotFit_data()
{
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("kinds"); // one letter an argument: n c t, w a "$" word
    QTest::addColumn<QByteArray>("error");

    QTest::newRow("all there") << QByteArray("nnnn") << QByteArray("nnnn") << QByteArray();
    QTest::newRow("optional ones left out")
        << QByteArray("nn|nn") << QByteArray("nn") << QByteArray();
    QTest::newRow("only some optional ones")
        << QByteArray("nn|nn") << QByteArray("nnn") << QByteArray();
    QTest::newRow("nothing but optional") << QByteArray("|n") << QByteArray() << QByteArray();
    QTest::newRow("too few") << QByteArray("nnnn") << QByteArray("nn")
                             << QByteArray("takes 4 arguments, got 2");
    QTest::newRow("too many for a range") << QByteArray("nn|nn") << QByteArray("nnnnn")
                                          << QByteArray("takes 2 to 4 arguments, got 5");
    QTest::newRow("none wanted") << QByteArray("") << QByteArray("n")
                                 << QByteArray("takes 0 arguments, got 1");
    QTest::newRow("number for a colour")
        << QByteArray("nc") << QByteArray("nn") << QByteArray("argument 2 should be a colour");
    QTest::newRow("number for a text") << QByteArray("t|nn") << QByteArray("n")
                                       << QByteArray("argument 1 should be a quoted text");
    QTest::newRow("kind checked past the bar")
        << QByteArray("n|c") << QByteArray("nt") << QByteArray("argument 2 should be a colour");
    QTest::newRow("word where colour or word")
        << QByteArray("nnnnkn") << QByteArray("nnnnwn") << QByteArray();
    QTest::newRow("text where colour or word")
        << QByteArray("nnnnk") << QByteArray("nnnnt")
        << QByteArray("argument 5 should be a colour or a \"$\" keyword");
    QTest::newRow("word where number")
        << QByteArray("n") << QByteArray("w") << QByteArray("argument 1 should be a number");
}

void ModuleEngineTest::signatureNamesWhatDoesNotFit()
{
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, kinds);
    QFETCH(QByteArray, error);
    std::vector<Argument> args;
    for (const char k : kinds) {
        Argument a;
        a.kind = k == 'c'   ? Argument::Kind::Colour
                 : k == 't' ? Argument::Kind::Text
                 : k == 'w' ? Argument::Kind::Word
                            : Argument::Kind::Number;
        args.push_back(a);
    }
    QCOMPARE(CheckSignature(signature.toStdString(), args), error);
}

void ModuleEngineTest::controlStatementMakesItsKind_data()
{
    using Kind = ModuleControl::Kind;
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<Kind>("kind");

    QTest::newRow("Button") << QByteArray("Button 3,10,10,90,40,'A';") << Kind::Button;
    QTest::newRow("Edit") << QByteArray("Edit 3,10,10,90,40;") << Kind::Edit;
    QTest::newRow("Checkbox") << QByteArray("Checkbox 3,10,10,90,40,'A',&H00FF00;")
                              << Kind::Checkbox;
    QTest::newRow("XSlider") << QByteArray("XSlider 3,10,10,90,40,100;") << Kind::XSlider;
    QTest::newRow("YSlider") << QByteArray("YSlider 3,10,10,40,90,100;") << Kind::YSlider;
    QTest::newRow("XProgress") << QByteArray("XProgress 3,10,10,90,40,100;") << Kind::XProgress;
    QTest::newRow("YProgress") << QByteArray("YProgress 3,10,10,40,90,100;") << Kind::YProgress;
}

void ModuleEngineTest::controlStatementMakesItsKind()
{
    QFETCH(QByteArray, statement);
    QFETCH(ModuleControl::Kind, kind);
    ModuleEngine engine(m_storage.path());
    engine.Feed(statement);
    QCOMPARE(engine.UnknownCount(), 0);
    QCOMPARE(engine.Controls().All().size(), std::size_t(1));
    QCOMPARE(engine.Controls().All().front().kind, kind);
    QCOMPARE(engine.Controls().All().front().id, 3);
}

void ModuleEngineTest::reportsReadBackAsEncoded_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("state");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QByteArray>("decoded");

    QTest::newRow("click") << 0x81 << true << QList<int>{1}
                           << QByteArray("$on_click (down : ctrl 1)");
    QTest::newRow("check") << 0x82 << false << QList<int>{255}
                           << QByteArray("$on_check (off : ctrl 255)");
    QTest::newRow("position") << 0x83 << false << QList<int>{4, 1000}
                              << QByteArray("$on_position (ctrl 4 : 1000)");
    QTest::newRow("touch") << 0x84 << true << QList<int>{799, 479}
                           << QByteArray("$on_touch (down : 799,479)");
    QTest::newRow("key") << 0x85 << false << QList<int>{0x81}
                         << QByteArray("$on_key_press (ascii code=&H81)");
    QTest::newRow("date") << 0x86 << false << QList<int>{2008, 4, 25}
                          << QByteArray("$on_date (2008/4/25)");
    QTest::newRow("time") << 0x87 << false << QList<int>{9, 5, 3}
                          << QByteArray("$on_time (09:05:03)");
    QTest::newRow("buffer warning")
        << 0x88 << false << QList<int>{} << QByteArray("$on_buffer_warning");
    QTest::newRow("buffer overflow")
        << 0x89 << false << QList<int>{} << QByteArray("$on_buffer_overflow");
    QTest::newRow("lcd state") << 0x8A << false << QList<int>{} << QByteArray("$on_lcd_state");
    QTest::newRow("checksum error")
        << 0x8B << false << QList<int>{} << QByteArray("$on_checksum_error");
    QTest::newRow("screen touch") << 0x8C << false << QList<int>{1, 7}
                                  << QByteArray("$on_screen_touch (up : screen 1, ctrl 7)");
}

void ModuleEngineTest::reportsReadBackAsEncoded()
{
    QFETCH(int, code);
    QFETCH(bool, state);
    QFETCH(QList<int>, values);
    QFETCH(QByteArray, decoded);
    ReportContent content{state, {}};
    for (qsizetype i = 0; i < values.size(); ++i)
        content.values[std::size_t(i)] = values[i];

    for (const ReportForm form : {ReportForm::Binary, ReportForm::Text}) {
        const QByteArray report = EncodeReport(std::uint8_t(code), content, form);
        QCOMPARE(report.size(),
                 form == ReportForm::Binary ? kBinaryReportLength : kTextReportLength);
        QCOMPARE(Decoded(report), decoded);
        // Through the console's decoder as a stream: the report is framed as it expects.
        SeededRandom colours(1);
        ReportDisplay decoder(colours);
        std::vector<ColoredText> shown;
        decoder.Feed(report, shown);
        QVERIFY(shown.back().text.endsWith(" : " + decoded + "\r\n"));
    }
}

void ModuleEngineTest::touchesBecomeEvents_data()
{
    QTest::addColumn<QByteArray>("statements");
    QTest::addColumn<QByteArray>("actions"); // P press, M move, R release; one point each
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("touch on the screen")
        << QByteArray() << QByteArray("PR") << QList<QPoint>{{300, 240}, {300, 240}}
        << QStringList{"$on_touch (down : 300,240)", "$on_touch (up : 300,240)"};
    QTest::newRow("touch dragged off the screen ends at its edge")
        << QByteArray() << QByteArray("PMR") << QList<QPoint>{{10, 10}, {-5, 900}, {-5, 900}}
        << QStringList{"$on_touch (down : 10,10)", "$on_touch (up : 0,479)"};
    QTest::newRow("click on a button")
        << QByteArray("Button 1,20,40,90,70,'Press';") << QByteArray("PR")
        << QList<QPoint>{{50, 55}, {50, 55}}
        << QStringList{"$on_click (down : ctrl 1)", "$on_click (up : ctrl 1)"};
    QTest::newRow("check box toggles on each tap")
        << QByteArray("Checkbox 3,300,40,370,60,'Check';") << QByteArray("PRPR")
        << QList<QPoint>{{310, 50}, {310, 50}, {310, 50}, {310, 50}}
        << QStringList{"$on_check (on : ctrl 3)", "$on_check (off : ctrl 3)"};
    QTest::newRow("horizontal slider dragged end to end")
        << ComposeSliderCtrl() << QByteArray("PMMR")
        << QList<QPoint>{{400, 50}, {460, 50}, {600, 50}, {600, 50}}
        << QStringList{"$on_position (ctrl 4 : 0)", "$on_position (ctrl 4 : 500)",
                       "$on_position (ctrl 4 : 1000)"};
    QTest::newRow("vertical slider grows upwards")
        << ComposeSliderCtrl() << QByteArray("PMR")
        << QList<QPoint>{{437, 200}, {437, 90}, {437, 90}}
        << QStringList{"$on_position (ctrl 5 : 0)", "$on_position (ctrl 5 : 1000)"};
    QTest::newRow("progress bar takes no touch")
        << ComposeProgressCtrl() << QByteArray("PR") << QList<QPoint>{{600, 50}, {600, 50}}
        << QStringList{"$on_touch (down : 600,50)", "$on_touch (up : 600,50)"};
    QTest::newRow("cleared button is gone")
        << QByteArray("Button 1,20,40,90,70;Clear;") << QByteArray("PR")
        << QList<QPoint>{{50, 55}, {50, 55}}
        << QStringList{"$on_touch (down : 50,55)", "$on_touch (up : 50,55)"};
}

void ModuleEngineTest::touchesBecomeEvents()
{
    QFETCH(QByteArray, statements);
    QFETCH(QByteArray, actions);
    QFETCH(QList<QPoint>, points);
    QFETCH(QStringList, events);
    ModuleEngine engine(m_storage.path());
    engine.Feed(statements);
    QCOMPARE(engine.UnknownCount(), 0);
    QSignalSpy reports(&engine, &ModuleEngine::ReportReady);
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i] == 'P')
            engine.Press(points[i]);
        else if (actions[i] == 'M')
            engine.Move(points[i]);
        else
            engine.Release(points[i]);
    }
    QCOMPARE(DecodedAll(reports), events);
    QCOMPARE(engine.EventsSent(), events.size());
}

void ModuleEngineTest::calibrationTakesOneTouchPerCross()
{
    ModuleEngine engine(m_storage.path());
    engine.Feed("Color &H00FF00;BoxFill 0,0,799,479;");
    const QImage before = engine.Screen();
    engine.Feed("Calibrate;");
    QSignalSpy reports(&engine, &ModuleEngine::ReportReady);
    int crosses = 0;
    while (engine.Calibrating() && crosses < 10) {
        const QPoint cross = engine.CalibrationTarget();
        QCOMPARE(QColor(engine.Screen().pixel(cross)), QColor(Qt::red));
        engine.Press(cross);
        engine.Release(cross);
        ++crosses;
    }
    QCOMPARE(crosses, 5);
    QVERIFY(engine.Screen() == before);
    QCOMPARE(reports.size(), 0);
}

void ModuleEngineTest::answerDelayKeepsOrder_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QByteArrayList>("pieces");

    const QByteArray stream = "Button 1,20,40,90,70;Color &HFF0000;Line 1,1,2;BoxFill 0,0,10,10;";
    QTest::newRow("at once") << 0 << QByteArrayList{stream};
    QTest::newRow("slower firmware") << 20 << QByteArrayList{stream};
    QTest::newRow("slower firmware, statement split across reads")
        << 20 << QByteArrayList{stream.left(15), stream.mid(15, 30), stream.mid(45)};
}

void ModuleEngineTest::answerDelayKeepsOrder()
{
    QFETCH(int, delayMs);
    QFETCH(QByteArrayList, pieces);
    ModuleEngine engine(m_storage.path());
    engine.SetAnswerDelay(delayMs);
    QSignalSpy reports(&engine, &ModuleEngine::ReportReady);
    qint64 fed = 0;
    for (const QByteArray& piece : pieces) {
        engine.Feed(piece);
        fed += piece.size();
    }
    // Slower firmware answers on the event loop: the feed itself never waits.
    QCOMPARE(engine.StatementCount(), delayMs > 0 ? 0 : 3);
    QCOMPARE(engine.BytesExecuted() == fed, delayMs == 0);
    // The bytes count as taken only once every statement in them has run.
    for (QDeadlineTimer limit(10000);
         engine.StatementCount() + engine.UnknownCount() < 4 && !limit.hasExpired();
         QTest::qWait(1))
        QVERIFY(engine.BytesExecuted() < fed);
    QCOMPARE(engine.StatementCount() + engine.UnknownCount(), 4);
    QCOMPARE(engine.BytesExecuted(), fed);
    QByteArrayList ran;
    for (const ModuleEngine::LogEntry& entry : engine.Recent())
        ran << entry.text;
    QCOMPARE(ran, (QByteArrayList{"Button 1,20,40,90,70", "Color &HFF0000", "Line 1,1,2",
                                  "BoxFill 0,0,10,10"}));
    QCOMPARE(QColor(engine.Screen().pixel(5, 5)), QColor(Qt::red));

    engine.Press({50, 55});
    engine.Release({50, 55});
    QCOMPARE(reports.size(), delayMs > 0 ? 0 : 2);
    QTRY_COMPARE(reports.size(), 2);
    QCOMPARE(DecodedAll(reports),
             (QStringList{"$on_click (down : ctrl 1)", "$on_click (up : ctrl 1)"}));
}

QTEST_MAIN(ModuleEngineTest)
#include "tst_module_engine.moc"
