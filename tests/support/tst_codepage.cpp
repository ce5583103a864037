#include "support/CodePage.h"

#include <QTest>

namespace {

const QByteArray kCompanyCp949("\xC5\xBB\xB4\xF8\xC5\xD7\xC5\xA9\xB3\xEE\xB7\xCE\xC1\xF6");
const QString kEmoji = QString::fromUtf8("\xF0\x9F\x98\x80");

} // namespace

class CodePageTest : public QObject
{
    Q_OBJECT

private slots:
    void toCp949_data();
    void toCp949();
    void fromCp949_data();
    void fromCp949();
    void everyLoneHighByteIsOneReplacement();
};

void CodePageTest::toCp949_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("company name") << QStringLiteral("탈던테크놀로지") << kCompanyCp949;
    QTest::newRow("euro sign, in code page 949") << QStringLiteral("€") << QByteArray("\xA2\xE6");
    QTest::newRow("accented letter outside it") << QStringLiteral("é") << QByteArray("?");
    QTest::newRow("emoji is one question mark") << kEmoji << QByteArray("?");
    QTest::newRow("two unmappable in a row") << (kEmoji + QStringLiteral("é")) << QByteArray("??");
    QTest::newRow("mixed") << (u'a' + kEmoji + QStringLiteral("b가")) << QByteArray("a?b\xB0\xA1");
    QTest::newRow("long text, characters across conversion windows")
        << (u'a' + QStringLiteral("가").repeated(100) + kEmoji + QStringLiteral("가"))
        << (QByteArray("a") + QByteArray("\xB0\xA1").repeated(100) + "?\xB0\xA1");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'x' << QByteArray("?x");
}

void CodePageTest::toCp949()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToCp949(text), bytes);
}

void CodePageTest::fromCp949_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("company name") << kCompanyCp949 << QStringLiteral("탈던테크놀로지");
    QTest::newRow("lead byte cut off at the end")
        << QByteArray("a\xB0") << QStringLiteral("a\uFFFD");
    QTest::newRow("invalid byte between letters") << QByteArray("a\xFF"
                                                                "b")
                                                  << QStringLiteral("a\uFFFDb");
    QTest::newRow("lead byte before a line end keeps the line end")
        << QByteArray("\xB0\nx") << QStringLiteral("\uFFFD\nx");
    QTest::newRow("empty") << QByteArray() << QString();
}

void CodePageTest::fromCp949()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(FromCp949(bytes), text);
    if (!text.contains(QChar(0xFFFD)))
        QCOMPARE(ToCp949(text), bytes);
}

void CodePageTest::everyLoneHighByteIsOneReplacement()
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char byte = static_cast<char>(b);
        QCOMPARE(FromCp949(QByteArrayView(&byte, 1)), QString(QChar(0xFFFD)));
    }
}

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
