#include "results/ResultsFile.h"

#include "support/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QString kFormat = QStringLiteral("orvexa-results");

struct KindName
{
    TranscriptEntry::Kind kind;
    const char16_t* name;
};
constexpr KindName kKindNames[] = {
    {TranscriptEntry::Kind::Sent, u"sent"},
    {TranscriptEntry::Kind::Report, u"report"},
    {TranscriptEntry::Kind::StepStart, u"step-start"},
    {TranscriptEntry::Kind::StepEnd, u"step-end"},
    {TranscriptEntry::Kind::Note, u"note"},
};

bool NamesStep(TranscriptEntry::Kind kind)
{
    return kind == TranscriptEntry::Kind::StepStart || kind == TranscriptEntry::Kind::StepEnd;
}

QJsonValue ByteText(const QByteArray& bytes)
{
    if (IsUtf8(bytes))
        return QString::fromUtf8(bytes);
    return QJsonObject{{QStringLiteral("hex"), QString::fromLatin1(bytes.toHex())}};
}

QJsonObject StepRunJson(const StepRun& step, const QDir& folder)
{
    QJsonObject json{{QStringLiteral("line"), step.line},
                     {QStringLiteral("status"), StatusName(step.status)},
                     {QStringLiteral("start"), step.startMs},
                     {QStringLiteral("end"), step.endMs}};
    if (step.latencyMs >= 0)
        json.insert(QStringLiteral("latency"), step.latencyMs);
    if (!step.reason.isEmpty())
        json.insert(QStringLiteral("reason"), step.reason);
    if (!step.reportsSeen.empty()) {
        QJsonArray reports;
        for (const QByteArray& report : step.reportsSeen)
            reports.append(ByteText(report));
        json.insert(QStringLiteral("reports"), reports);
    }
    if (!step.pictures.IsEmpty()) {
        QJsonObject pictures;
        const auto add = [&](const char16_t* name, const QString& path) {
            if (!path.isEmpty())
                pictures.insert(QString::fromUtf16(name),
                                folder.relativeFilePath(QFileInfo(path).absoluteFilePath()));
        };
        add(u"reference", step.pictures.reference);
        add(u"actual", step.pictures.actual);
        add(u"difference", step.pictures.difference);
        json.insert(QStringLiteral("pictures"), pictures);
    }
    return json;
}

QJsonObject RunJson(const ScriptRun& run, const QDir& folder)
{
    QJsonArray steps;
    for (const StepRun& step : run.steps)
        steps.append(StepRunJson(step, folder));
    QJsonArray transcript;
    for (const TranscriptEntry& entry : run.transcript) {
        QJsonObject json{{QStringLiteral("at"), entry.atMs}};
        for (const KindName& name : kKindNames)
            if (name.kind == entry.kind)
                json.insert(QStringLiteral("kind"), QString::fromUtf16(name.name));
        if (NamesStep(entry.kind))
            json.insert(QStringLiteral("line"), entry.line);
        if (!entry.text.isEmpty())
            json.insert(QStringLiteral("text"), ByteText(entry.text));
        transcript.append(json);
    }
    return QJsonObject{
        {QStringLiteral("port"), run.port},        {QStringLiteral("script"), run.script},
        {QStringLiteral("repeat"), run.repeat},    {QStringLiteral("start"), run.startMs},
        {QStringLiteral("end"), run.endMs},        {QStringLiteral("steps"), steps},
        {QStringLiteral("transcript"), transcript}};
}

} // namespace

QByteArray ResultsJson(const RunResults& results, const QString& folder)
{
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    QJsonArray scripts;
    for (const ScriptInfo& script : results.scripts) {
        QJsonArray steps;
        for (const StepInfo& step : script.steps)
            steps.append(QJsonObject{{QStringLiteral("line"), step.line},
                                     {QStringLiteral("kind"), step.kind},
                                     {QStringLiteral("source"), step.source}});
        scripts.append(QJsonObject{{QStringLiteral("path"), script.path},
                                   {QStringLiteral("sha256"), script.sha256},
                                   {QStringLiteral("steps"), steps}});
    }
    QJsonArray runs;
    for (const ScriptRun& run : results.runs)
        runs.append(RunJson(run, dir));
    const QJsonObject top{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("version"), kResultsVersion},
        {QStringLiteral("started"), results.started.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("scripts"), scripts},
        {QStringLiteral("runs"), runs}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact) + '\n';
}

