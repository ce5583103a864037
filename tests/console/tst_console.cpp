// The console end to end: ports, open and close, control states, sending, errors, hang-up and
// the keyboard, on real pseudo-terminals with the real dialog offscreen.
#include "ConsoleFixture.h"

#include "serial/CMSComm.h"
#include "support/ui/ReceiveView.h"

#include <QDir>
#include <QSignalSpy>

class ConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void portListHoldsPublishedPortsInOrder();
    void openSendsOnlyTheTestEnvironmentAtTheChosenSpeed_data();
    void openSendsOnlyTheTestEnvironmentAtTheChosenSpeed();
    void controlStatesFollowThePort();
    void demoButtonsNeedTheMarker();
    void sendTrimsAndEchoes_data();
    void sendTrimsAndEchoes();
    void failedOpenShowsWhyAndChangesNothing_data();
    void failedOpenShowsWhyAndChangesNothing();
    void openWithoutAPortSaysWhatToDo_data();
    void openWithoutAPortSaysWhatToDo();
    void hangUpClosesThePortOnce();
    void enterAndEscapeDoNothing_data();
    void enterAndEscapeDoNothing();
    void captionCarriesTheVersion();
    void receivedReportsAreDecodedIntoTheView();
};

void ConsoleTest::portListHoldsPublishedPortsInOrder()
{
    ConsoleFixture f;
    PseudoTerminal seven, three;
    QVERIFY(seven.PublishAs(7));
    QVERIFY(three.PublishAs(3));
    QDir().mkpath(f.AppFolder() + "/ports");
    QVERIFY(QFile::link(f.home.path() + "/no-such-device", f.AppFolder() + "/ports/COM5"));
    // An adapter in the device folders the test gave the console is numbered; the machine's own
    // devices are never looked at.
    PseudoTerminal adapter;
    const QString system = f.home.systemPath();
    QVERIFY(QDir().mkpath(system + "/sys/class/tty/ttyUSB0/device/driver"));
    QVERIFY(QDir().mkpath(system + "/dev"));
    QVERIFY(QFile::link(adapter.devicePath(), system + "/dev/ttyUSB0"));

    f.Start();
    QCOMPARE(f.PortEntries(), (QStringList{"COM1", "COM3", "COM7"}));
    QCOMPARE(QFile::symLinkTarget(f.AppFolder() + "/ports/COM1"), system + "/dev/ttyUSB0");
}

void ConsoleTest::openSendsOnlyTheTestEnvironmentAtTheChosenSpeed_data()
{
    QTest::addColumn<int>("speedIndex");
    QTest::addColumn<int>("speed");
    QTest::newRow("default 38400") << 5 << 38400;
    QTest::newRow("28800 has no B-constant") << 4 << 28800;
    QTest::newRow("76800 has no B-constant") << 7 << 76800;
    QTest::newRow("230400") << 9 << 230400;
}

void ConsoleTest::openSendsOnlyTheTestEnvironmentAtTheChosenSpeed()
{
    QFETCH(int, speedIndex);
    QFETCH(int, speed);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(7));
    f.Start();
    f.Transmit()->setPlainText("left as it was");
    f.SelectPort(7);
    f.SpeedList()->setCurrentIndex(speedIndex);

    f.Click(ids::kOpen);

    QVERIFY(f.MessageBoxes().isEmpty());
    QCOMPARE(module.ReadExactly(20, 3000), QByteArray("MakeTestEnvironment;"));
    QCOMPARE(module.ReadFor(200), QByteArray());
    QCOMPARE(f.Transmit()->toPlainText(), QString("left as it was"));
    QCOMPARE(module.Speed(), speed);
}

void ConsoleTest::controlStatesFollowThePort()
{
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(7));
    QVERIFY(WriteBytes(f.MarkerPath(), "developer"));
    CConsoleDlg& console = f.Start();
    f.SelectPort(7);

    const QList<int> band{
        ids::kLine,         ids::kPSet,           ids::kBox,          ids::kBoxFill,
        ids::kRoundBox,     ids::kRoundBoxFill,   ids::kCircle,       ids::kCircleFill,
        ids::kArc,          ids::kBezier,         ids::kPrint,        ids::kPrintText,
        ids::kRandomColor,  ids::kRandomTextPos,  ids::kButtonCtrl,   ids::kEditCtrl,
        ids::kCheckboxCtrl, ids::kSliderCtrl,     ids::kProgressCtrl, ids::kShowCursor,
        ids::kHideCursor,   ids::kDrawImage,      ids::kSound,        ids::kDotSize,
        ids::kColor,        ids::kTextPosTopLeft, ids::kTextPosRect,  ids::kCtrlFont,
        ids::kCtrlColor,    ids::kTextFont,       ids::kTextColor,    ids::kDemo1,
        ids::kDemo2,        ids::kDemo3,          ids::kDemoOff,      ids::kClear,
        ids::kTransmit,     ids::kSend,           ids::kReceive};
    const QList<int> closedOnly{ids::kOpen, ids::kPortList, ids::kSpeedList, ids::kRefreshPorts};
    const QList<int> openOnly{ids::kClose, ids::kTouchCalibration, ids::kSetClock};

    auto expectState = [&](bool open) {
        for (int id : band)
            QVERIFY2(console.Item(id)->isEnabled() == open, qPrintable(QString::number(id)));
        for (int id : closedOnly)
            QVERIFY2(console.Item(id)->isEnabled() == !open, qPrintable(QString::number(id)));
        for (int id : openOnly)
            QVERIFY2(console.Item(id)->isEnabled() == open, qPrintable(QString::number(id)));
        QVERIFY(console.Item(ids::kExit)->isEnabled());
    };

    expectState(false);
    f.Click(ids::kOpen);
    QVERIFY(console.Comm().GetPortOpen());
    expectState(true);
    f.Click(ids::kClose);
    QVERIFY(!console.Comm().GetPortOpen());
    expectState(false);
}

