// What the console remembers across runs: read at start, written when its window closes, with
// the real files under a temporary config folder.
#include "ConsoleFixture.h"

#include "support/ui/TransmitBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>

#include "support/CodePage.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTimer>

#include <unistd.h>

class ConsoleSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void firstStartUsesDefaultsAndWritesOnlyAtClose();
    void everythingComesBackAfterARestart();
    void noPortAvailableSavesZero();
    void savedChoicesThatNoLongerFitLeaveNoSelection();
    void absentSavedPortIsKept_data();
    void absentSavedPortIsKept();
    void unreadableValuesFallBack_data();
    void unreadableValuesFallBack();
    void unwritableFolderStillClosesAndLosesNothing();
    void savedTextNotShownWholeIsKept_data();
    void savedTextNotShownWholeIsKept();
    void printTextNotReadWholeIsKept();
    void pasteBeyondTheBoxIsRefused();
    void unreadableSettingsAreToldAtStart();
};

void ConsoleSettingsTest::firstStartUsesDefaultsAndWritesOnlyAtClose()
{
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(2));
    f.Start();

    QCOMPARE(f.PortList()->currentIndex(), 0);
    QCOMPARE(f.SpeedList()->currentText(), QString("38400"));
    QVERIFY(f.Check(ids::kRandomColor)->isChecked());
    QVERIFY(f.Check(ids::kRandomTextPos)->isChecked());
    QCOMPARE(f.PrintText()->text(), QString("Taldern Technology"));
    QCOMPARE(f.Transmit()->toPlainText(), QString());
    QVERIFY(!QFile::exists(f.SettingsFile()));
    QVERIFY(!QFile::exists(f.SavedTextFile()));

    const QString selected = f.PortList()->currentText();
    f.Close();

    const QByteArray ini = ReadBytes(f.SettingsFile());
    const QList<QByteArray> keys{"[gen]",
                                 "port_num=" + selected.mid(3).toLatin1(),
                                 "baudrate_index=5",
                                 "random_color=1",
                                 "random_ltpoption=1",
                                 "text=Taldern Technology"};
    qsizetype at = -1;
    for (const QByteArray& key : keys) {
        const qsizetype next = ini.indexOf(key);
        QVERIFY2(next > at, ini.constData());
        at = next;
    }
    QVERIFY(QFile::exists(f.SavedTextFile()));
    QCOMPARE(ReadBytes(f.SavedTextFile()), QByteArray());
}

void ConsoleSettingsTest::everythingComesBackAfterARestart()
{
    ConsoleFixture f;
    PseudoTerminal two, five;
    QVERIFY(two.PublishAs(2));
    QVERIFY(five.PublishAs(5));
    const QString printText = "안녕 'quoted' text";
    const QString transmitText = "Clear;\n한국어 줄\r\nLine 1,2,3,4;\n\n  ";

    f.Start();
    f.SelectPort(5);
    f.SpeedList()->setCurrentIndex(8);
    f.Check(ids::kRandomColor)->setChecked(false);
    f.Check(ids::kRandomTextPos)->setChecked(false);
    f.PrintText()->setText(printText);
    f.Transmit()->setPlainText(transmitText);
    const QString shownTransmit = f.Transmit()->toPlainText();
    f.Close();

    QCOMPARE(ReadBytes(f.SavedTextFile()), shownTransmit.toUtf8());

    f.Start();
    QCOMPARE(f.PortList()->currentText(), QString("COM5"));
    QCOMPARE(f.SpeedList()->currentIndex(), 8);
    QVERIFY(!f.Check(ids::kRandomColor)->isChecked());
    QVERIFY(!f.Check(ids::kRandomTextPos)->isChecked());
    QCOMPARE(f.PrintText()->text(), printText);
    QCOMPARE(f.Transmit()->toPlainText(), shownTransmit);
}

void ConsoleSettingsTest::noPortAvailableSavesZero()
{
    ConsoleFixture f;
    f.Start();
    QCOMPARE(f.PortList()->count(), 0);
    f.Close();
    QVERIFY(ReadBytes(f.SettingsFile()).contains("port_num=0"));

    PseudoTerminal three, four;
    QVERIFY(three.PublishAs(3));
    QVERIFY(four.PublishAs(4));
    f.Start();
    QCOMPARE(f.PortList()->currentText(), QString("COM3"));
}

