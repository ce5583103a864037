#include "support/ui/ControlUtil.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/FileBytes.h"
#include "tests/common/ReportDisplay.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

QAccessibleTextInterface* TextInterfaceOf(ReceiveView& view)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    return iface ? iface->textInterface() : nullptr;
}

// Just inside the left edge of character `offset`, in viewport coordinates, where the view tells
// assistive technology it is painted.
QPoint CharacterPoint(ReceiveView& view, int offset)
{
    const QRect global = TextInterfaceOf(view)->characterRect(offset);
    return view.viewport()->mapFromGlobal(QPoint(global.left() + 1, global.center().y()));
}

bool Show(ReceiveView& view, int width, int height)
{
    view.resize(width, height);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

// The bytes of a dump as the decoder shows them: a pair of hex digits per byte, separated by
// blanks, line breaks and " : ", and the meaning of a report from " : $" to its line's end.
QByteArray BytesInDump(const QString& shown, QString* error)
{
    QByteArray bytes;
    for (QString line : shown.split(u'\n')) {
        if (const qsizetype meaning = line.indexOf(QLatin1String(" : $")); meaning >= 0)
            line.truncate(meaning);
        line.replace(QLatin1String(" : "), QLatin1String(" "));
        for (const QString& pair : line.split(u' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            bytes.append(static_cast<char>(pair.toInt(&ok, 16)));
            if (!ok || pair.size() != 2 || pair != pair.toUpper()) {
                *error = QStringLiteral("\"%1\" after %2 bytes").arg(pair).arg(bytes.size() - 1);
                return bytes;
            }
        }
    }
    return bytes;
}

// Counts the paints a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class ReceiveViewTest : public QObject
{
    Q_OBJECT

private slots:
    void coloursAreKeptAndPaintedPerRun()
    {
        ReceiveView view;
        QVERIFY(Show(view, 300, 120));
        CControlUtil::AppendColoredText(&view, "MMMM", 0x000000FF, false);
        CControlUtil::AppendColoredText(&view, "MMMM\r\n", 0x000000FF, false);
        CControlUtil::AppendColoredText(&view, "MMMMMMMM", 0x00FF3412, true);
        CControlUtil::AppendColoredText(nullptr, "lost", 0, false);

        QAccessibleTextInterface* text = TextInterfaceOf(view);
        int start = -1;
        int end = -1;
        QCOMPARE(text->attributes(1, &start, &end),
                 QStringLiteral("font-weight:normal;color:rgb(255,0,0);"));
        QCOMPARE(std::pair(start, end), std::pair(0, 9));
        QCOMPARE(text->attributes(12, &start, &end),
                 QStringLiteral("font-weight:bold;color:rgb(18,52,255);"));
        QCOMPARE(std::pair(start, end), std::pair(9, 17));

        const QImage image = view.viewport()->grab().toImage();
        const int rowHeight = text->characterRect(0).height();
        const auto countInRow = [&](int row, auto predicate) {
            int count = 0;
            for (int y = row * rowHeight; y < (row + 1) * rowHeight; ++y) {
                for (int x = 0; x < image.width(); ++x)
                    count += predicate(image.pixelColor(x, y)) ? 1 : 0;
            }
            return count;
        };
        const auto reddish = [](QColor c) { return c.red() > 150 && c.blue() < 100; };
        const auto bluish = [](QColor c) { return c.blue() > 150 && c.red() < 100; };
        QVERIFY(countInRow(0, reddish) > 10);
        QCOMPARE(countInRow(0, bluish), 0);
        QVERIFY(countInRow(1, bluish) > 10);
        QCOMPARE(countInRow(1, reddish), 0);
    }

    // Every character takes its column, as selection and hit testing expect; characters that
    // text layout would draw as nothing must not pull the rest of the row left.
    void paintsEachCharacterInItsColumn_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("letter") << QByteArray("x");
        QTest::newRow("tab") << QByteArray("\t");
        QTest::newRow("soft hyphen") << QByteArray("\xAD");
    }

    void paintsEachCharacterInItsColumn()
    {
        QFETCH(QByteArray, before);
        ReceiveView view;
        QVERIFY(Show(view, 300, 120));
        view.Append(before + "MMMMMMMMMMMMMMMMMMMM", Qt::black, false);
        QTest::qWait(50);
        const QImage image = view.viewport()->grab().toImage();
        const QRect last = TextInterfaceOf(view)->characterRect(20);
        const QRect cell(view.viewport()->mapFromGlobal(last.topLeft()), last.size());
        int ink = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x)
                ink += image.pixelColor(x, y).lightness() < 128 ? 1 : 0;
        }
        QVERIFY2(ink > 5,
                 qPrintable(QStringLiteral("%1 dark pixels in the last M's cell").arg(ink)));
    }

    void keepsTheNewestWholeLines()
    {
        ReceiveView view;
        const qsizetype lineLength = 1000; // with its CR LF
        const int lines = static_cast<int>(ReceiveView::kKeepCharacters * 3 / 2 / lineLength);
        QByteArray line(lineLength, '.');
        line[lineLength - 2] = '\r';
        line[lineLength - 1] = '\n';
        for (int i = 0; i < lines; ++i) {
            const QByteArray number = QByteArray::number(i).rightJustified(8, '0');
            std::copy(number.begin(), number.end(), line.begin());
            view.Append(line, Qt::black, false);
        }
        QVERIFY(view.textSize() >= ReceiveView::kKeepCharacters);
        QVERIFY(view.textSize() < ReceiveView::kKeepCharacters * 5 / 4);

        // Whole lines only, the newest last, none missing in between.
        const QString text = view.toPlainText();
        const qsizetype shownLength = lineLength - 1;
        QCOMPARE(text.size() % shownLength, 0);
        const int held = static_cast<int>(text.size() / shownLength);
        QCOMPARE(text.left(8).toInt(), lines - held);
        QCOMPARE(text.mid(text.size() - shownLength, 8).toInt(), lines - 1);
        QCOMPARE(text.mid((held / 2) * shownLength, 8).toInt(), lines - held + held / 2);

        // A saved copy says how much went before what it holds.
        QTemporaryDir dir;
        QString error;
        QVERIFY(view.SaveTo(dir.filePath("saved.txt"), &error));
        const qsizetype dropped = qsizetype{lines} * shownLength - text.size();
        QCOMPARE(ReadBytes(dir.filePath("saved.txt")),
                 QByteArray::number(dropped).prepend('[') +
                     " bytes of older text were dropped before this line]\n" + text.toLatin1());
    }

    void followsTheEndUnlessScrolledUp()
    {
        ReceiveView view;
        QVERIFY(Show(view, 300, 150));
        QScrollBar* bar = view.verticalScrollBar();
        for (int i = 0; i < 200; ++i)
            view.Append("line\r\n", Qt::black, false);
        QTRY_VERIFY(bar->maximum() > 100);
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(10);
        const int oldMaximum = bar->maximum();
        for (int i = 0; i < 50; ++i)
            view.Append("more\r\n", Qt::black, false);
        QTRY_VERIFY(bar->maximum() > oldMaximum);
        QCOMPARE(bar->value(), 10);

        bar->setValue(bar->maximum());
        view.Append("last\r\n", Qt::black, false);
        QTRY_COMPARE(bar->maximum(), oldMaximum + 51);
        QCOMPARE(bar->value(), bar->maximum());

        // Text streaming in at the end moves the range every frame, but the slider stays at the
        // bottom at its least length, so the bar is not repainted; scrolled up, it is.
        QTest::qWait(50);
        const PaintCounter barPaints(bar);
        for (int frame = 1; frame <= 5; ++frame) {
            view.Append("tail\r\n", Qt::black, false);
            QTRY_COMPARE(bar->maximum(), oldMaximum + 51 + frame); // its frame has come
            QTest::qWait(40); // room for a paint of the bar, were one asked for
        }
        QCOMPARE(bar->maximum(), oldMaximum + 56);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(barPaints.paints, 0);
        bar->setValue(0);
        QTRY_VERIFY(barPaints.paints > 0);
    }

    // A word wider than the view fills whole rows; a 6 MB one costs no more than a short line.
    void cutsAWordWiderThanTheViewIntoFullRows()
    {
        ReceiveView view;
        QVERIFY(Show(view, 400, 300));
        QByteArray digits(6 * 1024 * 1024, '0');
        for (qsizetype i = 0; i < digits.size(); ++i)
            digits[i] = static_cast<char>('0' + i % 10);
        view.Append(digits, Qt::black, false);
        QScrollBar* bar = view.verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);

        QAccessibleTextInterface* text = TextInterfaceOf(view);
        bar->setValue(0);
        int columns = 1;
        while (text->characterRect(columns).y() == text->characterRect(0).y())
            ++columns;
        QCOMPARE(bar->maximum() + bar->pageStep(),
                 static_cast<int>((digits.size() + columns - 1) / columns));

        bar->setValue(bar->maximum() / 2);
        const QPoint topLeft = view.viewport()->mapToGlobal(QPoint(1, 1));
        QCOMPARE(text->offsetAtPoint(topLeft), (bar->maximum() / 2) * columns);
        QVERIFY(!view.viewport()->grab().isNull());
    }

    void breaksALineAtABlankNotInsideANumber()
    {
        ReceiveView view;
        QVERIFY(Show(view, 400, 300));
        QAccessibleTextInterface* text = TextInterfaceOf(view);
        view.Append(QByteArray(1000, '0'), Qt::black, false);
        int columns = 1;
        while (text->characterRect(columns).y() == text->characterRect(0).y())
            ++columns;
        QVERIFY(columns > 30);
        // The number would straddle the edge: it moves to the next row whole.
        const QByteArray line = QByteArray(columns - 24, 'a') + " : $on_touch (down : 200,200)";
        const int start = static_cast<int>(view.textSize()) + 1;
        view.Append("\r\n" + line, Qt::black, false);
        const int number = start + static_cast<int>(line.indexOf("200,200"));
        const QRect first = text->characterRect(number);
        QCOMPARE(text->characterRect(number + 6).y(), first.y());
        QCOMPARE(first.x(), text->characterRect(start).x()); // at the start of its row
        QVERIFY(text->characterRect(number - 1).y() < first.y());
    }

    void copiesTheSelection_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");

        QTest::newRow("drag over a line break") << "drag" << 3 << 13;
        QTest::newRow("drag backwards") << "drag backwards" << 4 << 12;
        QTest::newRow("double-click a word") << "double-click" << 9 << 18;
        QTest::newRow("select all") << "select all" << 0 << 23;
    }
    void copiesTheSelection()
    {
        QFETCH(QString, how);
        QFETCH(int, from);
        QFETCH(int, to);
        ReceiveView view;
        QVERIFY(Show(view, 400, 200));
        view.Append("02 81 05\r\n$on_click done", Qt::blue, false);
        QGuiApplication::clipboard()->clear();
        QWidget* viewport = view.viewport();
        if (how.startsWith(u"drag")) {
            const bool backwards = how.endsWith(u"backwards");
            const QPoint start = CharacterPoint(view, backwards ? to : from);
            const QPoint end = CharacterPoint(view, backwards ? from : to);
            QTest::mousePress(viewport, Qt::LeftButton, {}, start);
            QTest::mouseMove(viewport, end);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, end);
        } else if (how == u"double-click") {
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, CharacterPoint(view, from + 2));
        } else {
            QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        }
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), view.toPlainText().mid(from, to - from));
    }

    void exposesItsTextToAssistiveTechnology()
    {
        ReceiveView view;
        view.setAccessibleName(QStringLiteral("RX"));
        view.Append("02 88 00 00 00 00 00 03 : $on_buffer_warning\r\n", Qt::red, false);
        view.Append("41 ", Qt::red, false);

        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("RX"));
        QVERIFY(iface->state().readOnly);
        QAccessibleTextInterface* text = iface->textInterface();
        QVERIFY(text);
        QCOMPARE(text->characterCount(), view.textSize());
        QCOMPARE(text->text(0, text->characterCount()), view.toPlainText());
        QCOMPARE(text->text(26, 44), QStringLiteral("$on_buffer_warning"));

        text->setSelection(0, 45, 47);
        QCOMPARE(text->selectionCount(), 1);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("41"));
    }

    void showsOneHexPairPerReceivedByte()
    {
        // Random line noise with reports, damaged reports and unknown codes mixed in, fed in
        // chunks of any size as a serial port delivers them.
        SeededRandom streamRng(20240607);
        QByteArray stream;
        while (stream.size() < 300000) {
            const int kind = streamRng.Draw() % 8;
            if (kind < 3) {
                for (int i = streamRng.Draw() % 40; i > 0; --i)
                    stream.append(static_cast<char>(streamRng.Draw() % 256));
                continue;
            }
            const bool binary = kind < 6;
            QByteArray report(binary ? 8 : 11, '\0');
            for (char& byte : report)
                byte = static_cast<char>(streamRng.Draw() % 256);
            report[0] = 0x02;
            report[1] = static_cast<char>(binary ? 0x81 + streamRng.Draw() % 13 : '8');
            if (!binary)
                report[2] = "123456789ABCD"[streamRng.Draw() % 13];
            report[report.size() - 1] = streamRng.Draw() % 10 == 0 ? 'x' : 0x03;
            stream += report;
        }

        SeededRandom colourRng(7);
        ReportDisplay decoder(colourRng);
        ReceiveView view;
        QByteArray shown;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype chunk =
                std::min<qsizetype>(1 + streamRng.Draw() % 300, stream.size() - at);
            std::vector<ColoredText> pieces;
            decoder.Feed(QByteArrayView(stream).sliced(at, chunk), pieces);
            for (const ColoredText& piece : pieces) {
                CControlUtil::AppendColoredText(&view, piece.text, piece.colour, false);
                shown += piece.text;
            }
            at += chunk;
        }

        const QString text = view.toPlainText();
        QCOMPARE(text,
                 QString::fromLatin1(shown).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        QString error;
        const QByteArray bytes = BytesInDump(text, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(bytes.size(), stream.size());
        QVERIFY(bytes == stream);
        QVERIFY(text.contains(QLatin1String(" : $on_")));
    }
};

QTEST_MAIN(ReceiveViewTest)
#include "tst_receive_view.moc"
