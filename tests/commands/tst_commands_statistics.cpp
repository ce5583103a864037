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
        const auto row = [](const char* name, Composer composer, const char* keyword, int minArgs,
                            const QList<int>& bounds) {
            QTest::newRow(name) << composer << QByteArray(keyword) << minArgs << bounds;
        };

        const QList<int> corners{800, 480, 800, 480};
        row("Line", ComposeLine, "Line", 4, corners);
        row("Box", ComposeBox, "Box", 4, corners);
        row("BoxFill", ComposeBoxFill, "BoxFill", 4, corners + QList<int>{kFill, 100, 101});
        row("Roundbox", ComposeRoundBox, "Roundbox", 5, corners + QList<int>{80, 80});
        row("Roundboxfill", ComposeRoundBoxFill, "Roundboxfill", 5,
            corners + QList<int>{80, 80, kFill, 10});
        row("Circle axes up to twice the screen", ComposeCircle, "Circle", 4,
            {800, 480, 1600, 960});
        row("Circlefill axes within the screen", ComposeCircleFill, "Circlefill", 4,
            corners + QList<int>{kFill, 30});
        row("Arc", ComposeArc, "Arc", 6, {800, 480, 200, 120, 360, 360});
        row("Bezier", ComposeBezier, "Bezier", 8, corners + corners);
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
        const auto row = [](const char* name, Composer composer, const QString& given,
                            const QString& event, double probability) {
            QTest::newRow(name) << composer << given << event << probability;
        };

        const QString boxFill = "^BoxFill (\\d+,){4}";
        const QString roundFill = "^Roundboxfill (\\d+,){5}";
        row("BoxFill has a fill 3/4", ComposeBoxFill, "^BoxFill ", boxFill + "[^,;]+", 0.75);
        row("BoxFill fill is a colour 1/3", ComposeBoxFill, boxFill + "[^,;]+", boxFill + "&H",
            1.0 / 3);
        row("BoxFill number after the fill 3/4", ComposeBoxFill, boxFill + "[^,;]+",
            boxFill + "[^,;]+,\\d+", 0.75);
        row("BoxFill second number after $push or $pop 1/2", ComposeBoxFill,
            boxFill + "\\$\\w+,\\d+", boxFill + "\\$\\w+,\\d+,\\d+", 0.5);
        row("Roundbox second radius 1/2", ComposeRoundBox, "^Roundbox ",
            "^Roundbox (\\d+,){5}\\d+;", 0.5);
        row("Roundboxfill second radius 4/5", ComposeRoundBoxFill, "^Roundboxfill ",
            roundFill + "\\d+", 0.8);
        row("Roundboxfill fill 4/5", ComposeRoundBoxFill, roundFill + "\\d+",
            roundFill + "\\d+,[^,;]+", 0.8);
        row("Circlefill colour 1/2", ComposeCircleFill, "^Circlefill ", "^Circlefill [^;]*&H", 0.5);
        row("Circlefill number after the colour 4/5", ComposeCircleFill, "^Circlefill [^;]*&H",
            "&H\\w+,\\d+;", 0.8);
        row("Print text box corner 1/2", PrintHello, "^TextPos ", "^TextPos \\d+,\\d+,\\d+,\\d+;",
            0.5);
        row("Print transparent background 1/2", PrintHello, "TextColor ",
            "TextColor &H\\w+,\\$transparent;", 0.5);
        row("Button caption 3/4", ComposeButtonCtrl, "^Button ", ",'Press';$", 0.75);
        row("Checkbox colour 1/2", ComposeCheckboxCtrl, "^Checkbox ", ",&H[0-9A-F]{6};$", 0.5);
        row("DrawImage position 1/2", ComposeDrawImage, "^DrawImage ", ",50,50;$", 0.5);
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
};

QTEST_APPLESS_MAIN(StatisticsTest)
#include "tst_commands_statistics.moc"