namespace {

// Reads one document; the first fault ends the reading with its place and cause in `error`.
class Reader
{
public:
    Reader(const QString& folder, QString& error) : m_folder(folder), m_error(error) {}

    bool Read(const QJsonObject& top, RunResults& results);

private:
    bool Fail(const QString& where, const QString& what)
    {
        m_error = where.isEmpty() ? what : QStringLiteral("%1: %2").arg(where, what);
        return false;
    }

    static QString At(const QString& where, const QString& key)
    {
        return where.isEmpty() ? key : where + u'.' + key;
    }
    static QString At(const QString& where, qsizetype index)
    {
        return QStringLiteral("%1[%2]").arg(where).arg(index);
    }

    bool Object(const QJsonValue& value, const QString& where, QJsonObject& out)
    {
        if (!value.isObject())
            return Fail(where, QStringLiteral("is not an object"));
        out = value.toObject();
        return true;
    }

    bool Array(const QJsonObject& object, const QString& key, const QString& where, QJsonArray& out,
               bool required = true)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() && !required) {
            out = {};
            return true;
        }
        if (value.isUndefined())
            return Fail(At(where, key), QStringLiteral("is missing"));
        if (!value.isArray())
            return Fail(At(where, key), QStringLiteral("is not an array"));
        out = value.toArray();
        return true;
    }

    // Text as Unicode holds it: a lone surrogate written as an escape becomes a replacement.
    bool String(const QJsonObject& object, const QString& key, const QString& where, QString& out,
                bool required = true)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() && !required) {
            out.clear();
            return true;
        }
        if (value.isUndefined())
            return Fail(At(where, key), QStringLiteral("is missing"));
        if (!value.isString())
            return Fail(At(where, key), QStringLiteral("is not a string"));
        out = QString::fromUtf8(value.toString().toUtf8());
        return true;
    }

    bool Number(const QJsonObject& object, const QString& key, const QString& where, double most,
                double& out)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return Fail(At(where, key), QStringLiteral("is missing"));
        if (!value.isDouble())
            return Fail(At(where, key), QStringLiteral("is not a number"));
        out = value.toDouble();
        if (!std::isfinite(out) || out < 0 || out > most)
            return Fail(At(where, key),
                        QStringLiteral("%1 is not from 0 to %2").arg(out).arg(most, 0, 'g', 12));
        return true;
    }

    bool Integer(const QJsonObject& object, const QString& key, const QString& where, int least,
                 int most, int& out)
    {
        double value = 0;
        if (!Number(object, key, where, most, value))
            return false;
        if (value < least || value != std::floor(value))
            return Fail(At(where, key), QStringLiteral("%1 is not a whole number from %2 to %3")
                                            .arg(value)
                                            .arg(least)
                                            .arg(most));
        out = static_cast<int>(value);
        return true;
    }

    bool Bytes(const QJsonValue& value, const QString& where, QByteArray& out)
    {
        if (value.isString()) {
            out = value.toString().toUtf8();
            return true;
        }
        if (!value.isObject() || !value.toObject().value(QStringLiteral("hex")).isString())
            return Fail(where, QStringLiteral("is neither a string nor {\"hex\": \"...\"}"));
        const QString hex = value.toObject().value(QStringLiteral("hex")).toString();
        const bool digits = std::all_of(hex.begin(), hex.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        });
        if (!digits || hex.size() % 2 != 0)
            return Fail(At(where, QStringLiteral("hex")),
                        QStringLiteral("is not an even count of hexadecimal digits"));
        out = QByteArray::fromHex(hex.toLatin1());
        return true;
    }

    bool Picture(const QJsonObject& pictures, const QString& key, const QString& where,
                 QString& out)
    {
        if (!String(pictures, key, where, out, false))
            return false;
        if (pictures.contains(key) && out.isEmpty())
            return Fail(At(where, key), QStringLiteral("is empty"));
        if (!out.isEmpty())
            out = QDir::cleanPath(QDir(m_folder).absoluteFilePath(out));
        return true;
    }

    bool Script(const QJsonValue& value, const QString& where, ScriptInfo& script);
    bool Run(const QJsonValue& value, const QString& where, const RunResults& results,
             ScriptRun& run);
    bool Step(const QJsonValue& value, const QString& where, const ScriptInfo& script,
              StepRun& step);
    bool Entry(const QJsonValue& value, const QString& where, const ScriptInfo& script,
               TranscriptEntry& entry);

    QString m_folder;
    QString& m_error;
};

