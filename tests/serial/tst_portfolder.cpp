#include "app/serial/CMSComm.h"
#include "app/serial/PortFolder.h"
#include "support/Paths.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

using Links = QMap<int, QString>;
using StableIds = QMap<QString, QString>;

namespace {

bool MakeLink(const QString& target, const QString& link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

// Every entry of the port folder, number -> where it points.
Links Entries()
{
    Links entries;
    for (int n = 0; n <= 256; ++n) {
        const QString entry = GetPortFolderPath() + QStringLiteral("/COM") + QString::number(n);
        struct stat info
        {
        };
        if (::lstat(QFile::encodeName(entry).constData(), &info) == 0)
            entries.insert(n, QFileInfo(entry).symLinkTarget());
    }
    return entries;
}

Links WithRoot(Links links, const QString& root)
{
    for (QString& target : links)
        target.replace(QStringLiteral("{root}"), root);
    return links;
}

// A made-up system: "<root>/sys/class/tty/<name>" entries and "<root>/dev" nodes. Each tty is
// given as its name followed by flags: "nodriver", "nonode", "type=N".
void BuildSystem(const QString& root, const QStringList& ttys, const StableIds& stableIds)
{
    for (const QString& description : ttys) {
        const QStringList parts = description.split(u' ');
        const QString name = parts.first();
        const QString entry = root + QStringLiteral("/sys/class/tty/") + name;
        QVERIFY(QDir().mkpath(entry));
        if (!parts.contains(u"nodriver"))
            QVERIFY(QDir().mkpath(entry + QStringLiteral("/device/driver")));
        for (const QString& part : parts) {
            if (part.startsWith(u"type=")) {
                QFile type(entry + QStringLiteral("/type"));
                QVERIFY(type.open(QIODevice::WriteOnly));
                type.write(part.mid(5).toLatin1() + '\n');
            }
        }
        if (!parts.contains(u"nonode")) {
            QVERIFY(QDir().mkpath(root + QStringLiteral("/dev")));
            QFile node(root + QStringLiteral("/dev/") + name);
            QVERIFY(node.open(QIODevice::WriteOnly));
        }
    }
    QVERIFY(QDir().mkpath(root + QStringLiteral("/dev/serial/by-id")));
    for (auto it = stableIds.cbegin(); it != stableIds.cend(); ++it) {
        QVERIFY(MakeLink(QStringLiteral("../../") + it.value(),
                         root + QStringLiteral("/dev/serial/by-id/") + it.key()));
    }
}

} // namespace

class tst_PortFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumerate_data();
    void enumerate();
    void baudRateText_data();
    void baudRateText();
    void numberSystemDevices_data();
    void numberSystemDevices();
    void numberSystemDevicesOnThisMachine();

private:
    std::unique_ptr<TempConfigHome> m_home;
};

void tst_PortFolder::init()
{
    m_home = std::make_unique<TempConfigHome>();
    QVERIFY(m_home->isValid());
}

void tst_PortFolder::cleanup()
{
    m_home.reset();
}

void tst_PortFolder::enumerate_data()
{
    QTest::addColumn<QList<int>>("published");
    QTest::addColumn<Links>("otherLinks");
    QTest::addColumn<QList<int>>("held");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("ports 3 and 7")
        << QList<int>{7, 3} << Links{} << QList<int>{} << QList<int>{3, 7};
    QTest::newRow("a link to a missing device is left out")
        << QList<int>{3, 7} << Links{{5, QStringLiteral("/dev/pts/nonexistent")}} << QList<int>{}
        << QList<int>{3, 7};
    QTest::newRow("a link to something that is not a terminal is left out")
        << QList<int>{3} << Links{{4, QStringLiteral("/dev/null")}} << QList<int>{}
        << QList<int>{3};
    QTest::newRow("no ports") << QList<int>{} << Links{} << QList<int>{} << QList<int>{};
    QTest::newRow("first and last number")
        << QList<int>{255, 1} << Links{} << QList<int>{} << QList<int>{1, 255};
    QTest::newRow("numbers outside 1..255 are not probed")
        << QList<int>{0, 12, 256} << Links{} << QList<int>{} << QList<int>{12};
    QTest::newRow("a port held open is left out")
        << QList<int>{3, 7} << Links{} << QList<int>{3} << QList<int>{7};
}

void tst_PortFolder::enumerate()
{
    QFETCH(QList<int>, published);
    QFETCH(Links, otherLinks);
    QFETCH(QList<int>, held);
    QFETCH(QList<int>, expected);

    std::vector<std::unique_ptr<PseudoTerminal>> terminals;
    for (int n : published) {
        terminals.push_back(std::make_unique<PseudoTerminal>());
        QVERIFY(terminals.back()->isOpen());
        QVERIFY(terminals.back()->PublishAs(n));
    }
    for (auto it = otherLinks.cbegin(); it != otherLinks.cend(); ++it)
        QVERIFY(MakeLink(it.value(), PortDevicePath(it.key())));
    std::vector<std::unique_ptr<CMSComm>> holders;
    for (int n : held) {
        holders.push_back(std::make_unique<CMSComm>());
        holders.back()->SetCommPort(static_cast<short>(n));
        holders.back()->SetPortOpen(true);
    }

    QCOMPARE(EnumeratePorts(), expected);
}

void tst_PortFolder::baudRateText_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");

    QTest::newRow("below the table") << -1 << QString();
    QTest::newRow("slowest") << 0 << QStringLiteral("2400");
    QTest::newRow("no B-constant") << 4 << QStringLiteral("28800");
    QTest::newRow("default") << 5 << QStringLiteral("38400");
    QTest::newRow("other speed without B-constant") << 7 << QStringLiteral("76800");
    QTest::newRow("fastest") << 9 << QStringLiteral("230400");
    QTest::newRow("past the table") << 10 << QString();
}