void ConsoleSettingsTest::savedChoicesThatNoLongerFitLeaveNoSelection()
{
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(3));
    QDir().mkpath(f.AppFolder());
    QVERIFY(WriteBytes(f.SettingsFile(), "[gen]\r\nport_num=9\r\nbaudrate_index=12\r\n"));

    CConsoleDlg& console = f.Start();
    QCOMPARE(f.PortList()->currentIndex(), -1);
    QCOMPARE(f.SpeedList()->currentIndex(), -1);

    f.PortList()->setCurrentIndex(f.PortList()->findText("COM3"));
    f.Click(ids::kOpen);
    QCOMPARE(f.MessageBoxes().size(), 1);
    QVERIFY(f.MessageBoxes()[0]->text().contains(",n,8,1"));
    QVERIFY(!console.Comm().GetPortOpen());
    QCOMPARE(module.ReadFor(150), QByteArray());
    f.DismissMessageBoxes();
}

void ConsoleSettingsTest::absentSavedPortIsKept_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("does nothing: the number waits for its adapter") << "" << QByteArray("9");
    QTest::newRow("picks another entry") << "pick" << QByteArray("3");
    QTest::newRow("opens a port") << "open" << QByteArray("3");
}

void ConsoleSettingsTest::absentSavedPortIsKept()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, saved);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(3));
    QDir().mkpath(f.AppFolder());
    QVERIFY(WriteBytes(f.SettingsFile(), "[gen]\r\nport_num=9\r\n"));
    f.Start();
    QCOMPARE(f.PortList()->currentIndex(), -1);
    if (user == "pick") {
        f.PortList()->setCurrentIndex(0);
        emit f.PortList()->activated(0);
    } else if (user == "open") {
        f.Click(ids::kRefreshPorts);
        f.Click(ids::kOpen);
        QVERIFY(f.console->Comm().GetPortOpen());
    }
    f.Close();
    QVERIFY2(ReadBytes(f.SettingsFile()).contains("port_num=" + saved + "\r\n"),
             ReadBytes(f.SettingsFile()).constData());
}

void ConsoleSettingsTest::unreadableValuesFallBack_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<int>("speedIndex");
    QTest::addColumn<QString>("printText");
    QTest::newRow("port not a number")
        << QByteArray("[gen]\nport_num=abc\n") << 0 << 5 << "Taldern Technology";
    QTest::newRow("negative port")
        << QByteArray("[gen]\nport_num=-7\n") << 0 << 5 << "Taldern Technology";
    QTest::newRow("port beyond int")
        << QByteArray("[gen]\nport_num=99999999999\n") << -1 << 5 << "Taldern Technology";
    // The settings reader's own tests cover malformed files; here one file full of them shows
    // the console starting from what it can read.
    QByteArray garbage(10 * 1024 * 1024, '\xA7');
    garbage += "\x01\xFE[gen\nno equals\r[GEN]\rBaudRate_Index=2\nbaudrate_index=3\ntext=abc";
    QTest::newRow("garbage, CR-only lines, other case, 10 MB") << garbage << 0 << 2 << "abc";
}

void ConsoleSettingsTest::unreadableValuesFallBack()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, portIndex);
    QFETCH(int, speedIndex);
    QFETCH(QString, printText);
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(module.PublishAs(1));
    QDir().mkpath(f.AppFolder());
    QVERIFY(WriteBytes(f.SettingsFile(), ini));

    f.Start();
    QCOMPARE(f.PortList()->currentIndex(), portIndex);
    QCOMPARE(f.SpeedList()->currentIndex(), speedIndex);
    QCOMPARE(f.PrintText()->text(), printText);
}

