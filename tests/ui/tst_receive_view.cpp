#include "app/report/ReportDecoder.h"
#include "support/ui/ControlUtil.h"
#include "support/ui/ReceiveView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {

QAccessibleTextInterface* TextInterfaceOf(ReceiveView& view)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    return iface ? iface->textInterface() : nullptr;
}

// Where character `offset` is painted, in viewport coordinates, as the view tells assistive
// technology.
QPoint CharacterCentre(ReceiveView& view, int offset)
{
    const QRect global = TextInterfaceOf(view)->characterRect(offset);
    return view.viewport()->mapFromGlobal(global.center());
}

QPoint CharacterLeftEdge(ReceiveView& view, int offset)
{
    const QRect global = TextInterfaceOf(view)->characterRect(offset);
    return view.viewport()->mapFromGlobal(QPoint(global.left() + 1, global.center().y()));
}

// Reads the byte dump back from what a decoder showed: a pair of digits per byte, then a blank, a
// line break (a damaged report), or " : " with the meaning of the report up to its line break.
QByteArray BytesInDump(const QString& shown, QString* error)
{
    QByteArray bytes;
    qsizetype i = 0;
    const auto isDigit = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
    };
    while (i < shown.size()) {
        if (i + 2 >= shown.size() || !isDigit(shown[i]) || !isDigit(shown[i + 1])) {
            *error = QStringLiteral("no hex pair at %1").arg(i);
            return bytes;
        }
        bytes.append(static_cast<char>(shown.mid(i, 2).toInt(nullptr, 16)));
        i += 2;
        if (shown[i] == u'\n') {
            ++i;
        } else if (shown.mid(i, 3) == QLatin1String(" : ")) {
            i += 3;
            if (i < shown.size() && shown[i] == u'$') {
                const qsizetype lineEnd = shown.indexOf(u'\n', i);
                if (lineEnd < 0) {
                    *error = QStringLiteral("decoded text without a line break at %1").arg(i);
                    return bytes;
                }
                i = lineEnd + 1;
            }
        } else if (shown[i] == u' ') {
            ++i;
        } else {
            *error = QStringLiteral("unexpected character at %1").arg(i);
            return bytes;
        }
    }
    return bytes;
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class ReceiveViewTest : public QObject
{
    Q_OBJECT

private slots:
    void linesEndAtLineBreaks_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<QString>("text");

        QTest::newRow("CR LF") << QByteArrayList{"ab\r\ncd"} << "ab\ncd";
        QTest::newRow("LF") << QByteArrayList{"ab\ncd"} << "ab\ncd";
        QTest::newRow("CR LF split over two appends") << QByteArrayList{"ab\r", "\ncd"} << "ab\ncd";
        QTest::newRow("lone CR") << QByteArrayList{"ab\rcd"} << "ab\ncd";
        QTest::newRow("CR then CR LF") << QByteArrayList{"a\r\r\nb"} << "a\n\nb";
        QTest::newRow("empty appends") << QByteArrayList{"", "x", ""} << "x";
        QTest::newRow("8-bit characters") << QByteArrayList{"\xE9\xFF"} << "\u00E9\u00FF";
        QTest::newRow("pieces join")
            << QByteArrayList{"02 ", "81 ", "03 : $on\r\n"} << "02 81 03 : $on\n";
    }
    void linesEndAtLineBreaks()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(QString, text);
        ReceiveView view;
        for (const QByteArray& piece : appends)
            view.Append(piece, Qt::black, false);
        QCOMPARE(view.toPlainText(), text);
        QCOMPARE(view.textSize(), text.size());
    }

    void coloursAreKeptPerRun()
    {
        ReceiveView view;
        CControlUtil::AppendColoredText(&view, "ab", 0x000000FF, false);
        CControlUtil::AppendColoredText(&view, "cd\r\n", 0x000000FF, false);
        CControlUtil::AppendColoredText(&view, "ef", 0x00123456, true);
        CControlUtil::AppendColoredText(nullptr, "lost", 0, false);

        QAccessibleTextInterface* text = TextInterfaceOf(view);
        QVERIFY(text);
        int start = -1;
        int end = -1;
        QCOMPARE(text->attributes(1, &start, &end),
                 QStringLiteral("font-weight:normal;color:rgb(255,0,0);"));
        QCOMPARE(start, 0);
        QCOMPARE(end, 5);
        QCOMPARE(text->attributes(6, &start, &end),
                 QStringLiteral("font-weight:bold;color:rgb(86,52,18);"));
        QCOMPARE(start, 5);
        QCOMPARE(end, 7);
    }

    void paintsEachRunInItsColour()
    {
        ReceiveView view;
        view.resize(300, 120);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.Append("MMMMMMMM\r\n", Qt::red, true);
        view.Append("MMMMMMMM\r\n", Qt::blue, true);
        const QImage image = view.viewport()->grab().toImage();
        const int rowHeight = TextInterfaceOf(view)->characterRect(0).height();

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

    void keepsTheNewestWholeLines()
    {
        ReceiveView view;
        const qsizetype lineLength = 1000; // with its line break
        const int lines = static_cast<int>(ReceiveView::kKeepCharacters * 3 / 2 / lineLength);
        QByteArray line(lineLength, '.');
        line[lineLength - 2] = '\r';
        line[lineLength - 1] = '\n';
        for (int i = 0; i < lines; ++i) {
            const QByteArray number = QByteArray::number(i).rightJustified(8, '0');
            std::copy(number.begin(), number.end(), line.begin());
            view.Append(line, Qt::black, false);
        }
        const qsizetype kept = view.textSize();
        QVERIFY(kept >= ReceiveView::kKeepCharacters);
        QVERIFY(kept < ReceiveView::kKeepCharacters * 5 / 4);

        // Whole lines only, the newest last, none missing in between.
        const QString text = view.toPlainText();
        QCOMPARE(text.size() % (lineLength - 1), 0);
        const int held = static_cast<int>(text.size() / (lineLength - 1));
        QCOMPARE(text.left(8).toInt(), lines - held);
        QCOMPARE(text.mid(text.size() - (lineLength - 1), 8).toInt(), lines - 1);
        QCOMPARE(text.mid((held / 2) * (lineLength - 1), 8).toInt(), lines - held + held / 2);
    }

    void cutsALineLongerThanWhatIsKept()
    {
        ReceiveView view;
        const qsizetype chunk = 64 * 1024;
        const int chunks = static_cast<int>(ReceiveView::kKeepCharacters * 3 / 2 / chunk);
        for (int i = 0; i < chunks; ++i)
            view.Append(QByteArray(chunk, static_cast<char>('a' + i % 26)), Qt::black, false);
        view.Append("\r\nnew", Qt::red, false);

        const qsizetype kept = view.textSize();
        QVERIFY(kept >= ReceiveView::kKeepCharacters);
        QVERIFY(kept < ReceiveView::kKeepCharacters * 5 / 4);
        const QString text = view.toPlainText();
        QVERIFY(text.endsWith(QLatin1String("\nnew")));
        // The newest characters of the long line are all there, in order.
        const qsizetype lineEnd = text.size() - 4;
        for (qsizetype back = 1; back <= kept - 4; back += chunk - 1) {
            const int chunkIndex = chunks - 1 - static_cast<int>((back - 1) / chunk);
            QCOMPARE(text[lineEnd - back], QChar(u'a' + chunkIndex % 26));
        }
    }

    void followsTheEndUnlessScrolledUp()
    {
        ReceiveView view;
        view.resize(300, 150);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
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
    }

    void appendsRepaintOncePerFrame()
    {
        ReceiveView view;
        view.resize(300, 150);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        PaintCounter counter;
        view.viewport()->installEventFilter(&counter);
        QTest::qWait(50);
        counter.paints = 0;

        for (int i = 0; i < 1000; ++i) {
            view.Append("02 ", Qt::red, false);
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(counter.paints > 0);
        QVERIFY2(counter.paints < 100, qPrintable(QString::number(counter.paints)));
    }

    void wrapsALongLineIntoRowsByArithmetic()
    {
        ReceiveView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
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

    void copiesTheSelection_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");

        QTest::newRow("drag within a line") << "drag" << 2 << 7;
        QTest::newRow("drag over a line break") << "drag" << 3 << 13;
        QTest::newRow("drag backwards") << "drag backwards" << 4 << 12;
        QTest::newRow("click and shift-click") << "shift-click" << 1 << 15;
        QTest::newRow("select all") << "select all" << 0 << 23;
        QTest::newRow("double-click a word") << "double-click" << 9 << 18;
        QTest::newRow("context menu select all") << "menu" << 0 << 23;
    }
    void copiesTheSelection()
    {
        QFETCH(QString, how);
        QFETCH(int, from);
        QFETCH(int, to);
        ReceiveView view;
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.Append("02 81 05\r\n$on_click done", Qt::blue, false);
        QGuiApplication::clipboard()->clear();
        QWidget* viewport = view.viewport();

        if (how == QLatin1String("drag")) {
            QTest::mousePress(viewport, Qt::LeftButton, {}, CharacterLeftEdge(view, from));
            QTest::mouseMove(viewport, CharacterLeftEdge(view, to));
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, CharacterLeftEdge(view, to));
        } else if (how == QLatin1String("drag backwards")) {
            QTest::mousePress(viewport, Qt::LeftButton, {}, CharacterLeftEdge(view, to));
            QTest::mouseMove(viewport, CharacterLeftEdge(view, from));
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, CharacterLeftEdge(view, from));
        } else if (how == QLatin1String("shift-click")) {
            QTest::mouseClick(viewport, Qt::LeftButton, {}, CharacterLeftEdge(view, from));
            QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier,
                              CharacterLeftEdge(view, to));
        } else if (how == QLatin1String("select all")) {
            QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        } else if (how == QLatin1String("double-click")) {
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, CharacterCentre(view, from + 2));
        } else if (how == QLatin1String("menu")) {
            QTimer::singleShot(0, &view, [] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                const QList<QAction*> actions = menu->actions();
                QCOMPARE(actions.size(), 2);
                QCOMPARE(actions[0]->text(), QStringLiteral("Copy"));
                QVERIFY(!actions[0]->isEnabled());
                QCOMPARE(actions[1]->text(), QStringLiteral("Select All"));
                actions[1]->trigger();
                menu->close();
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    viewport->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(viewport, &event);
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
            } else {
                const bool binary = kind < 6;
                QByteArray report(binary ? 8 : 11, '\0');
                report[0] = 0x02;
                for (qsizetype i = 1; i < report.size(); ++i)
                    report[i] = static_cast<char>(streamRng.Draw() % 256);
                report[1] = static_cast<char>(binary ? 0x81 + streamRng.Draw() % 13 : '8');
                if (!binary)
                    report[2] = "123456789ABCD"[streamRng.Draw() % 13];
                report[report.size() - 1] = streamRng.Draw() % 10 == 0 ? 'x' : 0x03;
                stream += report;
            }
        }

        SeededRandom colourRng(7);
        ReportDecoder decoder(colourRng);
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