void ConsoleTest::demoButtonsNeedTheMarker()
{
    for (bool marker : {false, true}) {
        ConsoleFixture f;
        if (marker)
            QVERIFY(WriteBytes(f.MarkerPath(), ""));
        CConsoleDlg& console = f.Start();
        for (int id : {ids::kDemo1, ids::kDemo2, ids::kDemo3, ids::kDemoOff})
            QCOMPARE(console.Item(id)->isVisible(), marker);
        QVERIFY(console.Item(ids::kClear)->isVisible());
        QVERIFY(!console.Item(ids::kUnicodeGenerator)->isVisible());
    }
}

void ConsoleTest::sendTrimsAndEchoes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("blanks around") << "  Clear;  " << QByteArray("Clear;") << "Clear;";
    QTest::newRow("line breaks around") << "\nLine 1,2,3,4;\n"
                                        << QByteArray("Line 1,2,3,4;") << "Line 1,2,3,4;";
    QTest::newRow("inner line break kept")
        << "Clear;\nClear;" << QByteArray("Clear;\nClear;") << "Clear;\nClear;";
    QTest::newRow("Korean in code page 949")
        << "Print '한글';" << QByteArray("Print '\xC7\xD1\xB1\xDB';") << "Print '한글';";
    QTest::newRow("empty sends nothing") << "" << QByteArray() << "";
    QTest::newRow("blank sends nothing") << "   \t " << QByteArray() << "";
}

void ConsoleTest::sendTrimsAndEchoes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    QFETCH(QString, shown);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(f.StartOpen(module, 2));

    f.Transmit()->setPlainText(typed);
    f.Click(ids::kSend);

    if (!sent.isEmpty())
        QCOMPARE(module.ReadExactly(sent.size(), 3000), sent);
    QCOMPARE(module.ReadFor(150), QByteArray());
    QCOMPARE(f.Transmit()->toPlainText(), shown);
}

void ConsoleTest::failedOpenShowsWhyAndChangesNothing_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("expected");
    QTest::newRow("port already open elsewhere") << "busy"
                                                 << "in use by another program";
    QTest::newRow("link points nowhere") << "dangling"
                                         << "no such port";
    QTest::newRow("no speed selected") << "nospeed"
                                       << ",n,8,1";
}

void ConsoleTest::failedOpenShowsWhyAndChangesNothing()
{
    QFETCH(QString, cause);
    QFETCH(QString, expected);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(4));
    CConsoleDlg& console = f.Start();
    f.SelectPort(4);

    CMSComm other;
    if (cause == "busy") {
        other.SetCommPort(4);
        other.SetSettings("9600,n,8,1");
        other.SetPortOpen(true);
    } else if (cause == "dangling") {
        QVERIFY(QFile::remove(f.AppFolder() + "/ports/COM4"));
        QVERIFY(QFile::link(f.home.path() + "/gone", f.AppFolder() + "/ports/COM4"));
    } else {
        f.SpeedList()->setCurrentIndex(-1);
    }

    f.Click(ids::kOpen);

    const QList<QMessageBox*> boxes = f.MessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0]->text().contains(expected), qPrintable(boxes[0]->text()));
    QVERIFY2(boxes[0]->text().contains("COM4"), qPrintable(boxes[0]->text()));
    QVERIFY(!console.Comm().GetPortOpen());
    QVERIFY(console.Item(ids::kOpen)->isEnabled());
    QVERIFY(!console.Item(ids::kLine)->isEnabled());
    QVERIFY(!console.Item(ids::kClose)->isEnabled());
    if (cause != "dangling")
        QCOMPARE(module.ReadFor(200), QByteArray());
    f.DismissMessageBoxes();
}

void ConsoleTest::openWithoutAPortSaysWhatToDo_data()
{
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no port listed")
        << false
        << QStringList{"No serial port was found", "Plug a device in", "/OrvexaLCD TestBox/ports",
                       "orvexa-module", "Refresh Ports"};
    QTest::newRow("ports listed, none selected") << true << QStringList{"choose one"};
}

