// The results file: every field back as written, the form on disk, a clear error for each kind
// of bad file, and a failed write that leaves the old file alone.
#include "results/ResultsFile.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/results/ResultsSample.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

using Field = std::function<QString(const RunResults&)>;
Q_DECLARE_METATYPE(Field)

namespace {

// A run with every member set, and with what is hard to carry: bytes that are not UTF-8,
// control characters, Korean, "%1", a picture outside the results folder.
RunResults Full(const QString& folder)
{
    RunResults results;
    results.started = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 15, 123), Qt::UTC);
    results.scripts.push_back(
        {QStringLiteral("scripts/한글 %1.ots"),
         ScriptDigest("send Clear;"),
         {{2, QStringLiteral("send"), QStringLiteral("send Print '한글',1,1;")},
          {3, QStringLiteral("expect"),
           QStringLiteral("expect $on_click (down : ctrl 1) within 500")},
          {9, QStringLiteral("screen"), QStringLiteral("screen ref.png tolerance 3")}}});
    results.scripts.push_back({QStringLiteral("b.ots"), ScriptDigest("b"), {}});

    ScriptRun run;
    run.port = QStringLiteral("COM7");
    run.script = results.scripts[0].path;
    run.repeat = 3;
    run.startMs = 10.5;
    run.endMs = 1234.0625;
    run.steps.push_back({2, StepStatus::Passed, 10.5, 11.25, -1, {}, {}, {}});
    run.steps.push_back({3, StepStatus::Passed, 11.25, 14.5, 3.125, {}, {}, {}});
    StepRun screen{9,
                   StepStatus::Failed,
                   14.5,
                   1234,
                   -1,
                   QStringLiteral("1234 pixels differ\tby up to 255"),
                   {QByteArray("$on_click (down : ctrl 1)"),
                    QByteArray("bad \xff\xfe bytes\0!", 14), QByteArray()},
                   {folder + QStringLiteral("/ref.png"),
                    folder + QStringLiteral("/pictures/actual.png"),
                    QStringLiteral("/elsewhere/difference.png")}};
    run.steps.push_back(screen);
    using Kind = TranscriptEntry::Kind;
    run.transcript = {{10.5, Kind::StepStart, 2, {}},
                      {10.75, Kind::Sent, 0, QByteArray("Print '\xc7\xd1',1,1;")},
                      {11.25, Kind::StepEnd, 2, {}},
                      {12, Kind::Report, 0, QByteArray("$on_click (down : ctrl 1)")},
                      {13, Kind::Note, 0, QByteArray("touch 5,5 by hand\n\"quoted\"")}};
    results.runs.push_back(run);
    ScriptRun empty;
    empty.port = QStringLiteral("virtual");
    empty.script = QStringLiteral("b.ots");
    results.runs.push_back(empty);
    return results;
}

QString Join(const std::vector<QByteArray>& list)
{
    QStringList hex;
    for (const QByteArray& bytes : list)
        hex << QString::fromLatin1(bytes.toHex());
    return hex.join(u' ');
}

const char* const kValid = R"({"format": "orvexa-results", "version": 1,
 "started": "2024-05-01T09:30:00.000Z",
 "scripts": [{"path": "a.ots", "sha256": "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
              "steps": [{"line": 3, "kind": "expect", "source": "expect X"},
                        {"line": 5, "kind": "screen", "source": "screen a.png"}]}],
 "runs": [{"port": "COM1", "script": "a.ots", "repeat": 1, "start": 0, "end": 20,
           "steps": [{"line": 3, "status": "passed", "start": 1, "end": 4, "latency": 3,
                      "reports": ["$on_x", {"hex": "ff00"}]},
                     {"line": 5, "status": "failed", "start": 4, "end": 9,
                      "pictures": {"actual": "p/actual.png"}}],
           "transcript": [{"at": 1, "kind": "step-start", "line": 3},
                          {"at": 2, "kind": "sent", "text": "Clear;"}]}],
 "future": "members not known are ignored"})";

} // namespace

class ResultsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void onDisk();
    void malformed_data();
    void malformed();
    void files_data();
    void files();
    void fullDiskKeepsTheOldFile();
};

