#include "commands/Controls.h"
#include "commands/Drawing.h"

#include <QRegularExpression>
#include <QtTest>

#include <cmath>

using Composer = QByteArray (*)(RandomSource&);
Q_DECLARE_METATYPE(Composer)

namespace {

constexpr int kPresses = 4000;
constexpr std::uint32_t kSeed = 20240611;

// A bound of 0 marks the fill slot, which holds a colour or a colour-stack word.
constexpr int kFill = 0;

QByteArray PrintHello(RandomSource& rng)
{
    return ComposePrint(rng, "hello", true);
}

} // namespace

// Many presses from a fixed seed: values stay in their ranges yet reach both ends of them, and
// optional parts appear about as often as their rules say. The bounds and tolerances are wide
// enough that a correct composer passes with these seeds, narrow enough that a wrong modulus or
// probability does not.
class StatisticsTest : public QObject
{
    Q_OBJECT

private slots:
    void ranges_data()
    {
        QTest::addColumn<Composer>("composer");
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<int>("minArgs");
        QTest::addColumn<QList<int>>("bounds");

        const QList<int> corners{800, 480, 800, 480};
        QTest::newRow("Line") << Composer(ComposeLine) << QByteArray("Line") << 4 << corners;
        QTest::newRow("Box") << Composer(ComposeBox) << QByteArray("Box") << 4 << corners;
        QTest::newRow("BoxFill") << Composer(ComposeBoxFill) << QByteArray("BoxFill") << 4
                                 << corners + QList<int>{kFill, 100, 101};
        QTest::newRow("Roundbox") << Composer(ComposeRoundBox) << QByteArray("Roundbox") << 5
                                  << corners + QList<int>{80, 80};
        QTest::newRow("Roundboxfill") << Composer(ComposeRoundBoxFill) << QByteArray("Roundboxfill")
                                      << 5 << corners + QList<int>{80, 80, kFill, 10};
        QTest::newRow("Circle axes up to twice the screen")
            << Composer(ComposeCircle) << QByteArray("Circle") << 4
            << QList<int>{800, 480, 1600, 960};
        QTest::newRow("Circlefill axes within the screen")
            << Composer(ComposeCircleFill) << QByteArray("Circlefill") << 4
            << corners + QList<int>{kFill, 30};
        QTest::newRow("Arc") << Composer(ComposeArc) << QByteArray("Arc") << 6
                             << QList<int>{800, 480, 200, 120, 360, 360};
        QTest::newRow("Bezier") << Composer(ComposeBezier) << QByteArray("Bezier") << 8
                                << corners + corners;
    }

    void ranges()
    {
        QFETCH(Composer, composer);
        QFETCH(QByteArray, keyword);
        QFETCH(int, minArgs);
        QFETCH(QList<int>, bounds);

        static const QRegularExpression fill("^(&H[0-9A-F]{6}|\\$push|\\$pop)$");
        QList<int> lowest(bounds.size(), INT_MAX);
        QList<int> highest(bounds.size(), -1);
        SeededRandom rng(kSeed);
        for (int press = 0; press < kPresses; ++press) {
            const QByteArray text = composer(rng);
            QVERIFY2(text.startsWith(keyword + ' ') && text.endsWith(';') && text.count(';') == 1,
                     text.constData());
            const QList<QByteArray> args =
                text.mid(keyword.size() + 1, text.size() - keyword.size() - 2).split(',');
            QVERIFY2(args.size() >= minArgs && args.size() <= bounds.size(), text.constData());
            for (int i = 0; i < args.size(); ++i) {
                if (bounds[i] == kFill) {
                    QVERIFY2(fill.match(QString::fromLatin1(args[i])).hasMatch(), text.constData());
                    continue;
                }
                const int value = args[i].toInt();
                QVERIFY2(QByteArray::number(value) == args[i] && value >= 0 && value < bounds[i],
                         text.constData());
                lowest[i] = std::min(lowest[i], value);
                highest[i] = std::max(highest[i], value);
            }
        }
        for (int i = 0; i < bounds.size(); ++i) {
            if (bounds[i] == kFill)
                continue;
            const int slack = bounds[i] / 50;
            QVERIFY2(lowest[i] <= slack && highest[i] >= bounds[i] - 1 - slack,
                     qPrintable(QStringLiteral("argument %1 spans only %2..%3")
                                    .arg(i + 1)
                                    .arg(lowest[i])
                                    .arg(highest[i])));
        }
    }

