// The console's window: it grows with the receive view and the transmit box taking the room,
// keeps its size from one run to the next, and sends a file from the transmit box's menu.
#include "ConsoleFixture.h"

#include "app/FileSendDlg.h"
#include "support/ui/ReceiveView.h"

#include <QAction>
#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

class ConsoleWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_f = std::make_unique<ConsoleFixture>(); }
    void cleanup()
    {
        m_f.reset();
        m_module.reset();
    }
    void resizing_data();
    void resizing();
    void keptSize_data();
    void keptSize();
    void sendFile_data();
    void sendFile();
    void closingDuringASendNamesEachByteOnce_data();
    void closingDuringASendNamesEachByteOnce();

private:
    // Chooses Send File in the transmit box's menu and answers its file dialog with `path`.
    bool SendFile(const QString& path);

    std::unique_ptr<ConsoleFixture> m_f;
    std::unique_ptr<PseudoTerminal> m_module;
};

void ConsoleWindowTest::resizing_data()
{
    QTest::addColumn<QSize>("extra");
    QTest::newRow("template size") << QSize(0, 0);
    QTest::newRow("wider") << QSize(300, 0);
    QTest::newRow("taller") << QSize(0, 401);
    QTest::newRow("wider and taller") << QSize(257, 333);
    QTest::newRow("smaller than the template") << QSize(-60, -80);
}

void ConsoleWindowTest::resizing()
{
    QFETCH(QSize, extra);
    CConsoleDlg& console = m_f->Start();
    const QSize templateSize = console.size();
    QCOMPARE(console.minimumSize(), templateSize);
    QHash<QWidget*, QRect> before;
    for (QWidget* child : console.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        before.insert(child, child->geometry());
    QWidget* transmit = m_f->Transmit();
    QWidget* receive = m_f->Get<QWidget>(ids::kReceive);

    console.resize(templateSize + extra);
    const QSize grown = extra.expandedTo(QSize(0, 0));
    QTRY_COMPARE(console.size(), templateSize + grown);
    QCOMPARE(transmit->width(), before[transmit].width() + grown.width());
    QCOMPARE(receive->width(), before[receive].width() + grown.width());
    QCOMPARE(transmit->height() + receive->height(),
             before[transmit].height() + before[receive].height() + grown.height());
    QVERIFY(transmit->height() >= before[transmit].height());
    QVERIFY(receive->geometry().top() - transmit->geometry().bottom() >=
            before[receive].top() - before[transmit].bottom());
    for (QPushButton* button : console.findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
        const QRect was = before[button];
        const QRect now = button->geometry();
        QCOMPARE(now.size(), was.size());
        QCOMPARE(now.left(), was.left());
        QVERIFY(console.rect().contains(now));
        // A button keeps its distance to the edge of what is above it: the window's top, the
        // transmit box or the receive view.
        QWidget* above = was.top() > before[receive].bottom()    ? receive
                         : was.top() > before[transmit].bottom() ? transmit
                                                                 : nullptr;
        if (above)
            QCOMPARE(now.top() - above->geometry().bottom(), was.top() - before[above].bottom());
        else
            QCOMPARE(now.top(), was.top());
    }

    // Kept once the user has stopped resizing, and the size of the next start.
    m_f->Close();
    CConsoleDlg& again = m_f->Start();
    QTRY_COMPARE(again.size(), templateSize + grown);
    QCOMPARE(m_f->Transmit()->width(), before[transmit].width() + grown.width());
}

void ConsoleWindowTest::keptSize_data()
{
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<QSize>("extra"); // over the template size, as opened
    QTest::newRow("larger") << QByteArray("+120,+90") << QSize(120, 90);
    QTest::newRow("smaller than the template") << QByteArray("+-20,+-30") << QSize(0, 0);
    QTest::newRow("narrower, taller") << QByteArray("+-20,+30") << QSize(0, 30);
    QTest::newRow("not a size") << QByteArray("wide") << QSize(0, 0);
    QTest::newRow("beyond any screen") << QByteArray("99999,99999") << QSize(0, 0);
}

// A kept size opens the window, never below the template; a damaged one opens the template.
void ConsoleWindowTest::keptSize()
{
    QFETCH(QByteArray, kept);
    QFETCH(QSize, extra);
    const QSize templateSize = m_f->Start().size();
    m_f->Close();
    if (kept.startsWith('+')) {
        const QList<QByteArray> parts = kept.mid(1).split(',');
        kept = QByteArray::number(templateSize.width() + parts[0].toInt()) + ',' +
               QByteArray::number(templateSize.height() + parts[1].mid(1).toInt());
    }
    QFile settings(m_f->SettingsFile());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[gen]\nwindow_size=" + kept + "\n");
    settings.close();
    QTRY_COMPARE(m_f->Start().size(), templateSize + extra);
}

void ConsoleWindowTest::sendFile_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("refusal"); // in a message box
    QTest::newRow("whole file") << qint64(300000) << QString();
    QTest::newRow("empty file") << qint64(0) << u"is empty"_s;
}