void ResultsFileTest::roundTrip_data()
{
    QTest::addColumn<Field>("field");

    const auto run = [](const RunResults& r) -> const ScriptRun& { return r.runs.at(0); };
    const auto step = [run](const RunResults& r, std::size_t i) -> const StepRun& {
        return run(r).steps.at(i);
    };
    const auto row = [](const char* name, Field field) { QTest::newRow(name) << field; };
    row("started", [](const RunResults& r) { return r.started.toString(Qt::ISODateWithMs); });
    row("script paths",
        [](const RunResults& r) { return r.scripts.at(0).path + u'|' + r.scripts.at(1).path; });
    row("script digest", [](const RunResults& r) { return r.scripts.at(0).sha256; });
    row("script steps", [](const RunResults& r) {
        QString text;
        for (const StepInfo& s : r.scripts.at(0).steps)
            text += QStringLiteral("%1 %2 %3|").arg(s.line).arg(s.kind, s.source);
        return text + QString::number(r.scripts.at(1).steps.size());
    });
    row("run port, script, repeat", [run](const RunResults& r) {
        return QStringLiteral("%1 %2 %3").arg(run(r).port, run(r).script).arg(run(r).repeat);
    });
    row("run times", [run](const RunResults& r) {
        return QStringLiteral("%1 %2")
            .arg(run(r).startMs, 0, 'g', 17)
            .arg(run(r).endMs, 0, 'g', 17);
    });
    row("step lines and statuses", [run](const RunResults& r) {
        QString text;
        for (const StepRun& s : run(r).steps)
            text += QStringLiteral("%1 %2|").arg(s.line).arg(StatusName(s.status));
        return text;
    });
    row("step times", [step](const RunResults& r) {
        return QStringLiteral("%1 %2").arg(step(r, 1).startMs).arg(step(r, 1).endMs);
    });
    row("latency, and none", [step](const RunResults& r) {
        return QStringLiteral("%1 %2").arg(step(r, 1).latencyMs).arg(step(r, 0).latencyMs);
    });
    row("reason", [step](const RunResults& r) { return step(r, 2).reason; });
    row("reports seen, byte for byte",
        [step](const RunResults& r) { return Join(step(r, 2).reportsSeen); });
    row("pictures", [step](const RunResults& r) {
        const ScreenPictures& p = step(r, 2).pictures;
        return p.reference + u'|' + p.actual + u'|' + p.difference;
    });
    row("transcript", [run](const RunResults& r) {
        QString text;
        for (const TranscriptEntry& e : run(r).transcript)
            text += QStringLiteral("%1 %2 %3 %4|")
                        .arg(e.atMs)
                        .arg(int(e.kind))
                        .arg(e.line)
                        .arg(QString::fromLatin1(e.text.toHex()));
        return text;
    });
    row("a run with nothing in it", [](const RunResults& r) {
        const ScriptRun& empty = r.runs.at(1);
        return QStringLiteral("%1 %2 %3 %4")
            .arg(empty.port, empty.script)
            .arg(empty.steps.size())
            .arg(empty.transcript.size());
    });
}

void ResultsFileTest::roundTrip()
{
    QFETCH(Field, field);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.json"));
    const RunResults written = Full(dir.path());
    QString error;
    QVERIFY2(SaveResults(path, written, error), qPrintable(error));
    RunResults read;
    QVERIFY2(LoadResults(path, read, error), qPrintable(error));
    QCOMPARE(field(read), field(written));
    // And whatever no row names.
    QVERIFY(read == written);
}

