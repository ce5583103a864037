// The HTML report in a real browser: headless chromium loads it, a check script (put into a copy
// of the page ahead of its content security policy) writes what the page shows into the DOM,
// and the DOM and the console are read back. Without chromium the test is skipped.
#include "results/HtmlReport.h"
#include "tests/results/ResultsSample.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// Collects load errors (a picture that does not decode, a script that throws) from the start,
// and once the page has loaded writes what a reader sees into <pre id=browser-check>.
const char* const kCheckScript = R"(<script>
var checkErrors = [];
addEventListener('error', function (e) {
  checkErrors.push(String(e.message || (e.target && e.target.outerHTML || e.type)).slice(0, 120));
}, true);
addEventListener('load', function () {
  var map = function (list, f) { return Array.prototype.map.call(list, f); };
  var out = {
    errors: checkErrors,
    images: map(document.images, function (i) {
      return {alt: i.alt, width: i.naturalWidth, height: i.naturalHeight};
    }),
    summary: map(document.querySelectorAll('table.summary tr'), function (r) {
      return map(r.cells, function (c) { return c.textContent.trim(); });
    }),
    totals: (document.getElementById('totals') || {}).textContent,
    scripts: document.scripts.length,
    outside: map(document.querySelectorAll('[src],[href]'), function (e) {
      return e.getAttribute('src') || e.getAttribute('href');
    }).filter(function (u) { return u.indexOf('data:') !== 0 && u.charAt(0) !== '#'; }),
    charts: document.querySelectorAll('svg.chart polyline').length,
    // Split, or the end tag would end this very script.
    hostileShownAsText: document.body.textContent.indexOf('<script>alert(1)</scr' + 'ipt>') >= 0,
    badBytesMarked: map(document.querySelectorAll('span.x'), function (s) {
      return s.textContent;
    }).indexOf('\\xFF') >= 0
  };
  var pre = document.createElement('pre');
  pre.id = 'browser-check';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
});
</script>
)";

QImage Screen(int boxX, QColor fill)
{
    QImage image(800, 480, QImage::Format_RGB32);
    image.fill(fill);
    QPainter painter(&image);
    painter.fillRect(boxX, 200, 100, 60, Qt::black);
    return image;
}

RunResults Sample(const QString& folder)
{
    const QString evil = QStringLiteral("<script>alert(1)</script>");
    RunResults run =
        OneScript('1', {{2, QStringLiteral("send MakeTestEnvironment;"), {0, 0, 0, 0, 0, 0}},
                        {3,
                         QStringLiteral("expect $on_click (down : ctrl 1)"),
                         {5.2, 5.4, 5.1, 5.3, kFailed, 5.2}},
                        {6, QStringLiteral("screen ref.png"), {0, 0, 0, 0, 0, kFailed}}});
    run.runs[1].port = run.runs[3].port = QStringLiteral("COM7");
    for (std::size_t i = 0; i < run.runs.size(); ++i) {
        run.runs[i].startMs = 1000.0 * double(i);
        run.runs[i].endMs = run.runs[i].startMs + 250;
    }
    StepRun& screen = run.runs[5].steps[2];
    screen.reason = QStringLiteral("4800 pixels differ");
    screen.pictures = {folder + QStringLiteral("/ref.png"), folder + QStringLiteral("/actual.png"),
                       folder + QStringLiteral("/difference.png")};
    StepRun& expect = run.runs[4].steps[1];
    expect.reason = QStringLiteral("no report within 1000 ms: ") + evil;
    expect.reportsSeen = {evil.toUtf8(), QByteArray("$on_key_press (\xff)")};
    run.runs[4].transcript = {{4000, TranscriptEntry::Kind::StepStart, 3, {}},
                              {4001, TranscriptEntry::Kind::Sent, 0, "Print '\"&<>',1,1;"},
                              {4002, TranscriptEntry::Kind::Report, 0, evil.toUtf8()},
                              {4200, TranscriptEntry::Kind::StepEnd, 3, {}}};
    return run;
}

struct Loaded
{
    QJsonObject check;   // what the check script wrote
    QStringList console; // the page's console messages
    QString error;       // why nothing could be read
};

