// The style buttons through the real command dialog, and the last row's buttons, end to end: what
// the user keeps in the dialog is what reaches the module's end of a pseudo-terminal.
#include "ConsoleFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <functional>

namespace {

QPushButton* Button(QWidget* dialog, int id)
{
    return dialog->findChild<QPushButton*>(QStringLiteral("ctrl%1").arg(id));
}

QLineEdit* CommandEdit(QWidget* dialog)
{
    return dialog->findChild<QLineEdit*>(QStringLiteral("ctrl%1").arg(ids::kCommandEdit));
}

// Runs `act` on the modal window a press opens, once it is shown and, for the command dialog,
// once its first paint has selected the proposal's values. A selection that never comes is left
// to the test's own checks after 10 s.
void OnModal(std::function<void(QWidget*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll,
                     [poll, act, sinceShown = QElapsedTimer()]() mutable {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (!modal || !modal->isVisible())
                             return;
                         if (!sinceShown.isValid())
                             sinceShown.start();
                         QLineEdit* edit = CommandEdit(modal);
                         if (edit && !edit->hasSelectedText() && !sinceShown.hasExpired(10000))
                             return;
                         poll->stop();
                         poll->deleteLater();
                         act(modal);
                     });
    poll->start(10);
}

} // namespace

class ConsoleStyleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void proposalSelectsItsValues_data();
    void proposalSelectsItsValues();
    void dialogActions_data();
    void dialogActions();
    void dotSizeWithCtrlHeld();
    void touchCalibration_data();
    void touchCalibration();
    void setClockSendsTheLocalTime();

private:
    QByteArray Arrived() { return m_module->ReadFor(150); }

    std::unique_ptr<ConsoleFixture> m_f;
    std::unique_ptr<PseudoTerminal> m_module;
};

void ConsoleStyleTest::init()
{
    m_f = std::make_unique<ConsoleFixture>();
    m_module = std::make_unique<PseudoTerminal>();
    QVERIFY(m_f->StartOpen(*m_module, 4));
}

void ConsoleStyleTest::cleanup()
{
    m_f.reset();
    m_module.reset();
}

void ConsoleStyleTest::proposalSelectsItsValues_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("selection");
    const QString font = "\\d+,'(Courier New|Tahoma)',[01](,[01],[01])?";
    const QString colour = "[0-9A-F]{6}(,&H[0-9A-F]{6}|,\\$transparent)?";
    QTest::newRow("DotSize") << ids::kDotSize << "Dotsize "
                             << "\\d+";
    QTest::newRow("Color") << ids::kColor << "Color &H"
                           << "[0-9A-F]{6}";
    QTest::newRow("TextPos (TopLeft)") << ids::kTextPosTopLeft << "TextPos "
                                       << "\\d+,\\d+";
    QTest::newRow("TextPos (Rect)") << ids::kTextPosRect << "TextPos "
                                    << "(\\d+,){3}\\d+";
    QTest::newRow("CtrlFont") << ids::kCtrlFont << "CtrlFont " << font;
    QTest::newRow("TextFont") << ids::kTextFont << "Textfont " << font;
    QTest::newRow("TextColor") << ids::kTextColor << "TextColor &H" << colour;
    QTest::newRow("CtrlColor") << ids::kCtrlColor << "CtrlColor &H" << colour;
}

// The proposal is the keyword, the selected values and ";"; OK without editing sends it as is.
void ConsoleStyleTest::proposalSelectsItsValues()
{
    QFETCH(int, id);
    QFETCH(QString, keyword);
    QFETCH(QString, selection);
    QString proposed, selected;
    OnModal([&](QWidget* dialog) {
        proposed = CommandEdit(dialog)->text();
        selected = CommandEdit(dialog)->selectedText();
        Button(dialog, ids::kCommandOk)->click();
    });
    m_f->Click(id);
    QVERIFY(QRegularExpression(QRegularExpression::anchoredPattern(selection))
                .match(selected)
                .hasMatch());
    QCOMPARE(proposed, keyword + selected + ";");
    QCOMPARE(Arrived(), proposed.toLatin1());
}