void ConsoleTest::openWithoutAPortSaysWhatToDo()
{
    QFETCH(bool, listed);
    QFETCH(QStringList, expected);
    ConsoleFixture f;
    PseudoTerminal module;
    if (listed)
        QVERIFY(module.PublishAs(4));
    CConsoleDlg& console = f.Start();
    f.PortList()->setCurrentIndex(-1);

    f.Click(ids::kOpen);

    const QList<QMessageBox*> boxes = f.MessageBoxes();
    QCOMPARE(boxes.size(), 1);
    for (const QString& text : expected)
        QVERIFY2(boxes[0]->text().contains(text), qPrintable(boxes[0]->text()));
    QVERIFY2(!boxes[0]->text().contains("COM0"), qPrintable(boxes[0]->text()));
    QVERIFY(!console.Comm().GetPortOpen());
    QVERIFY(console.Item(ids::kOpen)->isEnabled());
    f.DismissMessageBoxes();
}

void ConsoleTest::hangUpClosesThePortOnce()
{
    ConsoleFixture f;
    auto module = std::make_unique<PseudoTerminal>();
    QVERIFY(module->PublishAs(6));
    CConsoleDlg& console = f.Start();
    f.SelectPort(6);
    f.Click(ids::kOpen);
    QVERIFY(console.Comm().GetPortOpen());
    QSignalSpy lost(&console.Comm(), &CMSComm::DeviceLost);
    QSignalSpy received(&console.Comm(), &CMSComm::CommEvent);

    module->CloseMaster();
    QTRY_COMPARE(lost.size(), 1);
    // Let the loop run on: a spinning notifier would raise more events here.
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(received.size(), 0);
    QCOMPARE(f.MessageBoxes().size(), 1);
    QVERIFY(f.MessageBoxes()[0]->text().contains("COM6"));
    QVERIFY(!console.Comm().GetPortOpen());
    QVERIFY(console.Item(ids::kOpen)->isEnabled());
    QVERIFY(!console.Item(ids::kSend)->isEnabled());
    f.DismissMessageBoxes();

    // The device comes back under the same number: "Open" works again.
    PseudoTerminal again;
    QVERIFY(again.PublishAs(6));
    f.Click(ids::kRefreshPorts);
    f.SelectPort(6);
    f.Click(ids::kOpen);
    QVERIFY(f.MessageBoxes().isEmpty());
    QCOMPARE(again.ReadExactly(20, 3000), QByteArray("MakeTestEnvironment;"));
}

void ConsoleTest::enterAndEscapeDoNothing_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("key");
    for (int id : {ids::kTransmit, ids::kPortList, ids::kClose, ids::kPrintText}) {
        QTest::addRow("Enter on %d", id) << id << int(Qt::Key_Return);
        QTest::addRow("keypad Enter on %d", id) << id << int(Qt::Key_Enter);
        QTest::addRow("Escape on %d", id) << id << int(Qt::Key_Escape);
    }
}

void ConsoleTest::enterAndEscapeDoNothing()
{
    QFETCH(int, target);
    QFETCH(int, key);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(f.StartOpen(module, 8));
    CConsoleDlg& console = *f.console;
    f.Transmit()->setPlainText("Clear;");
    QSignalSpy finished(&console, &QDialog::finished);

    QWidget* widget = console.Item(target);
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key(key));
    QTest::keyClick(&console, Qt::Key(key));
    QCoreApplication::processEvents();

    QVERIFY(console.isVisible());
    QCOMPARE(finished.size(), 0);
    QVERIFY(console.Comm().GetPortOpen()); // "Close" was not pressed
    QCOMPARE(f.Transmit()->toPlainText(), QString("Clear;"));
    QCOMPARE(f.PortList()->currentText(), QString("COM8"));
    QCOMPARE(module.ReadFor(150), QByteArray());
}

void ConsoleTest::captionCarriesTheVersion()
{
    ConsoleFixture f;
    QCOMPARE(f.Start().windowTitle(), QString("OrvexaLCD TestBox 1.03"));
}

void ConsoleTest::receivedReportsAreDecodedIntoTheView()
{
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(f.StartOpen(module, 9));
    CConsoleDlg& console = *f.console;
    auto* view = qobject_cast<ReceiveView*>(console.Item(ids::kReceive));
    QVERIFY(view);

    module.Write(QByteArray::fromHex("0281050100000003"));
    module.Write("\x02"
                 "81051");
    module.Write(QByteArray("0000\x03", 5));
    const QString expected = "02 81 05 01 00 00 00 03 : $on_click (down : ctrl 5)\n"
                             "02 38 31 30 35 31 30 30 30 30 03 : $on_click (down : ctrl 5)\n";
    QTRY_COMPARE_WITH_TIMEOUT(view->toPlainText().replace("\r\n", "\n"), expected, 3000);
}

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
