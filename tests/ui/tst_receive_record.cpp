// The record the receive view keeps: Clear, Save As, the live log and time stamps, driven through
// its context menu and real file dialogs, with real files in a temporary folder.
#include "support/RandomSource.h"
#include "support/ui/ControlUtil.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/FileBytes.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/ReportDisplay.h"
#include "tests/console/ConsoleFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Stands for the user's "Clear" between appends in a table row.
const QByteArray kClear = "<clear>";

QList<QMessageBox*> MessageBoxes(QWidget& window)
{
    QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
    boxes.removeIf([](const QMessageBox* box) { return !box->isVisible(); });
    return boxes;
}

// Triggers the context-menu entry whose caption starts with `entry`.
bool Choose(ReceiveView& view, const QString& entry)
{
    const std::unique_ptr<QMenu> menu = view.CreateContextMenu();
    for (QAction* action : menu->actions())
        if (action->text().startsWith(entry))
            return action->trigger(), true;
    return false;
}

// Chooses `entry` and answers its file dialog with `path`; `folder` gets where the dialog opened.
bool ChooseFile(ReceiveView& view, const QString& entry, const QString& path,
                QString* folder = nullptr)
{
    if (!Choose(view, entry))
        return false;
    QList<QFileDialog*> dialogs = view.findChildren<QFileDialog*>();
    dialogs.removeIf([](const QFileDialog* dialog) { return !dialog->isVisible(); });
    if (dialogs.size() != 1)
        return false;
    QFileDialog* dialog = dialogs[0];
    if (folder)
        *folder = dialog->directory().absolutePath();
    dialog->selectFile(path);
    return QMetaObject::invokeMethod(dialog, "accept"); // what its Save button does
}

void Feed(ReportDisplay& decoder, ReceiveView& view, QByteArrayView bytes)
{
    std::vector<ColoredText> pieces;
    decoder.Feed(bytes, pieces);
    for (const ColoredText& piece : pieces)
        CControlUtil::AppendColoredText(&view, piece.text, piece.colour, false);
}

} // namespace

class ReceiveRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void savesWhatItHolds_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("error");

        QTest::newRow("line breaks as shown, 8-bit characters as UTF-8")
            << QByteArrayList{"02 81\r\n", "caf\xE9\r", "\nend"} << "saved.txt"
            << QByteArray("02 81\ncaf\xC3\xA9\nend") << QString();
        QTest::newRow("cleared text is not counted as dropped")
            << QByteArrayList{"old\r\n", kClear, "new"} << "saved.txt" << QByteArray("new")
            << QString();
        QTest::newRow("missing folder") << QByteArrayList{"text"} << "no/such/saved.txt"
                                        << QByteArray() << "No such file or directory";
    }
    void savesWhatItHolds()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(QString, target);
        QFETCH(QByteArray, saved);
        QFETCH(QString, error);
        QTemporaryDir dir;
        ReceiveView view;
        view.show();
        for (const QByteArray& piece : appends) {
            if (piece == kClear)
                QVERIFY(Choose(view, "Clear"));
            else
                view.Append(piece, Qt::blue, false);
        }

        const QString path = dir.filePath(target);
        QVERIFY(ChooseFile(view, "Save As...", path));
        // Written on a thread of its own, so wait for the file or the message.
        QTRY_VERIFY(ReadBytes(path) == saved &&
                    MessageBoxes(view).size() == (error.isEmpty() ? 0 : 1));
        if (!error.isEmpty()) {
            const QString shown = MessageBoxes(view)[0]->text();
            QVERIFY2(shown.contains(path) && shown.contains(error), qPrintable(shown));
            return;
        }

        // The next dialog of the session opens where the last file went.
        QString folder;
        QVERIFY(ChooseFile(view, "Save As...", dir.filePath("again.txt"), &folder));
        QCOMPARE(folder, QFileInfo(path).absolutePath());
    }

    // What Save As must not replace or empty: the old file stays byte for byte, a node stays
    // a node, and the message names the file and the cause.
    void saveAsLeavesWhatItCannotReplace_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("characters");
        QTest::addColumn<QString>("cause");
        QTest::newRow("full disk, text smaller than a write buffer")
            << "file" << 3240 << "File too large";
        QTest::newRow("full disk, large text") << "file" << 64800 << "File too large";
        QTest::newRow("pipe") << "pipe" << 100 << "not a regular file";
        QTest::newRow("character device") << "device" << 8262 << "not a regular file";
    }
    void saveAsLeavesWhatItCannotReplace()
    {
        QFETCH(QString, kind);
        QFETCH(int, characters);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        const QString path = dir.filePath("target");
        const QByteArray encoded = QFile::encodeName(path);
        const QByteArray before(1600, 'o');
        if (kind == "file")
            QVERIFY(WriteBytes(path, before));
        if (kind == "pipe")
            QCOMPARE(::mkfifo(encoded.constData(), 0600), 0);
        // The null device's node, made here and never opened.
        if (kind == "device" && ::mknod(encoded.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("character devices cannot be made here");
        ReceiveView view;
        view.show();
        view.Append(QByteArray(characters, 'r'), Qt::black, false);
        {
            std::optional<FileSizeLimit> limit;
            if (kind == "file")
                limit.emplace(1024);
            // The dialog asks whether to replace what is there; the user says Yes.
            QTimer yes;
            connect(&yes, &QTimer::timeout, [] {
                auto* ask = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (QAbstractButton* button = ask ? ask->button(QMessageBox::Yes) : nullptr)
                    button->click();
            });
            yes.start(10);
            QVERIFY(ChooseFile(view, "Save As...", path));
            yes.stop();
            QTRY_COMPARE(MessageBoxes(view).size(), 1);
        }
        const QString shown = MessageBoxes(view)[0]->text();
        QVERIFY2(shown.contains(path) && shown.contains(cause), qPrintable(shown));
        const QFileInfo node(path);
        QCOMPARE(node.isFile(), kind == "file");
        if (kind == "file")
            QCOMPARE(ReadBytes(path), before);
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"target"});
    }

    void logsEveryShownPieceAsItArrives()
    {
        // A megabyte of binary and text-form reports with line noise between them.
        SeededRandom rng(15);
        QByteArray stream;
        while (stream.size() < 1'000'000) {
            const int kind = rng.Draw() % 3;
            stream += kind == 0   ? QByteArray("\x02\x81\x05\x01\x00\x00\x00\x03", 8)
                      : kind == 1 ? QByteArray("\x02"
                                               "8B0000000\x03")
                                  : QByteArray(1 + rng.Draw() % 20, 'n');
        }
        // The Clear falls inside a report, which must still be decoded whole.
        const qsizetype clearAt = stream.indexOf('\x02', stream.size() / 2) + 3;
        QTemporaryDir dir;
        const QString path = dir.filePath("session.log");
        ReceiveView view;
        view.show();
        QVERIFY(ChooseFile(view, "Log to File...", path));
        ReportDisplay decoder(rng);
        const auto feed = [&](qsizetype from, qsizetype to) {
            for (qsizetype at = from; at < to; at += 997)
                Feed(decoder, view, QByteArrayView(stream).sliced(at, std::min(997LL, to - at)));
        };
        // A trickle reaches the file within the flush period, not only at the end.
        feed(0, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(ReadBytes(path), view.toPlainText().toLatin1(), 1000);
        feed(1000, clearAt);
        QVERIFY(ReadBytes(path).size() > view.textSize() / 2);
        const QByteArray beforeClear = view.toPlainText().toLatin1();
        QVERIFY(Choose(view, "Clear"));
        feed(clearAt, stream.size());

        QVERIFY(view.toPlainText().section(u'\n', 0, 0).contains(QLatin1String(" : $on_")));
        QVERIFY(Choose(view, "Log to File... (" + path + ")"));
        QVERIFY(!view.IsLogging());
        QCOMPARE(ReadBytes(path), beforeClear + view.toPlainText().toLatin1());
    }

    void aFailedLogWriteStopsOnceAndKeepsWhatWasWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("full.log");
        ReceiveView view;
        view.show();
        QVERIFY(view.StartLog(path, nullptr));
        const QByteArray text(ReceiveLog::kFlushBytes * 2, 'x');
        {
            const FileSizeLimit limit(10'000);
            QVERIFY(limit.set);
            view.Append(text, Qt::black, false);
            view.Append(text, Qt::black, false);
        }
        QVERIFY(!view.IsLogging());
        QCOMPARE(ReadBytes(path), text.left(10'000));
        const QList<QMessageBox*> boxes = MessageBoxes(view);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0]->text().contains(path) && boxes[0]->text().contains("File too large"),
                 qPrintable(boxes[0]->text()));
        QCOMPARE(view.textSize(), text.size() * 2);
    }

    void timeStampsBeginEachNewLine_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<int>("stampsFrom"); // the append before which stamps are turned on
        QTest::addColumn<QString>("text");

        QTest::newRow("a line has the time of its first character")
            << QByteArrayList{"ab", "c\r\nd", "e\n"} << 0 << "00:00:01.000 abc\n00:00:02.000 de\n";
        QTest::newRow("an empty line is stamped, a split CR LF is one break")
            << QByteArrayList{"a\r", "\n", "\n", "b"} << 0
            << "00:00:01.000 a\n00:00:03.000 \n00:00:04.000 b";
        QTest::newRow("turned on mid-line, the line shown stays as it is")
            << QByteArrayList{"ab", "cd\ref"} << 1 << "abcd\n00:00:02.000 ef";
        QTest::newRow("after Clear the next text starts a stamped line")
            << QByteArrayList{"ab\r", kClear, "\ncd\r"} << 0 << "00:00:03.000 cd\n";
    }
    void timeStampsBeginEachNewLine()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(int, stampsFrom);
        QFETCH(QString, text);
        QTemporaryDir dir;
        ReceiveView view;
        QTime now(0, 0);
        view.SetClock([&now] { return now; });
        QVERIFY(view.StartLog(dir.filePath("stamped.log"), nullptr));
        for (int i = 0; i < appends.size(); ++i) {
            now = QTime(0, 0, i + 1);
            if (i == stampsFrom)
                QVERIFY(Choose(view, "Time Stamps"));
            if (appends[i] == kClear)
                QVERIFY(Choose(view, "Clear"));
            else
                view.Append(appends[i], Qt::black, false);
        }
        QVERIFY(view.TimeStamps());
        view.StopLog();
        QCOMPARE(view.toPlainText(), text);
        // The log holds what was shown, the cleared part too.
        const QByteArray log = ReadBytes(dir.filePath("stamped.log"));
        QCOMPARE(log.right(text.size()), text.toLatin1());
        QVERIFY(appends.contains(kClear) || log.size() == text.size());
    }

    void theConsoleKeepsTheStampChoiceAndFlushesTheLogWhenItCloses()
    {
        ConsoleFixture f;
        const QString log = f.home.filePath("console.log");
        for (const bool stamps : {true, false}) {
            auto* view = f.Start().findChild<ReceiveView*>();
            QVERIFY(view);
            QCOMPARE(view->TimeStamps(), !stamps);
            view->SetTimeStamps(stamps);
            QVERIFY(view->StartLog(log, nullptr));
            view->Append("line\r\n", Qt::black, false);
            const QString shown = view->toPlainText();
            f.Close();
            QVERIFY(ReadBytes(log).endsWith(shown.toLatin1()));
            QVERIFY(ReadBytes(f.SettingsFile())
                        .contains(stamps ? "rx_timestamps=1" : "rx_timestamps=0"));
        }
    }
};

QTEST_MAIN(ReceiveRecordTest)
#include "tst_receive_record.moc"
