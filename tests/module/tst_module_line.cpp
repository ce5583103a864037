// The module's line: where it publishes its pseudo-terminal in the port folder, what it leaves
// behind, and how fast it takes bytes.
#include "module/ModuleLine.h"
#include "support/Paths.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString Entry(int n)
{
    return GetPortFolderPath() + QStringLiteral("/COM%1").arg(n);
}

bool Link(int n, const QString& target)
{
    QDir().mkpath(GetPortFolderPath());
    return QFile::link(target, Entry(n));
}

} // namespace

class ModuleLineTest : public QObject
{
    Q_OBJECT

private slots:
    void publishesAtAFreeNumber_data();
    void publishesAtAFreeNumber();
    void aRunningModuleKeepsItsNumber();
    void pacedAtTheLineSpeedTheOtherEndSet();
};

void ModuleLineTest::publishesAtAFreeNumber_data()
{
    QTest::addColumn<QStringList>("existing"); // targets of COM1, COM2, ...
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("published"); // 0: refused

    QTest::newRow("lowest free") << QStringList{} << 0 << 1;
    QTest::newRow("a live device keeps its number") << QStringList{"/dev/null"} << 0 << 2;
    QTest::newRow("a killed module's link is reused") << QStringList{"/dev/pts/999999"} << 0 << 1;
    QTest::newRow("an unplugged adapter keeps its number")
        << QStringList{"/dev/serial/by-id/usb-gone-if00"} << 0 << 2;
    QTest::newRow("the number asked for") << QStringList{"/dev/null"} << 7 << 7;
    QTest::newRow("the number asked for, a killed module's")
        << QStringList{"/dev/null", "/dev/pts/999999"} << 2 << 2;
    QTest::newRow("the number asked for is taken") << QStringList{"/dev/null"} << 1 << 0;
}

void ModuleLineTest::publishesAtAFreeNumber()
{
    QFETCH(QStringList, existing);
    QFETCH(int, requested);
    QFETCH(int, published);
    TempConfigHome home;
    for (qsizetype i = 0; i < existing.size(); ++i)
        QVERIFY(Link(int(i) + 1, existing[i]));

    QString device;
    {
        ModuleLine line;
        const QString error = line.Open(requested);
        QCOMPARE(error.isEmpty(), published != 0);
        QCOMPARE(line.Port(), published);
        if (published == 0) {
            QVERIFY(error.contains(QStringLiteral("COM%1").arg(requested)));
            return;
        }
        device = line.DevicePath();
        QCOMPARE(QFileInfo(Entry(published)).symLinkTarget(), device);
    }
    // Gone with the line; the other entries stay as they were.
    QVERIFY(!QFileInfo(Entry(published)).isSymLink());
    for (qsizetype i = 0; i < existing.size(); ++i)
        if (i + 1 != published)
            QCOMPARE(QFileInfo(Entry(int(i) + 1)).symLinkTarget(), existing[i]);
}

void ModuleLineTest::aRunningModuleKeepsItsNumber()
{
    TempConfigHome home;
    ModuleLine first;
    QVERIFY(first.Open(4).isEmpty());
    ModuleLine second;
    QVERIFY(second.Open(4).contains(QStringLiteral("COM4")));
    QVERIFY(second.Open(0).isEmpty());
    QCOMPARE(second.Port(), 1);
    QCOMPARE(QFileInfo(Entry(4)).symLinkTarget(), first.DevicePath());
}

void ModuleLineTest::pacedAtTheLineSpeedTheOtherEndSet()
{
    TempConfigHome home;
    ModuleLine line;
    QVERIFY(line.Open(0).isEmpty());
    // The console's end, opened here through the entry as the console would open it.
    const int console =
        ::open(QFile::encodeName(Entry(line.Port())).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(console >= 0);
    termios settings{};
    ::tcgetattr(console, &settings);
    ::cfsetspeed(&settings, B2400);
    ::tcsetattr(console, TCSANOW, &settings);
    QCOMPARE(line.LineSpeed(), 2400);

    // 2400 baud carries 240 bytes a second: 120 bytes cannot arrive in less than half a second.
    QSignalSpy received(&line, &ModuleLine::Received);
    const QByteArray sent(120, 'x');
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::write(console, sent.constData(), sent.size()), ssize_t(sent.size()));
    qsizetype arrived = 0;
    while (arrived < sent.size() && clock.elapsed() < 5000) {
        received.wait(100);
        arrived = 0;
        for (const QList<QVariant>& signal : received)
            arrived += signal[0].toByteArray().size();
    }
    QCOMPARE(arrived, sent.size());
    QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
    ::close(console);
}

QTEST_MAIN(ModuleLineTest)
#include "tst_module_line.moc"