void ResultsFileTest::onDisk()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out/results.json"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
    QString error;
    QVERIFY2(SaveResults(path, Full(dir.path()), error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject top = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(top.value("format").toString(), QStringLiteral("orvexa-results"));
    QCOMPARE(top.value("version").toInt(), 1);
    QCOMPARE(top.value("started").toString(), QStringLiteral("2024-05-01T09:30:15.123Z"));
    const QJsonObject screen = top.value("runs")[0].toObject().value("steps")[2].toObject();
    // Pictures by their place from the results file's folder.
    QCOMPARE(screen.value("pictures").toObject().value("actual").toString(),
             QStringLiteral("../pictures/actual.png"));
    QCOMPARE(screen.value("reports")[0].toString(), QStringLiteral("$on_click (down : ctrl 1)"));
    QCOMPARE(screen.value("reports")[1].toObject().value("hex").toString(),
             QStringLiteral("62616420fffe2062797465730021"));
    QVERIFY(!screen.contains("latency"));
}

void ResultsFileTest::malformed_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");

    const QByteArray valid(kValid);
    const auto row = [&](const char* name, const char* from, const char* to, const char* error) {
        QByteArray json = valid;
        if (from) {
            QVERIFY2(json.contains(from), from);
            json.replace(from, to);
        }
        QTest::newRow(name) << json << QString::fromUtf8(error);
    };
    const auto whole = [](const char* name, const QByteArray& json, const char* error) {
        QTest::newRow(name) << json << QString::fromUtf8(error);
    };
    row("valid, with a member not known", nullptr, nullptr, "");
    whole("empty", "", "not JSON: line 1, column 1: ");
    whole("not JSON", "results of run 5\n", "not JSON: line 1, column ");
    whole("cut short", valid.left(valid.size() / 2), "not JSON: line 7, column ");
    whole("a trailing comma", "{\"a\": 1,}", "not JSON: line 1, column ");
    whole("nested past any sense", QByteArray(100000, '['), "not JSON: line 1, column ");
    whole("not UTF-8", "{\"format\": \"\xff\"}", "not JSON: line 1, column ");
    whole("an array", "[]", "not a results file (no \"format\": \"orvexa-results\")");
    row("another format", "orvexa-results", "junit", "not a results file");
    row("a newer version", "\"version\": 1", "\"version\": 2",
        "version: 2 is not known here (this program reads version 1)");
    row("version as text", "\"version\": 1", "\"version\": \"1\"", "version: is not a number");
    row("no version", "\"version\": 1,", "", "version: is missing");
    row("start without a zone", "09:30:00.000Z", "09:30:00.000",
        "started: \"2024-05-01T09:30:00.000\" is not");
    row("start not a date", "2024-05-01T09:30:00.000Z", "yesterday",
        "started: \"yesterday\" is not");
    row("no scripts", "\"scripts\"", "\"scriptz\"", "scripts: is missing");
    row("scripts not an array", "\"scripts\": [", "\"scripts\": {\"x\": [", "not JSON");
    row("a script not an object", "\"scripts\": [", "\"scripts\": [1, ",
        "scripts[0]: is not an object");
    row("a short digest", "0123456789abcdef\"", "0123\"",
        "scripts[0].sha256: is not 64 lower-case");
    row("a line out of order", "\"line\": 5, \"kind\"", "\"line\": 2, \"kind\"",
        "scripts[0].steps[1].line: 2 does not follow line 3");
    row("line 0", "\"line\": 3, \"kind\"", "\"line\": 0, \"kind\"",
        "scripts[0].steps[0].line: 0 is not a whole number from 1 to 134217728");
    row("a line past any script", "\"line\": 3, \"kind\"", "\"line\": 1e300, \"kind\"",
        "scripts[0].steps[0].line: 1e+300 is not from 0 to 134217728");
    row("a fractional line", "\"line\": 3, \"kind\"", "\"line\": 2.5, \"kind\"",
        "scripts[0].steps[0].line: 2.5 is not a whole number");
    row("no runs", "\"runs\"", "\"runs0\"", "runs: is missing");
    row("a run of a script not listed", "\"script\": \"a.ots\"", "\"script\": \"b.ots\"",
        "runs[0].script: \"b.ots\" is not one of the scripts listed");
    row("repeat 0", "\"repeat\": 1", "\"repeat\": 0", "runs[0].repeat: 0 is not a whole number");
    row("a run that ends before it starts", "\"start\": 0, \"end\": 20",
        "\"start\": 30, \"end\": 20", "runs[0].end: is before the start");
    row("a time past 115 days", "\"end\": 20", "\"end\": 1e11",
        "runs[0].end: 1e+11 is not from 0 to 10000000000");
    row("a number past a double", "\"end\": 20", "\"end\": 1e999", "not JSON: line 6, column ");
    row("a step of a line the script lacks", "{\"line\": 3, \"status\"", "{\"line\": 4, \"status\"",
        "runs[0].steps[0].line: 4 is not a step of \"a.ots\"");
    row("a status not known", "\"passed\"", "\"pass\"",
        "runs[0].steps[0].status: \"pass\" is not passed, failed or skipped");
    row("a negative latency", "\"latency\": 3", "\"latency\": -3",
        "runs[0].steps[0].latency: -3 is not from 0");
    row("a latency as text", "\"latency\": 3", "\"latency\": \"3\"",
        "runs[0].steps[0].latency: is not a number");
    row("a report that is a number", "\"$on_x\"", "7",
        "runs[0].steps[0].reports[0]: is neither a string nor {\"hex\": \"...\"}");
    row("odd hex", "\"ff00\"", "\"ff0\"", "runs[0].steps[0].reports[1].hex: is not an even count");
    row("hex that is not", "\"ff00\"", "\"zz\"",
        "runs[0].steps[0].reports[1].hex: is not an even count");
    row("an empty picture path", "\"p/actual.png\"", "\"\"",
        "runs[0].steps[1].pictures.actual: is empty");
    row("pictures not an object", "{\"actual\": \"p/actual.png\"}", "[]",
        "runs[0].steps[1].pictures: is not an object");
    row("a step twice", "{\"line\": 5, \"status\"", "{\"line\": 3, \"status\"",
        "runs[0].steps[1].line: 3 does not follow line 3");
    row("a transcript entry of a kind not known", "\"sent\"", "\"said\"",
        "runs[0].transcript[1].kind: \"said\" is not sent, report, step-start, step-end or note");
    row("a step start without its line", "\"kind\": \"step-start\", \"line\": 3",
        "\"kind\": \"step-start\"", "runs[0].transcript[0].line: is missing");
    row("a step start of a line the script lacks", "\"kind\": \"step-start\", \"line\": 3",
        "\"kind\": \"step-start\", \"line\": 8", "runs[0].transcript[0].line: 8 is not a step of");
    row("a time in the transcript below 0", "{\"at\": 2,", "{\"at\": -2,",
        "runs[0].transcript[1].at: -2 is not");

    QByteArray twice = valid;
    const qsizetype script = twice.indexOf("{\"path\"");
    const qsizetype end = twice.indexOf("]}]", script) + 2;
    twice.insert(end, "," + twice.mid(script, end - script));
    whole("a script listed twice", twice, "scripts[1].path: \"a.ots\" is listed twice");
}