void ConsoleSettingsTest::unwritableFolderStillClosesAndLosesNothing()
{
    ConsoleFixture f;
    f.Start();
    f.SpeedList()->setCurrentIndex(2);
    f.Transmit()->setPlainText("Box 1,2,3,4;");
    f.Close();
    const QByteArray savedIni = ReadBytes(f.SettingsFile());

    f.Start();
    f.SpeedList()->setCurrentIndex(9);
    f.Transmit()->setPlainText("lost on purpose");
    // The folder can no longer be written: made read-only, or, for an administrator whom
    // permissions do not stop, moved away with a plain file in its place.
    const QString moved = f.home.path() + "/moved";
    const bool root = ::geteuid() == 0;
    if (root) {
        QVERIFY(QDir().rename(f.AppFolder(), moved));
        QVERIFY(WriteBytes(f.AppFolder(), "not a folder"));
    } else {
        QVERIFY(QFile::setPermissions(f.AppFolder(), QFile::ReadOwner | QFile::ExeOwner));
    }
    QSignalSpy finished(f.console.get(), &QDialog::finished);
    // The user is told before the window goes, in a message that waits for a click.
    QString told;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    answer.start(10);
    f.console->close();
    answer.stop();
    QCOMPARE(finished.size(), 1);
    QVERIFY2(told.contains(QDir::toNativeSeparators(f.SettingsFile()) + ": ") &&
                 told.contains(QDir::toNativeSeparators(f.SavedTextFile()) + ": "),
             qPrintable(told));
    f.console.reset();
    if (root) {
        QVERIFY(QFile::remove(f.AppFolder()));
        QVERIFY(QDir().rename(moved, f.AppFolder()));
    } else {
        QVERIFY(QFile::setPermissions(f.AppFolder(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QCOMPARE(ReadBytes(f.SettingsFile()), savedIni);
    f.Start();
    QCOMPARE(f.SpeedList()->currentIndex(), 2);
    QCOMPARE(f.Transmit()->toPlainText(), QString("Box 1,2,3,4;"));
}

void ConsoleSettingsTest::savedTextNotShownWholeIsKept_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    const qsizetype most = TransmitBox::kMaxCharacters;
    QTest::newRow("a 0 byte ends what is shown")
        << QByteArray("Clear;\0Line 1,2,3,4;", 20) << QString("Clear;");
    QTest::newRow("bytes valid in neither code page")
        << QByteArray("Box 1,2,3,4;\xFF\xFF") << QString("Box 1,2,3,4;\uFFFD\uFFFD");
    QTest::newRow("CR LF line ends")
        << QByteArray("Clear;\r\nBox 1,2,3,4;") << QString("Clear;\nBox 1,2,3,4;");
    QTest::newRow("one character more than the box holds")
        << QByteArray(most + 1, 'x') << QString();
    QTest::newRow("too large to be worth reading") << QByteArray(4 * most + 1, 'x') << QString();
}

// Shown as far as it can be, and written back only once the user has changed it.
void ConsoleSettingsTest::savedTextNotShownWholeIsKept()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    ConsoleFixture f;
    QDir().mkpath(f.AppFolder());
    QVERIFY(WriteBytes(f.SavedTextFile(), stored));
    f.Start();
    QCOMPARE(f.Transmit()->toPlainText(), shown);
    if (shown.isEmpty())
        QVERIFY(f.Transmit()->placeholderText().contains(QLocale().toString(stored.size())));
    f.Close();
    QCOMPARE(ReadBytes(f.SavedTextFile()), stored);

    f.Start();
    f.Transmit()->setPlainText(f.Transmit()->toPlainText() + "Z");
    f.Close();
    QCOMPARE(ReadBytes(f.SavedTextFile()), (shown + "Z").toUtf8());
}

void ConsoleSettingsTest::printTextNotReadWholeIsKept()
{
    ConsoleFixture f;
    QDir().mkpath(f.AppFolder());
    const QByteArray stored = "[gen]\r\ntext=Caf\xFF\xFF\r\n";
    QVERIFY(WriteBytes(f.SettingsFile(), stored));
    f.Start();
    f.Close();
    QVERIFY2(ReadBytes(f.SettingsFile()).contains("text=Caf\xFF\xFF"),
             ReadBytes(f.SettingsFile()).constData());
    f.Start();
    f.PrintText()->setText("Cafe");
    f.Close();
    QVERIFY(ReadBytes(f.SettingsFile()).contains("text=Cafe\r\n"));
}

void ConsoleSettingsTest::pasteBeyondTheBoxIsRefused()
{
    ConsoleFixture f;
    f.Start();
    f.Transmit()->setPlainText("Clear;");
    QGuiApplication::clipboard()->setText(QString(1 << 20, 'L'));
    f.Transmit()->paste();
    QCOMPARE(f.Transmit()->toPlainText(), QString("Clear;"));
    QCOMPARE(f.MessageBoxes().size(), 1);
    QVERIFY(f.MessageBoxes()[0]->text().contains("at most"));
    f.DismissMessageBoxes();
}

void ConsoleSettingsTest::unreadableSettingsAreToldAtStart()
{
    ConsoleFixture f;
    // A folder where the file should be: unreadable for an administrator too.
    QVERIFY(QDir().mkpath(f.SettingsFile()));
    f.Start();
    QTRY_COMPARE(f.console->findChildren<QMessageBox*>().size(), 1);
    const QString told = f.console->findChildren<QMessageBox*>()[0]->text();
    QVERIFY2(told.contains(QDir::toNativeSeparators(f.SettingsFile()) + ": it is a folder"),
             qPrintable(told));
    QCOMPARE(f.SpeedList()->currentIndex(), 5);
}

QTEST_MAIN(ConsoleSettingsTest)
#include "tst_console_settings.moc"
