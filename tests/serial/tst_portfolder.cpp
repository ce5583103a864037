#include "serial/CMSComm.h"
#include "serial/PortFolder.h"
#include "support/Paths.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using Links = QMap<int, QString>;
using StableIds = QMap<QString, QString>;

namespace {

// Every entry of the port folder, dangling or not: number -> where it points.
Links Entries()
{
    Links entries;
    const QDir folder(GetPortFolderPath());
    for (const QFileInfo& entry : folder.entryInfoList({u"COM*"_s}, QDir::System | QDir::Files))
        entries.insert(entry.fileName().mid(3).toInt(), entry.symLinkTarget());
    return entries;
}

Links WithRoot(Links links, const QString& root)
{
    for (QString& target : links)
        target.replace(u"{root}"_s, root);
    return links;
}

// A made-up system: "<root>/sys/class/tty/<name>" entries and "<root>/dev" nodes. Each tty is
// given as its name followed by flags: "nodriver", "nonode", and last "type=N".
void BuildSystem(const QString& root, const QStringList& ttys, const StableIds& stableIds)
{
    QVERIFY(QDir().mkpath(root + u"/dev/serial/by-id"_s));
    for (const QString& description : ttys) {
        const QStringList parts = description.split(u' ');
        const QString entry = root + u"/sys/class/tty/"_s + parts.first();
        QVERIFY(QDir().mkpath(entry + (parts.contains(u"nodriver") ? u""_s : u"/device/driver"_s)));
        QFile type(entry + u"/type"_s);
        if (parts.last().startsWith(u"type="))
            QVERIFY(type.open(QIODevice::WriteOnly) &&
                    type.write(parts.last().mid(5).toLatin1() + '\n') > 0);
        QFile node(root + u"/dev/"_s + parts.first());
        if (!parts.contains(u"nonode"))
            QVERIFY(node.open(QIODevice::WriteOnly));
    }
    for (auto it = stableIds.cbegin(); it != stableIds.cend(); ++it)
        QVERIFY(QFile::link(u"../../"_s + it.value(), root + u"/dev/serial/by-id/"_s + it.key()));
}

} // namespace

class tst_PortFolder : public QObject
{
    Q_OBJECT

private slots:
    void enumerate_data()
    {
        QTest::addColumn<QList<int>>("published");
        QTest::addColumn<Links>("otherLinks");
        QTest::addColumn<QList<int>>("held");
        QTest::addColumn<QList<int>>("expected");

        QTest::newRow("ports 3 and 7")
            << QList<int>{7, 3} << Links{} << QList<int>{} << QList<int>{3, 7};
        QTest::newRow("a link to a missing device is left out")
            << QList<int>{3, 7} << Links{{5, u"/dev/pts/nonexistent"_s}} << QList<int>{}
            << QList<int>{3, 7};
        QTest::newRow("a link to something that is not a terminal is left out")
            << QList<int>{3} << Links{{4, u"/dev/null"_s}} << QList<int>{} << QList<int>{3};
        QTest::newRow("1 to 255 probed, 0 and 256 not")
            << QList<int>{0, 256, 255, 1} << Links{} << QList<int>{} << QList<int>{1, 255};
        QTest::newRow("a port held open is left out")
            << QList<int>{3, 7} << Links{} << QList<int>{3} << QList<int>{7};
        // Port 1 of loopback has no listener: connecting would fail, listing must not try.
        QTest::newRow("links to network addresses are listed without connecting")
            << QList<int>{3} << Links{{12, u"rfc2217://127.0.0.1:1"_s}, {13, u"socket://[::1]:1"_s}}
            << QList<int>{} << QList<int>{3, 12, 13};
    }
    void enumerate()
    {
        QFETCH(QList<int>, published);
        QFETCH(Links, otherLinks);
        QFETCH(QList<int>, held);
        QFETCH(QList<int>, expected);

        TempConfigHome home;
        QVERIFY(home.isValid());
        std::vector<std::unique_ptr<PseudoTerminal>> terminals;
        for (int n : published) {
            terminals.push_back(std::make_unique<PseudoTerminal>());
            QVERIFY(terminals.back()->PublishAs(n));
        }
        // symlink, not QFile::link, which would make an address into a path.
        for (auto it = otherLinks.cbegin(); it != otherLinks.cend(); ++it)
            QCOMPARE(::symlink(QFile::encodeName(it.value()).constData(),
                               QFile::encodeName(PortDevicePath(it.key())).constData()),
                     0);
        std::vector<std::unique_ptr<CMSComm>> holders;
        for (int n : held) {
            holders.push_back(std::make_unique<CMSComm>());
            holders.back()->SetCommPort(static_cast<short>(n));
            holders.back()->SetPortOpen(true);
        }

        QCOMPARE(EnumeratePorts(), expected);
    }

