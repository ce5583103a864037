#include "script/JunitReport.h"

#include <QFileInfo>
#include <QXmlStreamWriter>

namespace {

using State = StepResult::State;

// XML 1.0 cannot carry most control characters, not even escaped; a script or a report may
// hold them.
QString XmlSafe(QString text)
{
    for (QChar& c : text)
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') ||
            c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            c = u'?';
    return text;
}

bool Listed(const ScriptStep& step, const StepResult& result)
{
    return step.IsTest() || result.state == State::Failed;
}

QString Seconds(double ms)
{
    return QString::number(ms / 1000.0, 'f', 3);
}

} // namespace

QByteArray JunitXml(const std::vector<SuiteRun>& runs)
{
    QByteArray xml;
    QXmlStreamWriter out(&xml);
    out.setAutoFormatting(true);
    out.writeStartDocument();
    out.writeStartElement(QStringLiteral("testsuites"));
    for (const SuiteRun& run : runs) {
        int tests = 0, failures = 0, errors = 0, skipped = 0;
        for (std::size_t i = 0; i < run.results.size(); ++i) {
            const ScriptStep& step = run.script->steps[i];
            const StepResult& result = run.results[i];
            if (!Listed(step, result))
                continue;
            ++tests;
            if (result.state == State::Failed)
                ++(step.IsTest() ? failures : errors);
            else if (result.state != State::Passed)
                ++skipped;
        }
        out.writeStartElement(QStringLiteral("testsuite"));
        out.writeAttribute(QStringLiteral("name"), XmlSafe(run.name));
        out.writeAttribute(QStringLiteral("tests"), QString::number(tests));
        out.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        out.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        out.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        out.writeAttribute(QStringLiteral("time"), QString::number(run.seconds, 'f', 3));
        const QString className = XmlSafe(QFileInfo(run.script->path).completeBaseName());
        for (std::size_t i = 0; i < run.results.size(); ++i) {
            const ScriptStep& step = run.script->steps[i];
            const StepResult& result = run.results[i];
            if (!Listed(step, result))
                continue;
            out.writeStartElement(QStringLiteral("testcase"));
            out.writeAttribute(QStringLiteral("classname"), className);
            out.writeAttribute(
                QStringLiteral("name"),
                XmlSafe(QStringLiteral("line %1: %2").arg(step.line).arg(step.source)));
            out.writeAttribute(QStringLiteral("time"), Seconds(result.elapsedMs));
            if (result.state == State::Failed) {
                out.writeStartElement(step.IsTest() ? QStringLiteral("failure")
                                                    : QStringLiteral("error"));
                out.writeAttribute(QStringLiteral("message"), XmlSafe(result.reason));
                QString text;
                if (!step.pattern.isEmpty())
                    text += QStringLiteral("expected: %1\n").arg(QString::fromUtf8(step.pattern));
                text += QStringLiteral("reports seen (last %1):\n").arg(result.reportsSeen.size());
                for (const QByteArray& report : result.reportsSeen)
                    text += QStringLiteral("  %1\n").arg(QString::fromUtf8(report));
                out.writeCharacters(XmlSafe(text));
                out.writeEndElement();
            } else if (result.state != State::Passed) {
                out.writeEmptyElement(QStringLiteral("skipped"));
                if (!result.reason.isEmpty())
                    out.writeAttribute(QStringLiteral("message"), XmlSafe(result.reason));
            }
            out.writeEndElement();
        }
        out.writeEndElement();
    }
    out.writeEndElement();
    out.writeEndDocument();
    return xml;
}
