#include "support/ReceiveText.h"

#include <QTest>

namespace {

// Stands for Clear between appends in a table row.
const QByteArray kClear = "<clear>";

QString Held(const ReceiveText& text)
{
    return text.Text(text.First(), text.End());
}

} // namespace

class ReceiveTextTest : public QObject
{
    Q_OBJECT

private slots:
    void linesEndAtLineBreaks_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<QString>("text");

        QTest::newRow("CR LF") << QByteArrayList{"ab\r\ncd"} << "ab\ncd";
        QTest::newRow("LF") << QByteArrayList{"ab\ncd"} << "ab\ncd";
        QTest::newRow("CR LF split over appends, empty ones between")
            << QByteArrayList{"ab\r", "", "\ncd", ""} << "ab\ncd";
        QTest::newRow("lone CR") << QByteArrayList{"ab\rcd"} << "ab\ncd";
        QTest::newRow("CR then CR LF") << QByteArrayList{"a\r\r\nb"} << "a\n\nb";
        QTest::newRow("CR, LF, LF each alone")
            << QByteArrayList{"ab\r", "\n", "\n", "cd"} << "ab\n\ncd";
        QTest::newRow("CR, LF alone, then CR LF split")
            << QByteArrayList{"ab\r", "\n", "\r", "\n", "cd"} << "ab\n\ncd";
        QTest::newRow("CR, text, LF") << QByteArrayList{"ab\r", "c", "\ncd"} << "ab\nc\ncd";
        QTest::newRow("8-bit characters") << QByteArrayList{"\xE9\xFF"} << "\u00E9\u00FF";
        QTest::newRow("CR LF straddling a Clear is one line end")
            << QByteArrayList{"ab\r", kClear, "\ncd"} << "cd";
    }
    void linesEndAtLineBreaks()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(QString, text);
        ReceiveText store;
        for (const QByteArray& piece : appends) {
            if (piece == kClear)
                store.Clear();
            else
                store.Append(piece, qRgb(0, 0, 0), false);
        }
        QCOMPARE(Held(store), text);
        QCOMPARE(store.Size(), text.size());
    }

    void anySplitGivesTheSameLines()
    {
        const QByteArray text = "a\r\n\r\rb\n\r\n\nc\r";
        ReceiveText whole;
        whole.Append(text, qRgb(0, 0, 0), false);
        for (qsizetype i = 0; i <= text.size(); ++i) {
            for (qsizetype j = i; j <= text.size(); ++j) {
                ReceiveText store;
                for (const QByteArray& piece : {text.left(i), text.mid(i, j - i), text.mid(j)})
                    store.Append(piece, qRgb(0, 0, 0), false);
                QVERIFY2(Held(store) == Held(whole),
                         qPrintable(QStringLiteral("split at %1 and %2").arg(i).arg(j)));
            }
        }
    }

    void timeStampsBeginEachLine_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<QString>("text");

        QTest::newRow("every line begun gets the stamp")
            << QByteArrayList{"a\r\nb\nc"} << "T a\nT b\nT c";
        QTest::newRow("a line begun before is not stamped again, an empty one ahead not yet")
            << QByteArrayList{"ab", "cd\r\n"} << "T abcd\n";
        QTest::newRow("CR LF split over appends ends one line")
            << QByteArrayList{"a\r", "\nb"} << "T a\nT b";
        QTest::newRow("an empty line is stamped") << QByteArrayList{"\n\n"} << "T \nT \n";
        QTest::newRow("Clear begins a line") << QByteArrayList{"ab", kClear, "cd"} << "T cd";
    }
    void timeStampsBeginEachLine()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(QString, text);
        ReceiveText store;
        store.SetClock([] { return QTime(12, 34, 56, 789); });
        store.SetTimeStamps(true);
        QByteArray stored; // what a live log gets
        store.SetStoreListener([&stored](QByteArrayView added) { stored += added; });
        for (const QByteArray& piece : appends) {
            if (piece == kClear) {
                store.Clear();
                stored.clear();
            } else {
                store.Append(piece, qRgb(0, 0, 0), false);
            }
        }
        const QString expected = QString(text).replace(u'T', QStringLiteral("12:34:56.789"));
        QCOMPARE(Held(store), expected);
        QCOMPARE(QString::fromLatin1(stored), expected);
    }

    void rowsOfAWidth_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QStringList>("rows");

        QTest::newRow("short line") << QByteArray("ab") << 4 << QStringList{"ab"};
        QTest::newRow("a line of exactly the width takes one row")
            << QByteArray("abcd") << 4 << QStringList{"abcd"};
        QTest::newRow("a word wider than the row is cut at the edge")
            << QByteArray("abcdefghij") << 4 << QStringList{"abcd", "efgh", "ij"};
        QTest::newRow("empty lines take a row each")
            << QByteArray("ab\n\ncdefg\n") << 4 << QStringList{"ab", "", "cdef", "g", ""};
        QTest::newRow("no text is one empty row") << QByteArray() << 4 << QStringList{""};
        QTest::newRow("one column") << QByteArray("ab\nc") << 1 << QStringList{"a", "b", "c"};
        QTest::newRow("a number is not cut: the row ends after the blank before it")
            << QByteArray("$on_touch (down : 200,200)") << 22
            << QStringList{"$on_touch (down : ", "200,200)"};
        QTest::newRow("a blank at the edge hangs past it")
            << QByteArray("02 81 05 01\n02") << 5 << QStringList{"02 81 ", "05 01", "02"};
        QTest::newRow("a line that ends in a hanging blank takes one row")
            << QByteArray("02 81 ") << 5 << QStringList{"02 81 "};
        QTest::newRow("only the long word is cut, words around it stay whole")
            << QByteArray("ab 0123456789 c") << 4 << QStringList{"ab ", "0123", "4567", "89 c"};
        QTest::newRow("a blank a row starts with is no place to break")
            << QByteArray(" abcdef") << 3 << QStringList{" ab", "cde", "f"};
        QTest::newRow("reports on one line break between them")
            << QByteArray("02 8F 00 03 :  02 81 05 01 : $on_touch (down : 1,2)") << 20
            << QStringList{"02 8F 00 03 :  02 81 ", "05 01 : $on_touch ", "(down : 1,2)"};
    }
    void rowsOfAWidth()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, columns);
        QFETCH(QStringList, rows);
        const auto shownRows = [columns](const ReceiveText& store) {
            QStringList shown;
            for (qint64 row = store.FirstRow(); row < store.EndRow(); ++row) {
                const ReceiveText::RowSpan span = store.Row(row);
                shown << store.Text(span.from, span.to);
                if (store.OffsetOfRow(row) != span.from || store.OffsetAt(row, 0) != span.from ||
                    store.OffsetAt(row, columns + 5) != span.to)
                    return QStringList{QStringLiteral("row %1 does not add up").arg(row)};
                for (qint64 at = span.from; at < span.to; ++at)
                    if (store.RowOfOffset(at) != row || store.ColumnOf(at) != at - span.from)
                        return QStringList{QStringLiteral("offset %1 is misplaced").arg(at)};
            }
            return shown;
        };
        // Laid out at another width first, so a width change has to lay every line out again.
        ReceiveText relaid;
        relaid.SetColumns(3);
        relaid.Append(text, qRgb(0, 0, 0), false);
        relaid.SetColumns(columns);
        QCOMPARE(shownRows(relaid), rows);
        // Laid out as the text arrives, a character at a time: rows settled early stay right.
        ReceiveText arriving;
        arriving.SetColumns(columns);
        for (const char c : text)
            arriving.Append(QByteArrayView(&c, 1), qRgb(0, 0, 0), false);
        QCOMPARE(shownRows(arriving), rows);
    }

    void dropsOldestWholeLines_data()
    {
        QTest::addColumn<QByteArrayList>("appends");
        QTest::addColumn<QString>("held");
        QTest::addColumn<qint64>("dropped");
        QTest::addColumn<qint64>("firstRow");

        // Kept: 16 characters; dropped once past 18.
        QTest::newRow("nothing goes up to the batch")
            << QByteArrayList{"aaaaaaa\n", "bbbbbbb\n", "cc"} << "aaaaaaa\nbbbbbbb\ncc" << qint64{0}
            << qint64{0};
        QTest::newRow("whole oldest lines go, rows keep their numbers")
            << QByteArrayList{"aaaaaaa\n", "bbbbbbb\n", "ccccccc\n"} << "bbbbbbb\nccccccc\n"
            << qint64{8} << qint64{1};
        QTest::newRow("a line longer than everything kept is cut to its newest")
            << QByteArrayList{"0123456789", "abcdefghij"} << "456789abcdefghij" << qint64{4}
            << qint64{1};
        QTest::newRow("cleared text does not count as dropped")
            << QByteArrayList{"aaaaaaa\n", kClear, "bbbbbbb\n", "ccccccc\n", "ddddddd\n"}
            << "ccccccc\nddddddd\n"
            << qint64{8} << qint64{1};
    }
    void dropsOldestWholeLines()
    {
        QFETCH(QByteArrayList, appends);
        QFETCH(QString, held);
        QFETCH(qint64, dropped);
        QFETCH(qint64, firstRow);
        ReceiveText store(16);
        store.SetColumns(8);
        QString announced; // what the drop listener could still read
        store.SetDropListener([&](qint64 from, qint64 to) { announced += store.Text(from, to); });
        QString all;
        for (const QByteArray& piece : appends) {
            if (piece == kClear) {
                store.Clear();
                all.clear();
            } else {
                store.Append(piece, qRgb(0, 0, 0), false);
                all += QString::fromLatin1(piece);
            }
        }
        QCOMPARE(Held(store), held);
        QCOMPARE(store.Dropped(), dropped);
        QCOMPARE(announced, all.left(dropped));
        QCOMPARE(store.FirstRow(), firstRow);
        QCOMPARE(store.Row(firstRow).from, store.First());
    }

    void cutsALineLongerThanWhatIsKept()
    {
        ReceiveText store;
        const qsizetype chunk = 64 * 1024;
        const int chunks = static_cast<int>(ReceiveText::kKeepCharacters * 3 / 2 / chunk);
        for (int i = 0; i < chunks; ++i)
            store.Append(QByteArray(chunk, static_cast<char>('a' + i % 26)), qRgb(0, 0, 0), false);
        store.Append("\r\nnew", qRgb(255, 0, 0), false);

        const qsizetype kept = store.Size();
        QVERIFY(kept >= ReceiveText::kKeepCharacters);
        QVERIFY(kept < ReceiveText::kKeepCharacters * 5 / 4);
        const QString text = Held(store);
        QVERIFY(text.endsWith(QLatin1String("\nnew")));
        // The newest characters of the long line are all there, in order.
        const qsizetype lineEnd = text.size() - 4;
        for (qsizetype back = 1; back <= kept - 4; back += chunk - 1) {
            const int chunkIndex = chunks - 1 - static_cast<int>((back - 1) / chunk);
            QCOMPARE(text[lineEnd - back], QChar(u'a' + chunkIndex % 26));
        }
    }

    void runsAndWords_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("runStart");
        QTest::addColumn<int>("runEnd");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("word");

        // "02 81 05\n" in red, joined over two appends; "$on_click done" in bold blue.
        QTest::newRow("first character") << 0 << 0 << 9 << false << "02";
        QTest::newRow("a word between blanks") << 3 << 0 << 9 << false << "81";
        QTest::newRow("the line break keeps its run, ends a word") << 8 << 0 << 9 << false << "05";
        QTest::newRow("a word across a colour change") << 9 << 9 << 23 << true << "$on_click";
        QTest::newRow("last character") << 22 << 9 << 23 << true << "done";
        QTest::newRow("the end has no run") << 23 << 23 << 23 << false << "done";
    }
    void runsAndWords()
    {
        QFETCH(int, offset);
        QFETCH(int, runStart);
        QFETCH(int, runEnd);
        QFETCH(bool, bold);
        QFETCH(QString, word);
        ReceiveText store;
        store.Append("junk\r\n", qRgb(0, 0, 0), false);
        store.Clear(); // offsets keep counting from the first character ever appended
        const qint64 base = store.First();
        store.Append("02 81", qRgb(255, 0, 0), false);
        store.Append(" 05\r\n", qRgb(255, 0, 0), false);
        store.Append("$on_click done", qRgb(0, 0, 255), true);

        const ReceiveText::RunSpan run = store.RunAt(base + offset);
        QCOMPARE(run.start - base, qint64{runStart});
        QCOMPARE(run.end - base, qint64{runEnd});
        QCOMPARE(run.bold, bold);
        if (run.start < run.end)
            QCOMPARE(run.colour, bold ? qRgb(0, 0, 255) : qRgb(255, 0, 0));
        const auto [from, to] = store.WordAt(base + offset);
        QCOMPARE(store.Text(from, to), word);
    }
};

QTEST_MAIN(ReceiveTextTest)
#include "tst_receivetext.moc"