Loaded LoadInChromium(const QString& chromium, const QString& page)
{
    Loaded loaded;
    QTemporaryDir profile;
    QProcess browser;
    browser.start(chromium,
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                   QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                   QStringLiteral("--no-first-run"),
                   QStringLiteral("--disable-background-networking"),
                   QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                   QStringLiteral("--user-data-dir=") + profile.path(),
                   QStringLiteral("--enable-logging=stderr"), QStringLiteral("--v=0"),
                   // Lets the page's load handlers run before the DOM is taken.
                   QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--dump-dom"),
                   QUrl::fromLocalFile(page).toString()});
    // A bound on a hung browser only; a page loads in a few seconds even on a busy machine.
    if (!browser.waitForFinished(180 * 1000)) {
        browser.kill();
        browser.waitForFinished();
        loaded.error = QStringLiteral("chromium did not finish");
        return loaded;
    }
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    const QString log = QString::fromUtf8(browser.readAllStandardError());
    for (const QString& line : log.split(u'\n'))
        if (line.contains(QStringLiteral(":CONSOLE")))
            loaded.console << line;
    const QString begin = QStringLiteral("<pre id=\"browser-check\">");
    const qsizetype from = dom.indexOf(begin);
    const qsizetype to = dom.indexOf(QStringLiteral("</pre>"), from);
    if (from < 0 || to < 0) {
        loaded.error = QStringLiteral("no check in the page (exit %1): %2\n%3")
                           .arg(browser.exitCode())
                           .arg(log.right(3000), dom.right(1000));
        return loaded;
    }
    QString json = dom.mid(from + begin.size(), to - from - begin.size());
    json.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&nbsp;"), QStringLiteral("\u00a0"))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    loaded.check = QJsonDocument::fromJson(json.toUtf8()).object();
    if (loaded.check.isEmpty())
        loaded.error = QStringLiteral("the check is not JSON: ") + json.left(500);
    return loaded;
}

QStringList Strings(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << (item.isString()
                     ? item.toString()
                     : QString::fromUtf8(
                           QJsonDocument(item.toObject()).toJson(QJsonDocument::Compact)));
    return list;
}

} // namespace

class ResultsBrowserTest : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void reportOfARealRun();
};

void ResultsBrowserTest::report_data()
{
    QTest::addColumn<bool>("planted");
    QTest::newRow("the report as written") << false;
    // The check must see faults, or its silence says nothing: a picture that does not decode,
    // an inline script and a picture from the network, which the page's policy refuses.
    QTest::newRow("faults planted in the report") << true;
}

void ResultsBrowserTest::report()
{
    QFETCH(bool, planted);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (tools/deps.sh test installs it)");

    QTemporaryDir dir;
    QVERIFY(Screen(300, Qt::white).save(dir.filePath(QStringLiteral("ref.png"))));
    QVERIFY(Screen(340, Qt::white).save(dir.filePath(QStringLiteral("actual.png"))));
    QVERIFY(Screen(320, Qt::red).save(dir.filePath(QStringLiteral("difference.png"))));
    const RunResults run = Sample(dir.path());
    RunResults baseline = run;
    for (ScriptRun& r : baseline.runs)
        for (StepRun& s : r.steps)
            if (s.latencyMs >= 0)
                s.latencyMs -= 4;

    QByteArray html = ReportHtml(run, &baseline);
    const QByteArray head = "<meta charset=utf-8>\n";
    QVERIFY(html.contains(head));
    html.insert(html.indexOf(head) + head.size(), kCheckScript);
    if (planted)
        html.replace("</body>", "<img alt=broken src=\"data:image/png;base64,AAAA\">"
                                "<script>document.title = 'ran';</script>"
                                "<img alt=remote src=\"http://127.0.0.1:9/x.png\"></body>");
    const QString page = dir.filePath(QStringLiteral("report.html"));
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(html) == html.size());
    file.close();

    const Loaded loaded = LoadInChromium(chromium, page);
    QVERIFY2(loaded.error.isEmpty(), qPrintable(loaded.error));
    const QJsonObject& check = loaded.check;
    const QStringList errors = Strings(check.value("errors"));
    if (planted) {
        QVERIFY2(loaded.console.size() >= 2, qPrintable(loaded.console.join(u'\n')));
        QVERIFY2(!errors.isEmpty(), "a picture that does not decode went unseen");
        QCOMPARE(check.value("scripts").toInt(), 2);
        QCOMPARE(Strings(check.value("outside")), QStringList{"http://127.0.0.1:9/x.png"});
        return;
    }

    QVERIFY2(loaded.console.isEmpty(), qPrintable(loaded.console.join(u'\n')));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
    QCOMPARE(check.value("scripts").toInt(), 1); // the check's own
    QCOMPARE(Strings(check.value("outside")), QStringList());
    QCOMPARE(check.value("totals").toString(),
             QStringLiteral("10 passed, 2 failed, 0 skipped; 6 script runs on 2 ports in 5.250 s"));
    QCOMPARE(check.value("summary").toArray().size(), 3);
    QCOMPARE(Strings(check.value("summary")[1]),
             (QStringList{"virtual", "a.ots", "4", "6", "2", "0", "1.000 s"}));
    QCOMPARE(Strings(check.value("summary")[2]),
             (QStringList{"COM7", "a.ots", "2", "4", "0", "0", "0.500 s"}));
    // The failed screen step's three pictures, decoded at their full size.
    const QJsonArray images = check.value("images").toArray();
    QCOMPARE(images.size(), 3);
    const char* const names[] = {"reference picture", "actual picture", "difference picture"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(images[i].toObject().value("alt").toString(), QString::fromLatin1(names[i]));
        QCOMPARE(images[i].toObject().value("width").toInt(), 800);
        QCOMPARE(images[i].toObject().value("height").toInt(), 480);
    }
    QCOMPARE(check.value("charts").toInt(), 2); // the expect's runs, and the baseline's beside
    QVERIFY(check.value("hostileShownAsText").toBool());
    QVERIFY(check.value("badBytesMarked").toBool());
}

