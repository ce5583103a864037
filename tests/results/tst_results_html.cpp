// The HTML report as text: escaping of everything that came from a script or the line, the
// pictures it embeds or only names, and what the page holds. How a browser shows it is
// tst_results_browser's.
#include "results/HtmlReport.h"
#include "tests/results/ResultsSample.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

RunResults WithScreenFailure(const ScreenPictures& pictures)
{
    RunResults results = OneScript('1', {{4, QStringLiteral("screen a.png"), {kFailed}}});
    results.runs[0].steps[0].pictures = pictures;
    results.runs[0].steps[0].reason = QStringLiteral("12 pixels differ");
    return results;
}

} // namespace

class ResultsHtmlTest : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void bytes_data();
    void bytes();
    void hostileTextStaysText();
    void pictures_data();
    void pictures();
    void summaryAndCharts();
};

void ResultsHtmlTest::text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");

    QTest::newRow("plain") << "expect $on_click (down : ctrl 1)"
                           << "expect $on_click (down : ctrl 1)";
    QTest::newRow("markup") << "<b>&amp;</b>"
                            << "&lt;b&gt;&amp;amp;&lt;/b&gt;";
    QTest::newRow("both quotes") << "Print 'a\"b'"
                                 << "Print &#39;a&quot;b&#39;";
    QTest::newRow("Korean as it is") << "Print '한글'"
                                     << "Print &#39;한글&#39;";
    QTest::newRow("a tab stays") << "a\tb"
                                 << "a\tb";
    QTest::newRow("controls shown by code, a run in one mark")
        << QStringLiteral("a\x01\x1b[0mb\r\n")
        << "a<span class=x>\\x01\\x1B</span>[0mb<span class=x>\\x0D\\x0A</span>";
    QTest::newRow("NUL and DEL") << QString::fromLatin1("a\0b\x7f", 4)
                                 << "a<span class=x>\\x00</span>b<span class=x>\\x7F</span>";
    QTest::newRow("a right-to-left override shown by code")
        << QStringLiteral("ok \u202Egnp.exe") << "ok <span class=x>\\u202E</span>gnp.exe";
}

void ResultsHtmlTest::text()
{
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(HtmlText(text), html);
}

void ResultsHtmlTest::bytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("html");

    QTest::newRow("UTF-8 as text")
        << QByteArray("$on_key_press (한 < 2)") << "$on_key_press (한 &lt; 2)";
    QTest::newRow("a byte that is not UTF-8") << QByteArray("a\xff"
                                                            "b")
                                              << "a<span class=x>\\xFF</span>b";
    QTest::newRow("CP949 text: every byte shown")
        << QByteArray("Print '\xc7\xd1';") << "Print &#39;<span class=x>\\xC7\\xD1</span>&#39;;";
    QTest::newRow("an overlong slash")
        << QByteArray("\xc0\xaf") << "<span class=x>\\xC0\\xAF</span>";
    QTest::newRow("an encoded surrogate")
        << QByteArray("\xed\xa0\x80") << "<span class=x>\\xED\\xA0\\x80</span>";
    QTest::newRow("cut short at the end")
        << QByteArray("ok\xe2\x82") << "ok<span class=x>\\xE2\\x82</span>";
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << "a<span class=x>\\x00</span>b";
    QTest::newRow("markup after a bad byte")
        << QByteArray("\xfe<script>") << "<span class=x>\\xFE</span>&lt;script&gt;";
}

void ResultsHtmlTest::bytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, html);
    QCOMPARE(HtmlBytes(bytes), html);
}

