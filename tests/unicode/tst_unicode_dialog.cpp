// The generator's window offscreen: the output follows the text and every option, Copy hands
// over exactly that output, and the font choice lives in the settings file.
#include "unicode/ui/UnicodeGenDlg.h"

#include "resources/ControlIds.h"
#include "support/FileUtil.h"
#include "support/Paths.h"
#include "support/ui/TransmitBox.h"
#include "tests/common/FileBytes.h"
#include "tests/common/TempConfigHome.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// The generator deletes itself on close, so it lives on the heap as it does in the program.
struct Generator
{
    QPointer<CUnicodeGenDlg> dialog = new CUnicodeGenDlg;

    ~Generator() { delete dialog; }

    template <typename T> T* Get(int id) const { return qobject_cast<T*>(dialog->Item(id)); }
    QPlainTextEdit* Text() const { return Get<QPlainTextEdit>(ids::kUniText); }
    QString Output() const { return Get<QPlainTextEdit>(ids::kUniOutput)->toPlainText(); }
    QComboBox* Fonts() const { return Get<QComboBox>(ids::kUniFontList); }

    // Closes as the user does and waits until the window is gone.
    bool Close()
    {
        dialog->close();
        return QTest::qWaitFor([this] { return dialog.isNull(); });
    }
};

// Korean comes from an input method as committed text, not as key presses.
void Commit(QWidget* widget, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

QString SavedFont()
{
    return CFileUtil::ReadSetting(GetSettingsFilePath(), u"uni_font"_s, u"gen"_s, u"(none)"_s);
}

} // namespace

class UnicodeDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void outputFollowsTextAndOptionsAndIsCopied_data();
    void outputFollowsTextAndOptionsAndIsCopied();
    void oversizedPasteIsRefusedWithAMessage();
    void textFromEveryWayIsHeldToTheLimit_data();
    void textFromEveryWayIsHeldToTheLimit();
    void fontChoiceRoundTripsThroughTheSettingsFile();
    void uninstalledSavedFontIsShownAndKept();
};

void UnicodeDialogTest::outputFollowsTextAndOptionsAndIsCopied_data()
{
    QTest::addColumn<int>("separator");
    QTest::addColumn<bool>("wholeCommand");
    QTest::addColumn<QString>("expected");
    QTest::newRow("as opened") << ids::kUniSpace << true << "Print 'U::C548 000A B155';";
    QTest::newRow("no space") << ids::kUniNoSpace << true << "Print 'U::C548000AB155';";
    QTest::newRow("comma, codes only") << ids::kUniComma << false << "C548,000A,B155";
    QTest::newRow("hyphen, codes only") << ids::kUniHyphen << false << "C548-000A-B155";
}

// Half the text is typed before the options change and half after, so both kinds of change
// must reach the output.
void UnicodeDialogTest::outputFollowsTextAndOptionsAndIsCopied()
{
    QFETCH(int, separator);
    QFETCH(bool, wholeCommand);
    QFETCH(QString, expected);
    TempConfigHome home;
    Generator g;
    g.dialog->show();
    Commit(g.Text(), u"안"_s);
    QTest::keyClick(g.Text(), Qt::Key_Return);

    g.Get<QAbstractButton>(separator)->click();
    if (!wholeCommand)
        g.Get<QAbstractButton>(ids::kUniWholeCommand)->click();
    Commit(g.Text(), u"녕"_s);
    QCOMPARE(g.Output(), expected);

    QGuiApplication::clipboard()->setText(u"left from before"_s);
    g.Get<QAbstractButton>(ids::kUniCopy)->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
}

