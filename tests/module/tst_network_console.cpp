// The real console, offscreen, on the virtual module behind a real ser2net: a port folder entry
// that links to the server's address is listed with it, opens without the window waiting, and
// carries statements and touch reports as a local port does.
#include "support/ui/ReceiveView.h"
#include "tests/common/ConsoleWithModule.h"
#include "tests/common/Ser2Net.h"

#include <unistd.h>

using namespace Qt::StringLiterals;

class NetworkConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Ser2Net::Program().isEmpty())
            QSKIP("ser2net is not installed (tools/deps.sh test installs it)");
    }

    void drawsAndShowsTouches_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("raw tcp") << false;
    }
    void drawsAndShowsTouches()
    {
        QFETCH(bool, telnet);
        ConsoleWithModule f;
        Ser2Net server({f.line.DevicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        const QString address = (telnet ? u"rfc2217://127.0.0.1:%1"_s : u"socket://127.0.0.1:%1"_s)
                                    .arg(telnet ? server.TelnetPort() : server.RawPort());
        QCOMPARE(::symlink(address.toUtf8().constData(),
                           QFile::encodeName(PortDevicePath(12)).constData()),
                 0);

        f.Start();
        const QString entry = u"COM12 (%1)"_s.arg(address);
        QVERIFY2(f.PortEntries().contains(entry), qPrintable(f.PortEntries().join(u", ")));
        f.PortList()->setCurrentIndex(f.PortList()->findText(entry));
        f.Click(ids::kOpen);
        QVERIFY(f.console->Comm().GetPortOpen());
        QTRY_COMPARE_WITH_TIMEOUT(f.engine.StatementCount(), 1, 20000); // the open's statement

        f.Click(ids::kButtonCtrl);
        QTRY_COMPARE_WITH_TIMEOUT(f.engine.Controls().All().size(), std::size_t(1), 20000);
        QCOMPARE(f.engine.UnknownCount(), 0);
        f.engine.Press({50, 55});
        f.engine.Release({50, 55});
        const auto shown = [&] { return f.Get<ReceiveView>(ids::kReceive)->toPlainText(); };
        QTRY_VERIFY2_WITH_TIMEOUT(shown().contains(u"$on_click (up : ctrl 1)"_s),
                                  qPrintable(shown()), 20000);
        QVERIFY(f.MessageBoxes().isEmpty());
    }
};

QTEST_MAIN(NetworkConsoleTest)
#include "tst_network_console.moc"