void ConsoleStyleTest::dialogActions_data()
{
    QTest::addColumn<std::function<void(QWidget*)>>("action");
    QTest::addColumn<QByteArray>("sent");
    using Action = std::function<void(QWidget*)>;
    QTest::newRow("overtype the selection, OK") << Action([](QWidget* dialog) {
        QTest::keyClicks(CommandEdit(dialog), "FF0000");
        Button(dialog, ids::kCommandOk)->click();
    }) << QByteArray("Color &HFF0000;");
    QTest::newRow("Cancel") << Action([](QWidget* dialog) {
        QTest::keyClicks(CommandEdit(dialog), "FF0000");
        Button(dialog, ids::kCommandCancel)->click();
    }) << QByteArray();
    QTest::newRow("Escape") << Action([](QWidget* dialog) {
        QTest::keyClick(CommandEdit(dialog), Qt::Key_Escape);
    }) << QByteArray();
    QTest::newRow("close button") << Action([](QWidget* dialog) { dialog->close(); })
                                  << QByteArray();
    QTest::newRow("Enter does nothing, then Cancel") << Action([](QWidget* dialog) {
        QTest::keyClick(CommandEdit(dialog), Qt::Key_Return);
        QTest::keyClick(CommandEdit(dialog), Qt::Key_Enter);
        QVERIFY(dialog->isVisible());
        Button(dialog, ids::kCommandCancel)->click();
    }) << QByteArray();
    QTest::newRow("cleared text, OK") << Action([](QWidget* dialog) {
        CommandEdit(dialog)->clear();
        Button(dialog, ids::kCommandOk)->click();
    }) << QByteArray();
}

void ConsoleStyleTest::dialogActions()
{
    QFETCH(std::function<void(QWidget*)>, action);
    QFETCH(QByteArray, sent);
    m_f->Transmit()->setPlainText("before");
    OnModal(action);
    m_f->Click(ids::kColor);
    QCOMPARE(Arrived(), sent);
    // OK echoes what it hands over, even an empty text; Cancel leaves the box alone.
    const bool ok = QString(QTest::currentDataTag()).endsWith("OK");
    QCOMPARE(m_f->Transmit()->toPlainText(), ok ? QString::fromLatin1(sent) : "before");
    QVERIFY(m_f->MessageBoxes().isEmpty());
}

void ConsoleStyleTest::dotSizeWithCtrlHeld()
{
    // Through the platform's own key path, so the keyboard-modifier query sees Ctrl down.
    QWindow* window = m_f->console->windowHandle();
    QTest::keyPress(window, Qt::Key_Control, Qt::ControlModifier);
    QString proposed, selected;
    OnModal([&](QWidget* dialog) {
        proposed = CommandEdit(dialog)->text();
        selected = CommandEdit(dialog)->selectedText();
        Button(dialog, ids::kCommandOk)->click();
    });
    m_f->Click(ids::kDotSize);
    QTest::keyRelease(window, Qt::Key_Control);
    QCOMPARE(proposed, QString("Dotsize 8;"));
    QCOMPARE(selected, QString("8"));
    QCOMPARE(Arrived(), QByteArray("Dotsize 8;"));
}

void ConsoleStyleTest::touchCalibration_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << QByteArray("Calibrate;");
    QTest::newRow("No") << int(QMessageBox::No) << QByteArray();
}

void ConsoleStyleTest::touchCalibration()
{
    QFETCH(int, answer);
    QFETCH(QByteArray, sent);
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    OnModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::StandardButton(answer))->click();
    });
    m_f->Click(ids::kTouchCalibration);
    QCOMPARE(text, QString("A Sharp pen ready ?"));
    QCOMPARE(caption, QString("Touch Calibration"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(Arrived(), sent);
}

void ConsoleStyleTest::setClockSendsTheLocalTime()
{
    m_f->console->SetTimeSource([] { return QDateTime(QDate(2008, 4, 25), QTime(9, 5, 7)); });
    m_f->Click(ids::kSetClock);
    QCOMPARE(Arrived(), QByteArray("SetClock 2008,4,25,9,5,7;"));
    QCOMPARE(m_f->Transmit()->toPlainText(), QString("SetClock 2008,4,25,9,5,7;"));
}

QTEST_MAIN(ConsoleStyleTest)
#include "tst_console_style.moc"