void ResultsHtmlTest::hostileTextStaysText()
{
    const QString evil =
        QStringLiteral("</code></td><script>alert(1)</script><img src=x onerror=alert(2)>");
    RunResults results = OneScript('1', {{4, QStringLiteral("expect ") + evil, {kFailed}}},
                                   QStringLiteral("<svg onload=alert(3)>.ots"));
    results.runs[0].port = QStringLiteral("\"><iframe src=//x>");
    results.runs[0].steps[0].reason = evil;
    results.runs[0].steps[0].reportsSeen = {evil.toUtf8(), QByteArray("\xff</pre><script>")};
    results.runs[0].transcript = {{1, TranscriptEntry::Kind::Sent, 0, evil.toUtf8()},
                                  {2, TranscriptEntry::Kind::Note, 0, evil.toUtf8()}};
    const QString html = QString::fromUtf8(ReportHtml(results, &results));

    QVERIFY(!html.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
    QVERIFY(!html.contains(QStringLiteral("<img src=x")));
    QVERIFY(!html.contains(QStringLiteral("<iframe")));
    QVERIFY(!html.contains(QStringLiteral("<svg onload")));
    QVERIFY(html.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")));
    // The page may load nothing but its own data: pictures, whatever got through.
    QVERIFY(html.contains(QStringLiteral("content=\"default-src 'none'; img-src data:; "
                                         "style-src 'unsafe-inline'\"")));
    QVERIFY(!html.contains(QStringLiteral("http:")) && !html.contains(QStringLiteral("https:")));
}

void ResultsHtmlTest::pictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("why");

    QTest::newRow("a PNG file: shown") << "ref.png" << true << "";
    QTest::newRow("missing: named") << "gone.png" << false << "missing";
    QTest::newRow("not a PNG: named, not embedded") << "secret.txt" << false << "not a PNG file";
    QTest::newRow("a pipe: named, never read") << "pipe" << false << "not a regular file";
    QTest::newRow("a folder: named") << "folder" << false << "not a regular file";
    QTest::newRow("larger than the limit: named") << "huge.png" << false << "larger than 16 MiB";
}

void ResultsHtmlTest::pictures()
{
    QFETCH(QString, name);
    QFETCH(bool, shown);
    QFETCH(QString, why);
    QTemporaryDir dir;
    QImage picture(8, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(dir.filePath(QStringLiteral("ref.png"))));
    QFile secret(dir.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("password=hunter2") > 0);
    secret.close();
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) ==
            0);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QFile huge(dir.filePath(QStringLiteral("huge.png")));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("\x89PNG\r\n\x1a\n") == 8 &&
            huge.resize(kMostPictureBytes + 1));
    huge.close();

    const QString path = dir.filePath(name);
    const QString html = QString::fromUtf8(ReportHtml(WithScreenFailure({{}, path, {}})));
    QCOMPARE(html.contains(QStringLiteral("<img class=shot src=\"data:image/png;base64,")), shown);
    QVERIFY(!html.contains(QStringLiteral("aHVudGVyMg"))); // the secret's base64
    if (!shown)
        QVERIFY2(html.contains(QStringLiteral("The actual picture %1: %2").arg(path, why)),
                 qPrintable(html.section(QStringLiteral("The actual"), 1).left(200)));
}

void ResultsHtmlTest::summaryAndCharts()
{
    const QString expect = QStringLiteral("expect $on_touch*");
    RunResults baseline = OneScript('1', {{3, expect, {3, 3.1, 2.9, 3, 3.2}}});
    RunResults run = OneScript('1', {{3, expect, {8, 8.1, kFailed, 8.2, 7.9, 8}},
                                     {5, QStringLiteral("send Clear;"), {0, 0, 0, 0, 0, 0}}});
    run.runs[1].port = run.runs[3].port = QStringLiteral("COM7");
    for (ScriptRun& r : run.runs)
        r.endMs = r.startMs + 500;
    const QString html = QString::fromUtf8(ReportHtml(run, &baseline));

    // Only tests count: the send steps do not.
    QVERIFY(
        html.contains(QStringLiteral("<p id=totals>5 passed, 1 failed, 0 skipped; 6 script runs "
                                     "on 2 ports in 0.500 s</p>")));
    QVERIFY(html.contains(QStringLiteral("<tr class=failed><td>virtual<td>a.ots<td>4"
                                         "<td>3<td>1<td>0<td>2.000 s")));
    QVERIFY(html.contains(QStringLiteral("<tr><td>COM7<td>a.ots<td>2<td>2"
                                         "<td>0<td>0<td>1.000 s")));
    QVERIFY(html.contains(QStringLiteral("<td class=slower>newly failing, slower<td>a.ots:3")));
    // A chart of the step's runs beside the baseline's.
    QCOMPARE(html.count(QStringLiteral("<svg class=chart")), 1);
    QVERIFY(html.contains(QStringLiteral("aria-label=\"latency of 5 runs beside 5 runs of the "
                                         "baseline, 0 to 8.2 ms\"")));
    QVERIFY(html.contains(QStringLiteral("<polyline class=base points=\"4.0,")));
    QVERIFY(html.contains(QStringLiteral("<polyline class=now points=\"134.0,")));
    // Every script run is in the contents and has its section.
    for (int i = 0; i < 6; ++i) {
        QVERIFY(html.contains(QStringLiteral("<a href=\"#run-%1\">").arg(i)));
        QVERIFY(html.contains(QStringLiteral("<section id=run-%1>").arg(i)));
    }
}

QTEST_MAIN(ResultsHtmlTest)
#include "tst_results_html.moc"
