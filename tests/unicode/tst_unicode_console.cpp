// The generator reached from the console: through the context menu, living on by itself, and
// its whole command pasted into the transmit box going out as plain ASCII.
#include "app/ConsoleApp.h"
#include "tests/console/ConsoleFixture.h"
#include "unicode/ui/UnicodeGenDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<QPointer<CUnicodeGenDlg>> OpenGenerators()
{
    QList<QPointer<CUnicodeGenDlg>> open;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* generator = qobject_cast<CUnicodeGenDlg*>(window);
            generator && generator->isVisible())
            open.append(generator);
    return open;
}

// Right-clicks the console's background and picks the entry from the menu with the keyboard,
// as a user would; returns once the console's handler has returned.
void PickFromContextMenu(CConsoleDlg& console, const QString& entry)
{
    QTimer::singleShot(0, &console, [entry] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            if (action->text() == entry)
                menu->setActiveAction(action);
        if (menu->activeAction())
            QTest::keyClick(menu, Qt::Key_Return);
        else
            menu->close();
    });
    const QPoint corner(2, 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, corner, console.mapToGlobal(corner));
    QCoreApplication::sendEvent(&console, &event);
}

void CloseAll(const QList<QPointer<CUnicodeGenDlg>>& generators)
{
    for (const QPointer<CUnicodeGenDlg>& generator : generators)
        if (generator)
            generator->close();
}

} // namespace

class UnicodeConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void menuOpensGeneratorsThatLiveOnTheirOwn();
    void copiedCommandGoesOutAsAscii();
    void generatorTakesKeysWhileTheApplicationRunsTheConsole();
};

void UnicodeConsoleTest::menuOpensGeneratorsThatLiveOnTheirOwn()
{
    ConsoleFixture f;
    f.Start();
    PickFromContextMenu(*f.console, u"Unicode Generator..."_s);
    PickFromContextMenu(*f.console, u"Unicode Generator..."_s);
    const auto generators = OpenGenerators();
    QCOMPARE(generators.size(), 2);
    for (const auto& generator : generators) {
        QVERIFY(!generator->parent());
        QVERIFY(!generator->isModal());
    }

    f.Close();
    QTest::qWait(50);
    QCOMPARE(OpenGenerators(), generators);

    generators.first()->close();
    QVERIFY(QTest::qWaitFor([&] { return generators.first().isNull(); }));
    QVERIFY(generators.last());
    CloseAll(generators);
}

void UnicodeConsoleTest::copiedCommandGoesOutAsAscii()
{
    ConsoleFixture f;
    PseudoTerminal module;
    QVERIFY(f.StartOpen(module, 7));
    PickFromContextMenu(*f.console, u"Unicode Generator..."_s);
    const auto generators = OpenGenerators();
    QCOMPARE(generators.size(), 1);
    CUnicodeGenDlg& generator = *generators.first();

    // Korean and emoji come from an input method as committed text, not as key presses.
    QInputMethodEvent typed;
    typed.setCommitString(u"안녕 😀"_s);
    QCoreApplication::sendEvent(generator.Item(ids::kUniText), &typed);
    qobject_cast<QAbstractButton*>(generator.Item(ids::kUniCopy))->click();

    f.Transmit()->clear();
    f.Transmit()->paste();
    f.Click(ids::kSend);
    const QByteArray expected = "Print 'U::C548 B155 0020 D83D DE00';";
    QCOMPARE(module.ReadExactly(expected.size(), 3000), expected);
    QCOMPARE(module.ReadFor(100), QByteArray());
    CloseAll(generators);
}

// The application runs the console in a modal loop of its own; a generator opened from it must
// still take the keys the window system delivers to it.
void UnicodeConsoleTest::generatorTakesKeysWhileTheApplicationRunsTheConsole()
{
    TempConfigHome home;
    ResetTraceMarker(home.path() + u"/marker"_s);
    bool consoleFound = false;
    QString typed;
    QTimer::singleShot(0, [&] {
        CConsoleDlg* console = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<CConsoleDlg*>(window); found && found->isVisible())
                console = found;
        if (!console)
            return; // the test fails by timing out; nothing else would end the loop
        consoleFound = true;
        PickFromContextMenu(*console, u"Unicode Generator..."_s);
        const auto generators = OpenGenerators();
        if (generators.size() == 1) {
            CUnicodeGenDlg* generator = generators.first();
            generator->activateWindow();
            generator->Item(ids::kUniText)->setFocus();
            QTest::qWait(20);
            QTest::keyClick(generator->windowHandle(), Qt::Key_A);
            QTest::keyClick(generator->windowHandle(), Qt::Key_B);
            typed = qobject_cast<QPlainTextEdit*>(generator->Item(ids::kUniText))->toPlainText();
        }
        CloseAll(generators);
        console->close();
    });
    CConsoleApp().InitInstance();
    QVERIFY(consoleFound);
    QCOMPARE(typed, u"ab"_s);
}

QTEST_MAIN(UnicodeConsoleTest)
#include "tst_unicode_console.moc"