void UnicodeDialogTest::oversizedPasteIsRefusedWithAMessage()
{
    TempConfigHome home;
    Generator g;
    g.dialog->show();
    Commit(g.Text(), u"안"_s);
    const QString before = g.Output();
    QGuiApplication::clipboard()->setText(QString(200'000, u'x'));
    g.Text()->paste();
    QCOMPARE(g.Text()->toPlainText(), u"안"_s);
    QCOMPARE(g.Output(), before);
    const auto boxes = g.dialog->findChildren<QMessageBox*>();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first()->isVisible());
    QVERIFY(boxes.first()->text().contains(QLocale().toString(200'001)));
}

void UnicodeDialogTest::textFromEveryWayIsHeldToTheLimit_data()
{
    // Each row starts from `initial` x's; "value", "insert", "replace" and "delete" go through the
    // accessibility interface, as a screen reader or an automation tool would.
    QTest::addColumn<int>("initial");
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // empty: the box keeps its text
    QTest::addColumn<bool>("message");
    const int most = static_cast<int>(TransmitBox::kMaxCharacters);
    const QString full(most, u'x');
    QTest::newRow("value of the limit")
        << 3 << "value" << 0 << 0 << QString(most, u'y') << QString(most, u'y') << false;
    QTest::newRow("value of 800,000")
        << 3 << "value" << 0 << 0 << QString(800'000, u'y') << "" << true;
    QTest::newRow("insert up to the limit") << most - 1 << "insert" << 0 << 0 << "y"
                                            << "y" + QString(most - 1, u'x') << false;
    QTest::newRow("insert one past") << most - 1 << "insert" << 0 << 0 << "yy"
                                     << "" << true;
    QTest::newRow("replace growing past") << most << "replace" << 0 << 1 << "yy"
                                          << "" << true;
    QTest::newRow("replace shrinking a full box") << most << "replace" << 0 << most - 1 << "y"
                                                  << "yx" << false;
    QTest::newRow("delete from a full box") << most << "delete" << 1 << most << ""
                                            << "x" << false;
    QTest::newRow("input method past") << most << "commit" << 0 << 0 << u"안"_s << "" << true;
    QTest::newRow("Return in a full box") << most << "return" << 0 << 0 << ""
                                          << "" << false;
}

void UnicodeDialogTest::textFromEveryWayIsHeldToTheLimit()
{
    QFETCH(int, initial);
    QFETCH(QString, way);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(bool, message);
    TempConfigHome home;
    Generator g;
    g.dialog->show();
    const QString before(initial, u'x');
    g.Text()->setPlainText(before);
    g.Text()->moveCursor(QTextCursor::End);
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(g.Text());
    QVERIFY(box && box->textInterface() && box->editableTextInterface());

    if (way == "value")
        box->setText(QAccessible::Value, text);
    else if (way == "insert")
        box->editableTextInterface()->insertText(start, text);
    else if (way == "replace")
        box->editableTextInterface()->replaceText(start, end, text);
    else if (way == "delete")
        box->editableTextInterface()->deleteText(start, end);
    else if (way == "commit")
        Commit(g.Text(), text);
    else
        QTest::keyClick(g.Text(), Qt::Key_Return);

    const QString shown = expected.isEmpty() ? before : expected;
    QCOMPARE(box->text(QAccessible::Value), shown);
    QCOMPARE(box->textInterface()->characterCount(), shown.size());
    QCOMPARE(g.dialog->findChildren<QMessageBox*>().size(), message ? 1 : 0);
}

void UnicodeDialogTest::fontChoiceRoundTripsThroughTheSettingsFile()
{
    TempConfigHome home;
    QStringList installed = QFontDatabase::families();
    installed.removeAll(u"Tahoma"_s);
    if (installed.isEmpty())
        QSKIP("no font but the default is installed");
    const QString chosen = installed.first();
    {
        Generator g;
        QCOMPARE(g.Fonts()->currentText(), u"Tahoma"_s);
        // Opening reads the setting without creating the file.
        QVERIFY(!QFileInfo::exists(GetSettingsFilePath()));
        g.Fonts()->setCurrentIndex(g.Fonts()->findText(chosen));
        QCOMPARE(g.Text()->font().family(), chosen);
        QVERIFY(g.Close());
    }
    QCOMPARE(SavedFont(), chosen);

    Generator again;
    QCOMPARE(again.Fonts()->currentText(), chosen);
    QCOMPARE(again.Text()->font().family(), chosen);
}

void UnicodeDialogTest::uninstalledSavedFontIsShownAndKept()
{
    TempConfigHome home;
    const QString missing = u"No Such Font 7"_s;
    QVERIFY(!QFontDatabase::families().contains(missing));
    QVERIFY(QDir().mkpath(GetAppDataFolderPath()));
    // The blanks around "=" would not survive a rewrite, even of the same name.
    const QByteArray file = "[gen]\r\nport_num=3\r\nuni_font = No Such Font 7\r\n";
    QVERIFY(WriteBytes(GetSettingsFilePath(), file));

    Generator g;
    QCOMPARE(g.Fonts()->currentText(), missing);
    QCOMPARE(g.Fonts()->findText(missing), g.Fonts()->currentIndex());
    QVERIFY(g.Fonts()->count() > 1);
    QVERIFY(g.Close());
    QCOMPARE(ReadBytes(GetSettingsFilePath()), file);
}

QTEST_MAIN(UnicodeDialogTest)
#include "tst_unicode_dialog.moc"