void tst_PortFolder::baudRateText()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(GetBaudRateText(index), expected);
}

void tst_PortFolder::numberSystemDevices_data()
{
    QTest::addColumn<QStringList>("ttys");
    QTest::addColumn<StableIds>("stableIds");
    QTest::addColumn<Links>("before");
    QTest::addColumn<Links>("after");

    const QString byId = QStringLiteral("{root}/dev/serial/by-id/");
    QTest::newRow("a USB adapter is linked by its stable name")
        << QStringList{QStringLiteral("ttyUSB0")}
        << StableIds{{QStringLiteral("usb-Maker_Adapter-if00"), QStringLiteral("ttyUSB0")}}
        << Links{} << Links{{1, byId + QStringLiteral("usb-Maker_Adapter-if00")}};
    QTest::newRow("a UART without a stable name is linked by its node")
        << QStringList{QStringLiteral("ttyS0 type=4")} << StableIds{} << Links{}
        << Links{{1, QStringLiteral("{root}/dev/ttyS0")}};
    QTest::newRow("8250 placeholders are skipped")
        << QStringList{QStringLiteral("ttyS0 type=4"), QStringLiteral("ttyS1 type=0"),
                       QStringLiteral("ttyS2")}
        << StableIds{} << Links{} << Links{{1, QStringLiteral("{root}/dev/ttyS0")}};
    QTest::newRow("ttys without a driver and other kinds are skipped")
        << QStringList{QStringLiteral("ttyUSB0 nodriver"), QStringLiteral("ttyprintk"),
                       QStringLiteral("tty1"), QStringLiteral("ttyACM0 nonode")}
        << StableIds{} << Links{} << Links{};
    QTest::newRow("numbers already given are kept, even when their device is gone")
        << QStringList{QStringLiteral("ttyACM0"), QStringLiteral("ttyUSB0")} << StableIds{}
        << Links{{1, QStringLiteral("/dev/pts/nonexistent")},
                 {2, QStringLiteral("{root}/dev/ttyACM0")}}
        << Links{{1, QStringLiteral("/dev/pts/nonexistent")},
                 {2, QStringLiteral("{root}/dev/ttyACM0")},
                 {3, QStringLiteral("{root}/dev/ttyUSB0")}};
    QTest::newRow("a device numbered by its node keeps that entry")
        << QStringList{QStringLiteral("ttyUSB0")}
        << StableIds{{QStringLiteral("usb-Maker_Adapter-if00"), QStringLiteral("ttyUSB0")}}
        << Links{{4, QStringLiteral("{root}/dev/ttyUSB0")}}
        << Links{{4, QStringLiteral("{root}/dev/ttyUSB0")}};
    QTest::newRow("an adapter that came back under another node keeps its number")
        << QStringList{QStringLiteral("ttyUSB3")}
        << StableIds{{QStringLiteral("usb-Maker_Adapter-if00"), QStringLiteral("ttyUSB3")}}
        << Links{{6, byId + QStringLiteral("usb-Maker_Adapter-if00")}}
        << Links{{6, byId + QStringLiteral("usb-Maker_Adapter-if00")}};
    QTest::newRow("lowest free numbers, devices in numeric order")
        << QStringList{QStringLiteral("ttyUSB10"), QStringLiteral("ttyUSB2")} << StableIds{}
        << Links{{1, QStringLiteral("/dev/pts/nonexistent")},
                 {3, QStringLiteral("/dev/pts/nonexistent2")}}
        << Links{{1, QStringLiteral("/dev/pts/nonexistent")},
                 {2, QStringLiteral("{root}/dev/ttyUSB2")},
                 {3, QStringLiteral("/dev/pts/nonexistent2")},
                 {4, QStringLiteral("{root}/dev/ttyUSB10")}};
}

void tst_PortFolder::numberSystemDevices()
{
    QFETCH(QStringList, ttys);
    QFETCH(StableIds, stableIds);
    QFETCH(Links, before);
    QFETCH(Links, after);

    QTemporaryDir system;
    QVERIFY(system.isValid());
    const QString root = system.path();
    BuildSystem(root, ttys, stableIds);
    if (!before.isEmpty())
        QVERIFY(QDir().mkpath(GetPortFolderPath()));
    const Links given = WithRoot(before, root);
    for (auto it = given.cbegin(); it != given.cend(); ++it)
        QVERIFY(MakeLink(it.value(), PortDevicePath(it.key())));

    const SystemDeviceRoots roots{root + QStringLiteral("/sys/class/tty"),
                                  root + QStringLiteral("/dev"),
                                  root + QStringLiteral("/dev/serial/by-id")};
    NumberSystemDevices(roots);
    QCOMPARE(Entries(), WithRoot(after, root));

    NumberSystemDevices(roots);
    QCOMPARE(Entries(), WithRoot(after, root));
}

void tst_PortFolder::numberSystemDevicesOnThisMachine()
{
    PseudoTerminal terminal;
    QVERIFY(terminal.PublishAs(1));
    QVERIFY(MakeLink(QStringLiteral("/dev/pts/nonexistent"), PortDevicePath(2)));

    NumberSystemDevices();
    const Links first = Entries();
    QCOMPARE(first.value(1), terminal.devicePath());
    QCOMPARE(first.value(2), QStringLiteral("/dev/pts/nonexistent"));
    for (const QString& target : first)
        QVERIFY2(target.startsWith(u"/dev/"), qPrintable(target));

    NumberSystemDevices();
    QCOMPARE(Entries(), first);
}

QTEST_GUILESS_MAIN(tst_PortFolder)
#include "tst_portfolder.moc"