void ResultsFileTest::malformed()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    RunResults results;
    results.runs.resize(3); // left empty when reading fails
    QString got;
    const bool read = ParseResultsJson(json, QStringLiteral("/r"), results, got);
    if (error.isEmpty()) {
        QVERIFY2(read, qPrintable(got));
        QCOMPARE(results.runs.at(0).steps.at(1).pictures.actual, QStringLiteral("/r/p/actual.png"));
        QCOMPARE(results.runs.at(0).steps.at(0).reportsSeen.at(1), QByteArray("\xff\0", 2));
        return;
    }
    QVERIFY(!read);
    QVERIFY2(got.startsWith(error), qPrintable(got));
    QVERIFY(results == RunResults{});
}

void ResultsFileTest::files_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing") << "missing.json"
                             << "no such file";
    QTest::newRow("a folder") << "folder"
                              << "is a folder";
    QTest::newRow("a pipe, which would be read for ever") << "pipe"
                                                          << "is not a regular file";
    QTest::newRow("larger than the limit") << "huge.json"
                                           << "larger than 256 MiB";
    QTest::newRow("not JSON") << "notes.txt"
                              << "not JSON: line 1, column ";
}

void ResultsFileTest::files()
{
    QFETCH(QString, name);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) ==
            0);
    QFile huge(dir.filePath(QStringLiteral("huge.json")));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kMostResultsBytes + 1)); // sparse
    huge.close();
    QFile notes(dir.filePath(QStringLiteral("notes.txt")));
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("results of run 5\n") > 0);
    notes.close();

    const QString path = dir.filePath(name);
    RunResults results;
    QString got;
    QVERIFY(!LoadResults(path, results, got));
    QVERIFY2(got.startsWith(path + QStringLiteral(": ") + error), qPrintable(got));
}

void ResultsFileTest::fullDiskKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.json"));
    QString error;
    QVERIFY(SaveResults(path, OneScript('1', {{1, QStringLiteral("expect x"), {1}}}), error));
    QFile before(path);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray old = before.readAll();

    RunResults big =
        OneScript('1', {{1, QStringLiteral("expect x"), std::vector<double>(2000, 1)}});
    {
        const FileSizeLimit limit(old.size() + 100);
        QVERIFY(!SaveResults(path, big, error));
    }
    QVERIFY2(error.startsWith(QStringLiteral("cannot write the results file \"%1\": ").arg(path)),
             qPrintable(error));
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), old);
}

QTEST_GUILESS_MAIN(ResultsFileTest)
#include "tst_results_file.moc"