bool Reader::Read(const QJsonObject& top, RunResults& results)
{
    if (top.value(QStringLiteral("format")) != kFormat)
        return Fail({}, QStringLiteral("not a results file (no \"format\": \"%1\")").arg(kFormat));
    const QJsonValue version = top.value(QStringLiteral("version"));
    if (!version.isDouble())
        return Fail(QStringLiteral("version"), version.isUndefined()
                                                   ? QStringLiteral("is missing")
                                                   : QStringLiteral("is not a number"));
    if (version.toDouble() != kResultsVersion)
        return Fail(QStringLiteral("version"),
                    QStringLiteral("%1 is not known here (this program reads version %2)")
                        .arg(version.toDouble())
                        .arg(kResultsVersion));

    QString started;
    if (!String(top, QStringLiteral("started"), {}, started))
        return false;
    results.started = QDateTime::fromString(started, Qt::ISODateWithMs);
    if (!results.started.isValid() || results.started.timeSpec() == Qt::LocalTime ||
        results.started.toUTC().date().year() < 1970 ||
        results.started.toUTC().date().year() > 9999)
        return Fail(QStringLiteral("started"),
                    QStringLiteral("\"%1\" is not a date and time in ISO 8601 with its zone, "
                                   "like 2024-05-01T09:30:00.000Z")
                        .arg(started.left(64)));
    results.started = results.started.toUTC();

    QJsonArray scripts, runs;
    if (!Array(top, QStringLiteral("scripts"), {}, scripts) ||
        !Array(top, QStringLiteral("runs"), {}, runs))
        return false;
    QSet<QString> paths;
    results.scripts.resize(static_cast<std::size_t>(scripts.size()));
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        ScriptInfo& script = results.scripts[static_cast<std::size_t>(i)];
        const QString where = At(QStringLiteral("scripts"), i);
        if (!Script(scripts[i], where, script))
            return false;
        if (paths.contains(script.path))
            return Fail(At(where, QStringLiteral("path")),
                        QStringLiteral("\"%1\" is listed twice").arg(script.path));
        paths.insert(script.path);
    }
    results.runs.resize(static_cast<std::size_t>(runs.size()));
    for (qsizetype i = 0; i < runs.size(); ++i)
        if (!Run(runs[i], At(QStringLiteral("runs"), i), results,
                 results.runs[static_cast<std::size_t>(i)]))
            return false;
    return true;
}

bool Reader::Script(const QJsonValue& value, const QString& where, ScriptInfo& script)
{
    QJsonObject object;
    QJsonArray steps;
    if (!Object(value, where, object) ||
        !String(object, QStringLiteral("path"), where, script.path) ||
        !String(object, QStringLiteral("sha256"), where, script.sha256) ||
        !Array(object, QStringLiteral("steps"), where, steps))
        return false;
    const bool digest = script.sha256.size() == 64 &&
                        std::all_of(script.sha256.begin(), script.sha256.end(), [](QChar c) {
                            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
                        });
    if (!digest)
        return Fail(At(where, QStringLiteral("sha256")),
                    QStringLiteral("is not 64 lower-case hexadecimal digits"));
    script.steps.resize(static_cast<std::size_t>(steps.size()));
    int last = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        StepInfo& step = script.steps[static_cast<std::size_t>(i)];
        const QString at = At(At(where, QStringLiteral("steps")), i);
        QJsonObject json;
        if (!Object(steps[i], at, json) ||
            !Integer(json, QStringLiteral("line"), at, 1, kMostLine, step.line) ||
            !String(json, QStringLiteral("kind"), at, step.kind) ||
            !String(json, QStringLiteral("source"), at, step.source))
            return false;
        if (step.line <= last)
            return Fail(At(at, QStringLiteral("line")),
                        QStringLiteral("%1 does not follow line %2").arg(step.line).arg(last));
        last = step.line;
    }
    return true;
}

