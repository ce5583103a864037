// The console's small decisions that need no port: which port entry to select, which number a
// port text names, the caption's version text, decimal conversion, the band rule, and that the
// command table names each of its buttons once.
#include "app/CommandTable.h"
#include "app/PortSelection.h"
#include "resources/DialogTemplate.h"
#include "resources/VersionText.h"
#include "support/Decimal.h"
#include "support/ui/WindowUtil.h"

#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QWidget>

class ConsoleLogicTest : public QObject
{
    Q_OBJECT

private slots:
    void portEntryToSelect_data();
    void portEntryToSelect();
    void portNumberFromText_data();
    void portNumberFromText();
    void versionText_data();
    void versionText();
    void decimalValue_data();
    void decimalValue();
    void enableChildrenInRect();
    void commandRowsAreButtonsOnce();
};

void ConsoleLogicTest::portEntryToSelect_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("saved");
    QTest::addColumn<int>("selected");
    const QStringList oneAndTen{"COM1", "COM10"};
    QTest::newRow("saved 1 prefers COM10 after COM1") << oneAndTen << 1 << 1;
    QTest::newRow("saved 10") << oneAndTen << 10 << 1;
    QTest::newRow("search wraps to the first entry") << QStringList{"COM3", "COM7"} << 3 << 0;
    QTest::newRow("saved port gone") << QStringList{"COM3", "COM7"} << 5 << -1;
    QTest::newRow("no saved port: first entry") << QStringList{"COM3", "COM7"} << -1 << 0;
    QTest::newRow("saved 0: first entry") << QStringList{"COM3"} << 0 << 0;
    QTest::newRow("empty list, saved port") << QStringList{} << 3 << -1;
    QTest::newRow("empty list, no saved port") << QStringList{} << -1 << -1;
    QTest::newRow("case-insensitive") << QStringList{"com2", "COM4"} << 2 << 0;
    QTest::newRow("single entry matching") << QStringList{"COM12"} << 12 << 0;
}

void ConsoleLogicTest::portEntryToSelect()
{
    QFETCH(QStringList, entries);
    QFETCH(int, saved);
    QFETCH(int, selected);
    QCOMPARE(PortEntryToSelect(entries, saved), selected);
}

void ConsoleLogicTest::portNumberFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("checkPrefix");
    QTest::addColumn<int>("number");
    QTest::newRow("open: COM7") << "COM7" << false << 7;
    QTest::newRow("open: prefix not checked") << "XYZ12" << false << 12;
    QTest::newRow("open: empty list") << "" << false << 0;
    QTest::newRow("save: COM7") << "COM7" << true << 7;
    QTest::newRow("save: lower case prefix") << "com255" << true << 255;
    QTest::newRow("save: no prefix") << "12" << true << 12;
    QTest::newRow("save: nothing selected") << "" << true << 0;
    QTest::newRow("save: not a number") << "COMx" << true << 0;
}

void ConsoleLogicTest::portNumberFromText()
{
    QFETCH(QString, text);
    QFETCH(bool, checkPrefix);
    QFETCH(int, number);
    QCOMPARE(PortNumberFromText(text, checkPrefix), number);
}

void ConsoleLogicTest::versionText_data()
{
    QTest::addColumn<QByteArray>("productVersion");
    QTest::addColumn<QString>("text");
    QTest::newRow("this build's") << ProductVersion().toByteArray() << "1.03";
    QTest::newRow("1, 0, 3, 1") << QByteArray("1, 0, 3, 1") << "1.03";
    QTest::newRow("major wraps at 100") << QByteArray("123, 4, 5, 6") << "23.45";
    QTest::newRow("minor digits only") << QByteArray("2, 17, 38, 0") << "2.78";
    QTest::newRow("negative parts still digits") << QByteArray("-5, -1, 3, 1") << "95.93";
    QTest::newRow("three parts") << QByteArray("1, 0, 3") << "0.00";
    QTest::newRow("missing") << QByteArray() << "0.00";
}

void ConsoleLogicTest::versionText()
{
    QFETCH(QByteArray, productVersion);
    QFETCH(QString, text);
    QCOMPARE(VersionText(productVersion), text);
}

void ConsoleLogicTest::decimalValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "5" << 5;
    QTest::newRow("negative") << "-7" << -7;
    QTest::newRow("leading blanks, trailing junk") << "  12abc" << 12;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("too large clamps") << "99999999999" << INT_MAX;
    QTest::newRow("too small clamps") << "-99999999999" << INT_MIN;
}

void ConsoleLogicTest::decimalValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(DecimalValue(text), value);
}

void ConsoleLogicTest::enableChildrenInRect()
{
    QWidget parent;
    auto make = [&](QWidget* owner, QRect geometry, int id) {
        auto* w = new QPushButton(owner);
        w->setGeometry(geometry);
        w->setProperty("ctrlId", id);
        return w;
    };
    QWidget* inside = make(&parent, {10, 10, 20, 20}, 1);
    QWidget* onRightEdge = make(&parent, {80, 10, 20, 20}, 2);  // right edge at x = 100
    QWidget* onBottomEdge = make(&parent, {10, 80, 20, 20}, 3); // bottom edge at y = 100
    QWidget* lastPixelIn = make(&parent, {79, 79, 20, 20}, 4);  // corner at (99, 99)
    QWidget* skipped = make(&parent, {30, 30, 10, 10}, 5);
    QWidget* grandchild = make(inside, {1, 1, 5, 5}, 6);
    const WinRect rect{0, 0, 100, 100};

    CWindowUtil::EnableChildrenInRect(&parent, false, rect, {5});

    QVERIFY(!inside->isEnabled());
    QVERIFY(onRightEdge->isEnabled());
    QVERIFY(onBottomEdge->isEnabled());
    QVERIFY(!lastPixelIn->isEnabled());
    QVERIFY(skipped->isEnabled());
    QVERIFY(grandchild->isEnabledTo(inside)); // its own flag: only direct children are touched
    QCOMPARE(CWindowUtil::GetRectInParent(&parent), WinRect{});
    QCOMPARE(CWindowUtil::GetRectInParent(inside), (WinRect{10, 10, 30, 30}));
}

// A row whose id is no button of the console binds nothing, and two rows of one button would send
// two statements a press.
void ConsoleLogicTest::commandRowsAreButtonsOnce()
{
    QSet<int> buttons;
    for (const DialogItem& item : ConsoleTemplate().items)
        if (item.kind == ItemKind::PushButton)
            buttons.insert(item.id);
    QSet<int> seen;
    for (const CommandRow& row : CommandRows()) {
        QVERIFY2(buttons.contains(row.id), qPrintable(QString::number(row.id)));
        QVERIFY2(!seen.contains(row.id), qPrintable(QString::number(row.id)));
        seen.insert(row.id);
        QVERIFY(row.compose);
        QCOMPARE(row.question != nullptr, row.echo == EchoRule::Asked);
    }
}

QTEST_MAIN(ConsoleLogicTest)
#include "tst_console_logic.moc"
