#include "support/CodePage.h"

#include <QTest>

namespace {

const QString kEmoji = QString::fromUtf8("\xF0\x9F\x98\x80");

} // namespace

class CodePageTest : public QObject
{
    Q_OBJECT

private slots:
    void toCp949_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("lacking"); // the characters that went as "?", each once

        QTest::newRow("company name")
            << QStringLiteral("탈던테크놀로지")
            << QByteArray("\xC5\xBB\xB4\xF8\xC5\xD7\xC5\xA9\xB3\xEE\xB7\xCE\xC1\xF6") << QString();
        QTest::newRow("emoji, a surrogate pair, is one question mark")
            << kEmoji << QByteArray("?") << kEmoji;
        QTest::newRow("unmappable in a row, between mappable")
            << (u'a' + kEmoji + QStringLiteral("éb가")) << QByteArray("a??b\xB0\xA1")
            << kEmoji + QStringLiteral("é");
        QTest::newRow("a question mark of its own is kept, a repeated lack named once")
            << QStringLiteral("é?é") << QByteArray("???") << QStringLiteral("é");
        QTest::newRow("long text, characters across conversion windows")
            << (u'a' + QStringLiteral("가").repeated(100) + kEmoji + QStringLiteral("가"))
            << (QByteArray("a") + QByteArray("\xB0\xA1").repeated(100) + "?\xB0\xA1") << kEmoji;
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + u'x' << QByteArray("?x") << QString(QChar(0xFFFD));
        QTest::newRow("tag character, which the converter would drop")
            << QString::fromUtf8("a\xF3\xA0\x80\x97") << QByteArray("a?")
            << QString::fromUtf8("\xF3\xA0\x80\x97");
    }

    void toCp949()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, lacking);
        QCOMPARE(ToCp949(text), bytes);
        if (!bytes.contains('?'))
            QCOMPARE(FromCp949(bytes), text);
        QList<char32_t> expected;
        for (const uint c : lacking.toUcs4())
            expected << c;
        QCOMPARE(CharactersCp949Lacks(text), expected);
        QCOMPARE(FirstCharacterNotInCp949(text) < 0, lacking.isEmpty());
    }

    // Where ToCp949 would put its first "?" for a character the code page lacks.
    void firstNotInCp949_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");

        QTest::newRow("ASCII, question mark included") << QStringLiteral("Print '?',1,1;") << -1;
        QTest::newRow("Korean") << QStringLiteral("Print '탈던',1,1;") << -1;
        QTest::newRow("accented letter") << QStringLiteral("가aé") << 2;
        QTest::newRow("emoji after Korean") << (QStringLiteral("가") + kEmoji) << 1;
        QTest::newRow("lone surrogate") << (u'x' + QString(QChar(0xDC00))) << 1;
        QTest::newRow("tag character") << QString::fromUtf8("a\xF3\xA0\x80\x97") << 1;
    }

    void firstNotInCp949()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        QCOMPARE(FirstCharacterNotInCp949(text), qsizetype(index));
    }

    void fromCp949_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("lead byte cut off at the end")
            << QByteArray("a\xB0") << QStringLiteral("a\uFFFD");
        QTest::newRow("invalid byte between letters") << QByteArray("a\xFF"
                                                                    "b")
                                                      << QStringLiteral("a\uFFFDb");
        QTest::newRow("lead byte before a line end keeps the line end")
            << QByteArray("\xB0\nx") << QStringLiteral("\uFFFD\nx");
        // The converter steps past this unmapped pair when it rejects it.
        QTest::newRow("unmapped pair keeps the letter after it")
            << QByteArray("\xA2\xE8y") << QStringLiteral("\uFFFDy");
        QTest::newRow("unmapped pair at the end")
            << QByteArray("x\xA2\xE8") << QStringLiteral("x\uFFFD");
    }

    void fromCp949()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(FromCp949(bytes), text);
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