bool Reader::Run(const QJsonValue& value, const QString& where, const RunResults& results,
                 ScriptRun& run)
{
    QJsonObject object;
    QJsonArray steps, transcript;
    if (!Object(value, where, object) || !String(object, QStringLiteral("port"), where, run.port) ||
        !String(object, QStringLiteral("script"), where, run.script) ||
        !Integer(object, QStringLiteral("repeat"), where, 1, kMostRepeat, run.repeat) ||
        !Number(object, QStringLiteral("start"), where, kMostResultsMs, run.startMs) ||
        !Number(object, QStringLiteral("end"), where, kMostResultsMs, run.endMs) ||
        !Array(object, QStringLiteral("steps"), where, steps) ||
        !Array(object, QStringLiteral("transcript"), where, transcript))
        return false;
    if (run.endMs < run.startMs)
        return Fail(At(where, QStringLiteral("end")), QStringLiteral("is before the start"));
    const ScriptInfo* script = FindScript(results, run.script);
    if (!script)
        return Fail(At(where, QStringLiteral("script")),
                    QStringLiteral("\"%1\" is not one of the scripts listed").arg(run.script));
    run.steps.resize(static_cast<std::size_t>(steps.size()));
    int last = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        StepRun& step = run.steps[static_cast<std::size_t>(i)];
        const QString at = At(At(where, QStringLiteral("steps")), i);
        if (!Step(steps[i], at, *script, step))
            return false;
        if (step.line <= last)
            return Fail(At(at, QStringLiteral("line")),
                        QStringLiteral("%1 does not follow line %2").arg(step.line).arg(last));
        last = step.line;
    }
    run.transcript.resize(static_cast<std::size_t>(transcript.size()));
    for (qsizetype i = 0; i < transcript.size(); ++i)
        if (!Entry(transcript[i], At(At(where, QStringLiteral("transcript")), i), *script,
                   run.transcript[static_cast<std::size_t>(i)]))
            return false;
    return true;
}

bool Reader::Step(const QJsonValue& value, const QString& where, const ScriptInfo& script,
                  StepRun& step)
{
    QJsonObject object;
    QString status;
    QJsonArray reports;
    if (!Object(value, where, object) ||
        !Integer(object, QStringLiteral("line"), where, 1, kMostLine, step.line) ||
        !String(object, QStringLiteral("status"), where, status) ||
        !Number(object, QStringLiteral("start"), where, kMostResultsMs, step.startMs) ||
        !Number(object, QStringLiteral("end"), where, kMostResultsMs, step.endMs) ||
        !String(object, QStringLiteral("reason"), where, step.reason, false) ||
        !Array(object, QStringLiteral("reports"), where, reports, false))
        return false;
    if (!FindStep(script, step.line))
        return Fail(At(where, QStringLiteral("line")),
                    QStringLiteral("%1 is not a step of \"%2\"").arg(step.line).arg(script.path));
    const StepStatus statuses[] = {StepStatus::Passed, StepStatus::Failed, StepStatus::Skipped};
    const auto known = std::find_if(std::begin(statuses), std::end(statuses),
                                    [&](StepStatus s) { return StatusName(s) == status; });
    if (known == std::end(statuses))
        return Fail(At(where, QStringLiteral("status")),
                    QStringLiteral("\"%1\" is not passed, failed or skipped").arg(status.left(64)));
    step.status = *known;
    if (step.endMs < step.startMs)
        return Fail(At(where, QStringLiteral("end")), QStringLiteral("is before the start"));
    step.latencyMs = -1;
    if (object.contains(QStringLiteral("latency")) &&
        !Number(object, QStringLiteral("latency"), where, kMostResultsMs, step.latencyMs))
        return false;
    step.reportsSeen.resize(static_cast<std::size_t>(reports.size()));
    for (qsizetype i = 0; i < reports.size(); ++i)
        if (!Bytes(reports[i], At(At(where, QStringLiteral("reports")), i),
                   step.reportsSeen[static_cast<std::size_t>(i)]))
            return false;
    step.pictures = {};
    if (object.contains(QStringLiteral("pictures"))) {
        const QString at = At(where, QStringLiteral("pictures"));
        QJsonObject pictures;
        if (!Object(object.value(QStringLiteral("pictures")), at, pictures) ||
            !Picture(pictures, QStringLiteral("reference"), at, step.pictures.reference) ||
            !Picture(pictures, QStringLiteral("actual"), at, step.pictures.actual) ||
            !Picture(pictures, QStringLiteral("difference"), at, step.pictures.difference))
            return false;
    }
    return true;
}

