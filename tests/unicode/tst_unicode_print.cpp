// The encoder: every separator, both forms, and the code units that are easy to get wrong.
#include "unicode/UnicodePrint.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(CodeSeparator)

class UnicodePrintTest : public QObject
{
    Q_OBJECT

private slots:
    void encodesCodeUnits_data();
    void encodesCodeUnits();
};

void UnicodePrintTest::encodesCodeUnits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<CodeSeparator>("separator");
    QTest::addColumn<bool>("wholeCommand");
    QTest::addColumn<QString>("expected");

    using enum CodeSeparator;
    QTest::newRow("empty, whole command") << "" << Space << true << "Print 'U::';";
    QTest::newRow("empty, codes only") << "" << Comma << false << "";
    QTest::newRow("one letter has no separator") << "A" << Hyphen << true << "Print 'U::0041';";
    QTest::newRow("Korean, space") << u"안녕"_s << Space << true << "Print 'U::C548 B155';";
    QTest::newRow("Korean, no space, codes only") << u"안녕"_s << NoSpace << false << "C548B155";
    QTest::newRow("emoji gives its surrogate pair") << u"😀"_s << Comma << false << "D83D,DE00";
    QTest::newRow("line break is a unit")
        << "a\nb" << Hyphen << true << "Print 'U::0061-000A-0062';";
    QTest::newRow("zero-padded upper-case digits")
        << u"\u00e9\u0007\uffff"_s << Space << false << "00E9 0007 FFFF";
}

void UnicodePrintTest::encodesCodeUnits()
{
    QFETCH(QString, text);
    QFETCH(CodeSeparator, separator);
    QFETCH(bool, wholeCommand);
    QFETCH(QString, expected);
    QCOMPARE(UnicodePrintText(text, separator, wholeCommand), expected);
}

QTEST_APPLESS_MAIN(UnicodePrintTest)
#include "tst_unicode_print.moc"