// Chosen through the transmit box's menu entry and its file dialog; how it ended is noted in the
// receive view, why it could not start in a message box.
void ConsoleWindowTest::sendFile()
{
    QFETCH(qint64, size);
    QFETCH(QString, refusal);
    m_module = std::make_unique<PseudoTerminal>();
    QVERIFY(m_f->StartOpen(*m_module, 4));
    const QString path = m_f->home.filePath(u"statements.txt"_s);
    QByteArray content;
    for (qint64 i = 0; content.size() < size; ++i)
        content += "Line " + QByteArray::number(i % 800) + ",0,799,479;\r\n";
    content.truncate(size);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == size);
    file.close();

    const QList<QAction*> entries = m_f->Transmit()->actions();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0]->text(), u"Send File..."_s);
    QVERIFY(SendFile(path));

    QCOMPARE(m_module->ReadExactly(size, 30000), content);
    QCOMPARE(m_module->ReadFor(100), QByteArray());
    if (refusal.isEmpty()) {
        QTRY_VERIFY(
            m_f->Get<ReceiveView>(ids::kReceive)
                ->toPlainText()
                .contains(u"[Send File: %1 bytes of statements.txt were sent]"_s.arg(size)));
    } else {
        QTRY_COMPARE(m_f->MessageBoxes().size(), 1);
        QVERIFY(m_f->MessageBoxes()[0]->text().contains(refusal));
    }
    QTRY_VERIFY(!m_f->console->findChild<FileSendDlg*>());
}

bool ConsoleWindowTest::SendFile(const QString& path)
{
    m_f->Transmit()->actions().value(0)->trigger();
    // The chooser opens from within the entry, without blocking.
    auto* chooser = m_f->console->findChild<QFileDialog*>();
    if (!chooser)
        return false;
    chooser->selectFile(path);
    static_cast<QDialog*>(chooser)->accept();
    return true;
}

void ConsoleWindowTest::closingDuringASendNamesEachByteOnce_data()
{
    QTest::addColumn<bool>("statementBehind"); // a button's statement queued behind the file
    QTest::newRow("only the file was queued") << false;
    QTest::newRow("a statement waited behind the file") << true;
}

// The receive view's note on dropped output and Send File's own note do not both count the
// file's bytes: together they name every byte that did not reach the module, each once.
void ConsoleWindowTest::closingDuringASendNamesEachByteOnce()
{
    QFETCH(bool, statementBehind);
    m_module = std::make_unique<PseudoTerminal>();
    QVERIFY(m_f->StartOpen(*m_module, 4));
    m_f->Check(ids::kRandomColor)->setChecked(false);
    const qint64 size = 1'000'000;
    const QString path = m_f->home.filePath(u"statements.txt"_s);
    QVERIFY(WriteBytes(
        path, QByteArray("Line 1,1,2,2;\r\n").repeated(size / 15).leftJustified(size, ';')));
    QVERIFY(SendFile(path));
    // The module reads nothing: the terminal fills, then the control's queue.
    CMSComm& comm = m_f->console->Comm();
    QTRY_VERIFY(comm.QueuedOutputBytes(FileSender::kSendGroup) >= FileSender::kQueueLimit);
    qint64 statement = 0;
    if (statementBehind) {
        m_f->Click(ids::kLine);
        statement = m_f->Transmit()->toPlainText().size();
    }
    m_f->Click(ids::kClose);

    const QString shown = m_f->Get<ReceiveView>(ids::kReceive)->toPlainText();
    const QRegularExpressionMatch file =
        QRegularExpression(
            u"\\[Send File: (\\d+) of 1000000 bytes of statements.txt were not sent: "
            u"the port was closed\\]"_s)
            .match(shown);
    QVERIFY2(file.hasMatch(), qPrintable(shown));
    const qint64 fileNotSent = file.captured(1).toLongLong();
    QStringList others;
    for (const QRegularExpressionMatch& note :
         QRegularExpression(u"\\[(\\d+) bytes of queued output were not sent"_s).globalMatch(shown))
        others << note.captured(1);
    QCOMPARE(others, statementBehind ? QStringList{QString::number(statement)} : QStringList());
    QCOMPARE(qint64(m_module->ReadFor(500).size()), size - fileNotSent);
}

QTEST_MAIN(ConsoleWindowTest)
#include "tst_console_window.moc"