    void baudRateTextOutsideTheTable()
    {
        QCOMPARE(GetBaudRateText(-1), QString());
        QCOMPARE(GetBaudRateText(10), QString());
    }

    void numberSystemDevices_data()
    {
        QTest::addColumn<QStringList>("ttys");
        QTest::addColumn<StableIds>("stableIds");
        QTest::addColumn<Links>("before");
        QTest::addColumn<Links>("after");

        const StableIds adapter{{u"usb-Maker_Adapter-if00"_s, u"ttyUSB0"_s}};
        const QString byId = u"{root}/dev/serial/by-id/usb-Maker_Adapter-if00"_s;
        QTest::newRow("a USB adapter is linked by its stable name")
            << QStringList{u"ttyUSB0"_s} << adapter << Links{} << Links{{1, byId}};
        QTest::newRow("a UART by its node; 8250 placeholders are skipped")
            << QStringList{u"ttyS0 type=4"_s, u"ttyS1 type=0"_s, u"ttyS2"_s} << StableIds{}
            << Links{} << Links{{1, u"{root}/dev/ttyS0"_s}};
        QTest::newRow("ttys without a driver or a node and other kinds are skipped")
            << QStringList{u"ttyUSB0 nodriver"_s, u"ttyprintk"_s, u"tty1"_s, u"ttyACM0 nonode"_s}
            << StableIds{} << Links{} << Links{};
        QTest::newRow("a device numbered by its node keeps that entry")
            << QStringList{u"ttyUSB0"_s} << adapter << Links{{4, u"{root}/dev/ttyUSB0"_s}}
            << Links{{4, u"{root}/dev/ttyUSB0"_s}};
        QTest::newRow("an adapter that came back under another node keeps its number")
            << QStringList{u"ttyUSB3"_s} << StableIds{{u"usb-Maker_Adapter-if00"_s, u"ttyUSB3"_s}}
            << Links{{6, byId}} << Links{{6, byId}};
        QTest::newRow("numbers given are kept, even when their device is gone; lowest free "
                      "numbers in device order")
            << QStringList{u"ttyUSB10"_s, u"ttyACM0"_s, u"ttyUSB2"_s} << StableIds{}
            << Links{{1, u"/dev/pts/nonexistent"_s}, {3, u"{root}/dev/ttyACM0"_s}}
            << Links{{1, u"/dev/pts/nonexistent"_s},
                     {2, u"{root}/dev/ttyUSB2"_s},
                     {3, u"{root}/dev/ttyACM0"_s},
                     {4, u"{root}/dev/ttyUSB10"_s}};
    }
    void numberSystemDevices()
    {
        QFETCH(QStringList, ttys);
        QFETCH(StableIds, stableIds);
        QFETCH(Links, before);
        QFETCH(Links, after);

        TempConfigHome home;
        QTemporaryDir system;
        QVERIFY(home.isValid() && system.isValid());
        const QString root = system.path();
        BuildSystem(root, ttys, stableIds);
        // Left to NumberSystemDevices to create, unless there are entries to put in it.
        if (!before.isEmpty())
            QVERIFY(QDir().mkpath(GetPortFolderPath()));
        const Links given = WithRoot(before, root);
        for (auto it = given.cbegin(); it != given.cend(); ++it)
            QVERIFY(QFile::link(it.value(), PortDevicePath(it.key())));

        const SystemDeviceRoots roots{root + u"/sys/class/tty"_s, root + u"/dev"_s,
                                      root + u"/dev/serial/by-id"_s};
        NumberSystemDevices(roots);
        QCOMPARE(Entries(), WithRoot(after, root));
        NumberSystemDevices(roots);
        QCOMPARE(Entries(), WithRoot(after, root));
    }
};

QTEST_GUILESS_MAIN(tst_PortFolder)
#include "tst_portfolder.moc"