    void probabilities_data()
    {
        QTest::addColumn<Composer>("composer");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("event");
        QTest::addColumn<double>("probability");

        const QString boxFill = "^BoxFill (\\d+,){4}";
        const QString roundFill = "^Roundboxfill (\\d+,){5}";
        QTest::newRow("BoxFill has a fill 3/4")
            << Composer(ComposeBoxFill) << "^BoxFill " << boxFill + "[^,;]+" << 0.75;
        QTest::newRow("BoxFill fill is a colour 1/3")
            << Composer(ComposeBoxFill) << boxFill + "[^,;]+" << boxFill + "&H" << 1.0 / 3;
        QTest::newRow("BoxFill number after the fill 3/4")
            << Composer(ComposeBoxFill) << boxFill + "[^,;]+" << boxFill + "[^,;]+,\\d+" << 0.75;
        QTest::newRow("BoxFill second number after $push or $pop 1/2")
            << Composer(ComposeBoxFill) << boxFill + "\\$\\w+,\\d+" << boxFill + "\\$\\w+,\\d+,\\d+"
            << 0.5;
        QTest::newRow("Roundbox second radius 1/2") << Composer(ComposeRoundBox) << "^Roundbox "
                                                    << "^Roundbox (\\d+,){5}\\d+;" << 0.5;
        QTest::newRow("Roundboxfill second radius 4/5")
            << Composer(ComposeRoundBoxFill) << "^Roundboxfill " << roundFill + "\\d+" << 0.8;
        QTest::newRow("Roundboxfill fill 4/5")
            << Composer(ComposeRoundBoxFill) << roundFill + "\\d+" << roundFill + "\\d+,[^,;]+"
            << 0.8;
        QTest::newRow("Roundboxfill fill is a colour 1/3")
            << Composer(ComposeRoundBoxFill) << roundFill + "\\d+,[^,;]+" << roundFill + "\\d+,&H"
            << 1.0 / 3;
        QTest::newRow("Roundboxfill number after the colour 4/5")
            << Composer(ComposeRoundBoxFill) << roundFill + "\\d+,&H\\w+"
            << roundFill + "\\d+,&H\\w+,\\d+;" << 0.8;
        QTest::newRow("Circlefill colour 1/2") << Composer(ComposeCircleFill) << "^Circlefill "
                                               << "^Circlefill [^;]*&H" << 0.5;
        QTest::newRow("Circlefill number after the colour 4/5")
            << Composer(ComposeCircleFill) << "^Circlefill [^;]*&H"
            << "&H\\w+,\\d+;" << 0.8;
        QTest::newRow("Print text box corner 1/2") << Composer(PrintHello) << "^TextPos "
                                                   << "^TextPos \\d+,\\d+,\\d+,\\d+;" << 0.5;
        QTest::newRow("Print transparent background 1/2")
            << Composer(PrintHello) << "TextColor "
            << "TextColor &H\\w+,\\$transparent;" << 0.5;
        QTest::newRow("Button caption 3/4") << Composer(ComposeButtonCtrl) << "^Button "
                                            << ",'Press';$" << 0.75;
        QTest::newRow("Checkbox colour 1/2") << Composer(ComposeCheckboxCtrl) << "^Checkbox "
                                             << ",&H[0-9A-F]{6};$" << 0.5;
        QTest::newRow("DrawImage position 1/2") << Composer(ComposeDrawImage) << "^DrawImage "
                                                << ",50,50;$" << 0.5;
    }

    void probabilities()
    {
        QFETCH(Composer, composer);
        QFETCH(QString, given);
        QFETCH(QString, event);
        QFETCH(double, probability);

        const QRegularExpression givenPattern(given);
        const QRegularExpression eventPattern(event);
        int trials = 0;
        int hits = 0;
        SeededRandom rng(kSeed);
        for (int press = 0; press < kPresses; ++press) {
            const QString text = QString::fromLatin1(composer(rng));
            if (!givenPattern.match(text).hasMatch())
                continue;
            ++trials;
            if (eventPattern.match(text).hasMatch())
                ++hits;
        }
        QVERIFY2(trials >= 500, qPrintable(QStringLiteral("only %1 trials").arg(trials)));
        const double observed = double(hits) / trials;
        const double tolerance = 5 * std::sqrt(probability * (1 - probability) / trials);
        QVERIFY2(std::abs(observed - probability) <= tolerance,
                 qPrintable(QStringLiteral("%1 of %2 = %3, expected %4 +- %5")
                                .arg(hits)
                                .arg(trials)
                                .arg(observed)
                                .arg(probability)
                                .arg(tolerance)));
    }

    // The text box corner depends on the font size; checked here in integer arithmetic over the
    // whole range of sizes and positions.
    void printTextBox()
    {
        static const QRegularExpression pattern(
            "^TextPos (\\d+),(\\d+)(?:,(\\d+),(\\d+))?;TextColor &H[0-9A-F]{6},"
            "(?:&H[0-9A-F]{6}|\\$transparent);TextFont (\\d+);Print 'hello';$");
        int corners = 0;
        int largestSize = 0;
        SeededRandom rng(kSeed);
        for (int press = 0; press < kPresses; ++press) {
            const QByteArray text = ComposePrint(rng, "hello", true);
            const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(text));
            QVERIFY2(match.hasMatch(), text.constData());
            const int x = match.captured(1).toInt();
            const int y = match.captured(2).toInt();
            const int size = match.captured(5).toInt();
            QVERIFY2(x < 400 && y < 240 && size < 160, text.constData());
            largestSize = std::max(largestSize, size);
            if (match.captured(3).isEmpty())
                continue;
            ++corners;
            QCOMPARE(match.captured(3).toInt(), x + 10 * size);
            QCOMPARE(match.captured(4).toInt(), y + 13 * size / 10);
        }
        QCOMPARE(largestSize, 159);
        QVERIFY(corners > 0);
    }
};

QTEST_APPLESS_MAIN(StatisticsTest)
#include "tst_commands_statistics.moc"
