// A screen step's comparison: masked areas are not compared, and max-diff is the share of the
// compared pixels that may differ, counted exactly at its edge.
#include "script/ScreenCompare.h"

#include <QImage>
#include <QPainter>
#include <QTest>

class ScreenCompareTest : public QObject
{
    Q_OBJECT

private slots:
    void masksAndMaxDiff_data();
    void masksAndMaxDiff();
};

void ScreenCompareTest::masksAndMaxDiff_data()
{
    QTest::addColumn<QList<QRect>>("changed"); // areas of the actual screen drawn white
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("maxDiffMilli");
    QTest::addColumn<QList<QRect>>("masks");
    QTest::addColumn<qint64>("pixels");   // differing pixels outside the masks
    QTest::addColumn<qint64>("compared"); // pixels outside the masks
    QTest::addColumn<bool>("passed");

    constexpr qint64 all = 800 * 480;
    const QRect clock(700, 0, 100, 20); // 2000 pixels
    QTest::newRow("same") << QList<QRect>{} << 0 << 0 << QList<QRect>{} << qint64(0) << all << true;
    QTest::newRow("one pixel fails without max-diff")
        << QList<QRect>{{5, 5, 1, 1}} << 0 << 0 << QList<QRect>{} << qint64(1) << all << false;
    QTest::newRow("tolerance is per channel, still exact")
        << QList<QRect>{{5, 5, 1, 1}} << 255 << 0 << QList<QRect>{} << qint64(0) << all << true;
    QTest::newRow("change under a mask")
        << QList<QRect>{clock} << 0 << 0 << QList<QRect>{clock} << qint64(0) << all - 2000 << true;
    QTest::newRow("change half under a mask")
        << QList<QRect>{clock} << 0 << 0 << QList<QRect>{{700, 0, 50, 20}} << qint64(1000)
        << all - 1000 << false;
    QTest::newRow("overlapping masks count once")
        << QList<QRect>{clock} << 0 << 0 << QList<QRect>{{700, 0, 100, 20}, {750, 0, 50, 20}}
        << qint64(0) << all - 2000 << true;
    // 384 of 384000 is 0.1% exactly: at the limit passes, a thousandth below fails.
    QTest::newRow("max-diff at its edge passes")
        << QList<QRect>{{0, 0, 384, 1}} << 0 << 100 << QList<QRect>{} << qint64(384) << all << true;
    QTest::newRow("max-diff just under fails")
        << QList<QRect>{{0, 0, 384, 1}} << 0 << 99 << QList<QRect>{} << qint64(384) << all << false;
    // The share is of the compared pixels: masking the rest makes the same change a larger one.
    QTest::newRow("max-diff of the pixels left by the masks")
        << QList<QRect>{{0, 0, 384, 1}} << 0 << 100 << QList<QRect>{{0, 100, 800, 380}}
        << qint64(384) << qint64(800 * 100) << false;
    QTest::newRow("everything masked")
        << QList<QRect>{{0, 0, 800, 480}} << 0 << 0 << QList<QRect>{{0, 0, 800, 480}} << qint64(0)
        << qint64(0) << true;
}

void ScreenCompareTest::masksAndMaxDiff()
{
    QFETCH(QList<QRect>, changed);
    QFETCH(int, tolerance);
    QFETCH(int, maxDiffMilli);
    QFETCH(QList<QRect>, masks);
    QFETCH(qint64, pixels);
    QFETCH(qint64, compared);
    QFETCH(bool, passed);

    QImage reference(800, 480, QImage::Format_RGB32);
    reference.fill(Qt::black);
    QImage actual = reference;
    {
        QPainter painter(&actual);
        for (const QRect& area : changed)
            painter.fillRect(area, Qt::white);
    }
    const ScreenCheck check{tolerance, maxDiffMilli, {masks.begin(), masks.end()}};
    const ScreenDifference difference = CompareScreens(actual, reference, check);
    QCOMPARE(difference.pixels, pixels);
    QCOMPARE(difference.compared, compared);
    QCOMPARE(difference.passed, passed);
    QCOMPARE(difference.picture.isNull(), pixels == 0);
    if (pixels > 0) {
        // Red where it differs; a masked pixel is shown as such, never as a difference.
        QCOMPARE(difference.picture.pixel(changed[0].bottomRight()), qRgb(255, 0, 0));
        for (const QRect& mask : masks)
            QVERIFY(difference.picture.pixel(mask.topLeft()) != qRgb(255, 0, 0));
    }
}

QTEST_MAIN(ScreenCompareTest)
#include "tst_screen_compare.moc"
