#include "serial/Pieces.h"

#include <QTest>

using Sizes = std::vector<qsizetype>;
using Draws = std::vector<int>;

class tst_Pieces : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<Draws>("draws");
        QTest::addColumn<Sizes>("expected");

        QTest::newRow("one byte is one piece whatever the draw")
            << qsizetype(1) << Draws{32767} << Sizes{1};
        QTest::newRow("twenty bytes in order, the last piece cut to what is left")
            << qsizetype(20) << Draws{4, 0, 19} << Sizes{5, 1, 14};
        QTest::newRow("twenty bytes one at a time: a draw of the length wraps to 1")
            << qsizetype(20) << Draws(20, 20) << Sizes(20, 1);
        QTest::newRow("size drawn against the whole length, not what is left")
            << qsizetype(10) << Draws{5, 5} << Sizes{6, 4};
        QTest::newRow("longer than the draw range")
            << qsizetype(40000) << Draws{32767, 32767} << Sizes{32768, 7232};
        QTest::newRow("empty statement draws nothing") << qsizetype(0) << Draws{} << Sizes{};
        QTest::newRow("negative draw still makes progress")
            << qsizetype(3) << Draws{-7, 2} << Sizes{1, 2};
    }
    void split()
    {
        QFETCH(qsizetype, length);
        QFETCH(Draws, draws);
        QFETCH(Sizes, expected);

        ScriptedRandom rng(draws);
        // An extra draw throws out of SplitIntoPieces and fails the row.
        QCOMPARE(SplitIntoPieces(length, rng), expected);
        QCOMPARE(rng.Remaining(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(tst_Pieces)
#include "tst_pieces.moc"