bool Reader::Entry(const QJsonValue& value, const QString& where, const ScriptInfo& script,
                   TranscriptEntry& entry)
{
    QJsonObject object;
    QString kind;
    if (!Object(value, where, object) ||
        !Number(object, QStringLiteral("at"), where, kMostResultsMs, entry.atMs) ||
        !String(object, QStringLiteral("kind"), where, kind))
        return false;
    const auto known =
        std::find_if(std::begin(kKindNames), std::end(kKindNames),
                     [&](const KindName& name) { return kind == QStringView(name.name); });
    if (known == std::end(kKindNames))
        return Fail(At(where, QStringLiteral("kind")),
                    QStringLiteral("\"%1\" is not sent, report, step-start, step-end or note")
                        .arg(kind.left(64)));
    entry.kind = known->kind;
    entry.line = 0;
    if (NamesStep(entry.kind)) {
        if (!Integer(object, QStringLiteral("line"), where, 1, kMostLine, entry.line))
            return false;
        if (!FindStep(script, entry.line))
            return Fail(
                At(where, QStringLiteral("line")),
                QStringLiteral("%1 is not a step of \"%2\"").arg(entry.line).arg(script.path));
    }
    entry.text.clear();
    return !object.contains(QStringLiteral("text")) ||
           Bytes(object.value(QStringLiteral("text")), At(where, QStringLiteral("text")),
                 entry.text);
}

} // namespace

bool ParseResultsJson(QByteArrayView json, const QString& folder, RunResults& results,
                      QString& error)
{
    results = {};
    if (json.size() > kMostResultsBytes) {
        error = QStringLiteral("larger than %1 MiB").arg(kMostResultsBytes >> 20);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const QByteArrayView before =
            json.first(std::clamp<qsizetype>(parseError.offset, 0, json.size()));
        const qsizetype line = before.count('\n') + 1;
        const qsizetype column = before.size() - (before.lastIndexOf('\n') + 1) + 1;
        error = QStringLiteral("not JSON: line %1, column %2: %3")
                    .arg(line)
                    .arg(column)
                    .arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("not a results file (no \"format\": \"%1\")").arg(kFormat);
        return false;
    }
    Reader reader(folder, error);
    if (reader.Read(document.object(), results))
        return true;
    results = {};
    return false;
}

bool SaveResults(const QString& path, const RunResults& results, QString& error)
{
    QString why;
    if (ReplaceFileWhole(path, ResultsJson(results, QFileInfo(path).absolutePath()), &why))
        return true;
    error = QStringLiteral("cannot write the results file \"%1\": %2").arg(path, why);
    return false;
}

bool LoadResults(const QString& path, RunResults& results, QString& error)
{
    results = {};
    const QFileInfo info(path);
    const auto fail = [&](const QString& what) {
        error = QStringLiteral("%1: %2").arg(path, what);
        return false;
    };
    if (!info.exists())
        return fail(QStringLiteral("no such file"));
    // A device or a pipe could be read for ever.
    if (!info.isFile())
        return fail(info.isDir() ? QStringLiteral("is a folder")
                                 : QStringLiteral("is not a regular file"));
    if (info.size() > kMostResultsBytes)
        return fail(QStringLiteral("larger than %1 MiB").arg(kMostResultsBytes >> 20));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray json = file.read(kMostResultsBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    QString what;
    if (!ParseResultsJson(json, info.absolutePath(), results, what))
        return fail(what);
    return true;
}