// orvexa-run on its virtual module, twice over, with a screen step that fails: the report it
// writes, as a browser shows it.
void ResultsBrowserTest::reportOfARealRun()
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (tools/deps.sh test installs it)");

    QTemporaryDir dir;
    QVERIFY(Screen(300, Qt::white).save(dir.filePath(QStringLiteral("ref.png"))));
    const QString script = dir.filePath(QStringLiteral("button.ots"));
    {
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\ntouch 50,50\n"
                   "expect $on_click (down : ctrl 1)\nscreen ref.png\nexpect $on_click (up*\n");
    }
    const QString page = dir.filePath(QStringLiteral("report.html"));
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    run.setProcessEnvironment(environment);
    run.start(QStringLiteral(ORVEXA_RUN_EXE), {QStringLiteral("--repeat"), QStringLiteral("2"),
                                               QStringLiteral("--report"), page, script});
    QVERIFY(run.waitForFinished(120 * 1000));
    QVERIFY2(run.exitCode() == 1, run.readAllStandardError().constData());

    QFile file(page);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray html = file.readAll();
    const QByteArray head = "<meta charset=utf-8>\n";
    QVERIFY(html.contains(head));
    html.insert(html.indexOf(head) + head.size(), kCheckScript);
    QVERIFY(file.resize(0) && file.write(html) == html.size());
    file.close();

    const Loaded loaded = LoadInChromium(chromium, page);
    QVERIFY2(loaded.error.isEmpty(), qPrintable(loaded.error));
    const QJsonObject& check = loaded.check;
    QVERIFY2(loaded.console.isEmpty(), qPrintable(loaded.console.join(u'\n')));
    QVERIFY2(Strings(check.value("errors")).isEmpty(),
             qPrintable(Strings(check.value("errors")).join(u'\n')));
    QCOMPARE(check.value("scripts").toInt(), 1); // the check's own
    QCOMPARE(Strings(check.value("outside")), QStringList());
    // Per round: two expects passed, the screen failed.
    QVERIFY2(check.value("totals").toString().startsWith(
                 QStringLiteral("4 passed, 2 failed, 0 skipped; 2 script runs on 1 port in ")),
             qPrintable(check.value("totals").toString()));
    QCOMPARE(check.value("summary").toArray().size(), 2);
    QCOMPARE(Strings(check.value("summary")[1]).mid(0, 6),
             (QStringList{"virtual", script, "2", "4", "2", "0"}));
    // Each round's failed screen step: the reference, the module's screen, the difference.
    const QJsonArray images = check.value("images").toArray();
    QCOMPARE(images.size(), 6);
    const char* const names[] = {"reference picture", "actual picture", "difference picture"};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(images[i].toObject().value("alt").toString(), QString::fromLatin1(names[i % 3]));
        QCOMPARE(images[i].toObject().value("width").toInt(), 800);
        QCOMPARE(images[i].toObject().value("height").toInt(), 480);
    }
    QCOMPARE(check.value("charts").toInt(), 2); // one per expect step
}

QTEST_MAIN(ResultsBrowserTest)
#include "tst_results_browser.moc"
