#include "script/ScriptRunner.h"

#include "protocol/EventTable.h"
#include "script/ScreenCompare.h"
#include "script/VirtualSteps.h"
#include "scriptformat/Pattern.h"
#include "serial/CMSComm.h"
#include "serial/LineSettings.h"
#include "serial/Pieces.h"
#include "support/CodePage.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

using Kind = ScriptStep::Kind;
using State = StepResult::State;

// Steps that finish at once run in one pass up to this many, then the event loop gets its turn.
constexpr int kStepsPerPass = 64;
// How long the port may take to accept a send, and the module to take what was sent, beyond
// twice the line time of the bytes (a module may hold the line back while it works): generous,
// as CI machines are loaded.
constexpr qint64 kSlackMs = 5000;
// The line time of a port whose speed cannot be read from its settings is reckoned at the
// slowest speed the console offers.
constexpr int kSlowestBitsPerSecond = 2400;

double Ms(qint64 ns)
{
    return static_cast<double>(ns) / 1e6;
}

RunCounts::Outcome CountedAs(State state)
{
    return state == State::Passed   ? RunCounts::Outcome::Passed
           : state == State::Failed ? RunCounts::Outcome::Failed
                                    : RunCounts::Outcome::Skipped;
}

} // namespace

ScriptRunner::ScriptRunner(CMSComm& comm, RandomSource& rng, VirtualSteps* module, QObject* parent)
    : QObject(parent), m_comm(comm), m_rng(rng), m_module(module)
{
    m_clock.start();
    if (m_module)
        m_moduleBase = m_module->BytesTaken();
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &ScriptRunner::Continue);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &ScriptRunner::OnDeadline);
    m_poll.setInterval(1);
    connect(&m_poll, &QTimer::timeout, this, &ScriptRunner::OnPoll);
    connect(&m_comm, &CMSComm::DeviceLost, this, &ScriptRunner::PortLost);
}

ScriptRunner::~ScriptRunner() = default;

void ScriptRunner::ReadPort()
{
    connect(&m_comm, &CMSComm::Received, this, [this](const QByteArray& bytes) {
        m_decoder.Feed(bytes, m_read);
        Receive(m_read.reports);
    });
}

void ScriptRunner::Receive(std::span<const DecodedReport> reports)
{
    const qint64 now = NowNs();
    bool any = false;
    for (const DecodedReport& report : reports) {
        if (!report.event)
            continue;
        any = true;
        QByteArray line = report.Text().toByteArray();
        m_recent.push_back(line);
        if (m_recent.size() > kReportsShown)
            m_recent.pop_front();
        emit ReportReceived(line);
        // Between runs nothing waits for reports; the next run starts afresh anyway.
        if (!m_script)
            continue;
        m_unconsumed.push_back({std::move(line), now});
        if (m_unconsumed.size() > kMostUnconsumed) {
            m_unconsumed.pop_front();
            m_scanned -= m_scanned > 0 ? 1 : 0;
        }
    }
    if (any && m_busy && m_awaiting == Awaiting::Reports)
        CheckReports();
}

void ScriptRunner::Start(const Script& script)
{
    if (m_script)
        Stop();
    m_script = &script;
    m_result = StepResult{};
    m_counts = {};
    m_index = 0;
    m_busy = false;
    m_anyFailed = false;
    m_awaiting = Awaiting::Nothing;
    // Each script starts afresh: what an earlier one left unmatched is no answer to this one.
    m_unconsumed.clear();
    m_scanned = 0;
    m_lastStimulusNs = -1;
    const std::optional<LineSettings> line = ParseLineSettings(m_comm.GetSettings());
    m_bitsPerSecond = line ? line->speed : 0;
    m_bitsPerByte = !line ? 10.0
                          : 1 + line->dataBits + (line->parity != LineSettings::Parity::None) +
                                (line->stopBits == LineSettings::StopBits::One          ? 1.0
                                 : line->stopBits == LineSettings::StopBits::OneAndHalf ? 1.5
                                                                                        : 2.0);
    if (!m_comm.GetPortOpen()) {
        End(Outcome::PortLost,
            m_lostCause.isEmpty() ? QStringLiteral("the port is not open") : m_lostCause);
        return;
    }
    m_next.start();
}

void ScriptRunner::Stop(const QString& why)
{
    if (!m_script)
        return;
    End(Outcome::Stopped, why);
}

const ScriptStep& ScriptRunner::Current() const
{
    return m_script->steps[m_index];
}

void ScriptRunner::Continue()
{
    m_inContinue = true;
    for (int budget = kStepsPerPass; m_script && !m_busy && budget > 0; --budget) {
        if (m_index >= m_script->steps.size()) {
            End(m_anyFailed ? Outcome::Failed : Outcome::Passed, {});
            break;
        }
        StartStep();
    }
    m_inContinue = false;
    if (m_script && !m_busy)
        m_next.start();
}

void ScriptRunner::StartStep()
{
    const ScriptStep& step = Current();
    m_stepStartNs = NowNs();
    m_result = StepResult{};
    m_result.state = State::Running;
    emit StepStarted(static_cast<int>(m_index));
    if (!m_script)
        return; // stopped by a receiver

    switch (step.kind) {
    case Kind::Send:
        SendBytes(ToCp949(m_script->Statement(step)), true);
        return;
    case Kind::SendHex:
        SendBytes(m_script->HexBytes(step), false);
        return;
    case Kind::Expect:
    case Kind::ExpectNone:
        m_busy = true;
        m_awaiting = Awaiting::Reports;
        m_deadline.start(step.ms);
        m_scanned = 0;
        CheckReports();
        return;
    case Kind::Wait:
        if (step.ms == 0) {
            Complete(State::Passed);
            return;
        }
        m_busy = true;
        m_awaiting = Awaiting::Time;
        m_deadline.start(step.ms);
        return;
    default:
        if (!m_module && m_promptMs > 0) {
            m_busy = true;
            m_awaiting = Awaiting::Prompt;
            m_lastStimulusNs = NowNs();
            m_deadline.start(m_promptMs);
            emit Prompted(static_cast<int>(m_index), m_promptMs);
            return;
        }
        if (!m_module) {
            Complete(State::Failed, QStringLiteral("needs the virtual module"));
            return;
        }
        AwaitModule();
        return;
    }
}

void ScriptRunner::SendBytes(const QByteArray& bytes, bool pieces)
{
    try {
        if (pieces) {
            SendInPieces(m_comm, bytes, m_rng);
        } else {
            m_comm.SetOutput(bytes);
            m_comm.EndSend();
        }
    } catch (const CommError& error) {
        // The port closed itself; DeviceLost follows and finds the run already ended.
        End(Outcome::PortLost, QString::fromStdString(error.what()));
        return;
    }
    emit Sent(bytes);
    m_bytesSent += bytes.size();
    m_lastStimulusNs = NowNs();
    if (m_comm.QueuedOutputBytes() == 0) {
        Complete(State::Passed);
        return;
    }
    AwaitDrain();
}

void ScriptRunner::AwaitDrain()
{
    m_busy = true;
    m_awaiting = Awaiting::Drain;
    m_awaitStartNs = NowNs();
    m_awaitBytes = m_comm.QueuedOutputBytes();
    m_deadline.start(LimitFor(m_awaitBytes));
    m_poll.start();
}

int ScriptRunner::LimitFor(qint64 bytes) const
{
    const double bitsPerMs =
        (m_bitsPerSecond > 0 ? m_bitsPerSecond : kSlowestBitsPerSecond) / 1000.0;
    const double lineMs = static_cast<double>(bytes) * m_bitsPerByte / bitsPerMs;
    return static_cast<int>(
        std::min<qint64>(kSlackMs + static_cast<qint64>(2 * lineMs), kMostStepMs));
}

// What was seen and what was allowed, so a slow line is told from a stuck one.
QString ScriptRunner::LimitFault(const char* what, qint64 total, qint64 left) const
{
    const QString speed = m_bitsPerSecond > 0
                              ? QStringLiteral("%1 bit/s").arg(m_bitsPerSecond)
                              : QStringLiteral("%1 bit/s, the slowest speed, as the port's is "
                                               "not known")
                                    .arg(kSlowestBitsPerSecond);
    return QStringLiteral("%1 took %2 of %3 bytes in %4 ms; the limit for them at %5 is %6 ms")
        .arg(QLatin1String(what))
        .arg(total - left)
        .arg(total)
        .arg(qRound64(Ms(NowNs() - m_awaitStartNs)))
        .arg(speed)
        .arg(m_deadline.interval());
}

void ScriptRunner::AwaitModule()
{
    // A touch must find the controls the statements before it made, and a screen check their
    // drawing: the module first takes everything sent.
    const qint64 behind = m_bytesSent - (m_module->BytesTaken() - m_moduleBase);
    if (behind <= 0) {
        RunVirtualStep();
        return;
    }
    m_busy = true;
    m_awaiting = Awaiting::Module;
    m_awaitStartNs = NowNs();
    m_awaitBytes = behind;
    // A slower module waits before each statement it runs, and a statement is at least its ";".
    const qint64 answering = 2 * behind * m_module->AnswerDelayMs();
    m_deadline.start(static_cast<int>(std::min<qint64>(LimitFor(behind) + answering, kMostStepMs)));
    m_poll.start();
}

void ScriptRunner::OnPoll()
{
    if (!m_busy) {
        m_poll.stop();
        return;
    }
    if (m_awaiting == Awaiting::Drain && m_comm.QueuedOutputBytes() == 0) {
        m_poll.stop();
        m_deadline.stop();
        Complete(State::Passed);
    } else if (m_awaiting == Awaiting::Module &&
               m_module->BytesTaken() - m_moduleBase >= m_bytesSent) {
        m_poll.stop();
        m_deadline.stop();
        m_busy = false;
        RunVirtualStep();
    }
}

void ScriptRunner::RunVirtualStep()
{
    const ScriptStep& step = Current();
    VirtualSteps& module = *m_module;
    switch (step.kind) {
    case Kind::Touch:
        module.Press(step.Point());
        module.Release(step.Point());
        break;
    case Kind::Press:
        module.Press(step.Point());
        break;
    case Kind::Move:
        module.Move(step.Point());
        break;
    case Kind::Release:
        module.Release(step.Point());
        break;
    case Kind::Key:
        module.KeyPress(step.key);
        break;
    case Kind::Event:
        if (step.eventCode == report_code::kDate) {
            module.SendDate();
        } else if (step.eventCode == report_code::kTime) {
            module.SendTime();
        } else if (step.eventBoth) {
            module.SendEvent(step.eventCode, true);
            module.SendEvent(step.eventCode, false);
        } else {
            module.SendEvent(step.eventCode, step.eventState);
        }
        break;
    case Kind::Screen:
        CompareScreen();
        return;
    default:
        break;
    }
    m_lastStimulusNs = NowNs();
    Complete(State::Passed);
}

void ScriptRunner::CompareScreen()
{
    const ScriptStep& step = Current();
    const QString path = ReferencePicturePath(m_script->path, m_script->File(step));
    const QImage& actual = m_module->Screen();
    const auto update = [&](QString& reason) {
        QString error;
        if (WriteReferencePicture(path, actual, &error)) {
            m_result.referenceWritten = path;
            reason += QStringLiteral("; the actual screen is written as the reference");
            return true;
        }
        reason += QStringLiteral("; the reference could not be written: %1").arg(error);
        return false;
    };
    // Checked before the run, but the file may have been removed or swapped for a pipe since.
    if (const QString fault = RegularFileFault(path); !fault.isEmpty()) {
        QString reason = fault;
        if (WritesMissing(m_referenceUpdate) && IsMissingReference(path))
            update(reason);
        Complete(State::Failed, reason);
        return;
    }
    const QImage reference(path);
    if (reference.isNull()) {
        Complete(State::Failed,
                 QStringLiteral("cannot read the reference picture \"%1\"").arg(path));
        return;
    }
    const ScreenCheck check = m_script->Screen(step);
    const ScreenDifference difference = CompareScreens(actual, reference, check);
    if (difference.passed) {
        // A reference that was to be written and could not be is not left unsaid.
        QString reason;
        if (m_referenceUpdate == ReferenceUpdate::All &&
            actual.convertToFormat(QImage::Format_RGB32) !=
                reference.convertToFormat(QImage::Format_RGB32) &&
            !update(reason)) {
            Complete(State::Failed, reason.mid(2));
            return;
        }
        Complete(State::Passed);
        return;
    }
    const QDir folder(m_picturesFolder.isEmpty() ? QStringLiteral(".") : m_picturesFolder);
    const QString stem = folder.filePath(
        QStringLiteral("%1.%2").arg(QFileInfo(m_script->path).completeBaseName()).arg(step.line));
    const QString actualPath = stem + QStringLiteral(".actual.png");
    const QString differencePath = stem + QStringLiteral(".difference.png");
    QString written =
        QStringLiteral("; actual \"%1\", difference \"%2\"").arg(actualPath, differencePath);
    m_result.referencePicture = path;
    if (!actual.save(actualPath, "PNG") || difference.picture.isNull() ||
        !difference.picture.save(differencePath, "PNG")) {
        written =
            QStringLiteral("; the pictures could not be written to \"%1\"").arg(folder.path());
    } else {
        m_result.actualPicture = actualPath;
        m_result.differencePicture = differencePath;
    }
    QString share;
    if (check.maxDiffMilli > 0 || !check.masks.empty())
        share = QStringLiteral(", %1 of the %2 pixels compared, more than max-diff %3")
                    // Rounded up, so a share just past the limit never reads as the limit.
                    .arg(ShareText(difference.compared == 0
                                       ? 0
                                       : (difference.pixels * 100000 + difference.compared - 1) /
                                             difference.compared))
                    .arg(difference.compared)
                    .arg(ShareText(check.maxDiffMilli));
    QString reason = QStringLiteral("%1 pixels differ by more than %2 (largest difference %3)%4%5")
                         .arg(difference.pixels)
                         .arg(check.tolerance)
                         .arg(difference.largest)
                         .arg(share, written);
    if (WritesFailed(m_referenceUpdate)) {
        // The reference compared is about to be replaced by the actual screen: kept beside the
        // other two pictures, it is what the report shows as the reference, not the new one.
        const QString keptPath = stem + QStringLiteral(".reference.png");
        if (!m_result.actualPicture.isEmpty() && reference.save(keptPath, "PNG")) {
            m_result.referencePicture = keptPath;
            reason += QStringLiteral(", the reference as compared \"%1\"").arg(keptPath);
        }
        update(reason);
    }
    Complete(State::Failed, reason);
}

void ScriptRunner::CheckReports()
{
    const ScriptStep& step = Current();
    const QByteArrayView pattern = m_script->Pattern(step);
    for (auto it = m_unconsumed.begin() + static_cast<std::ptrdiff_t>(m_scanned);
         it != m_unconsumed.end(); ++it) {
        ++m_scanned;
        ++m_patternChecks;
        if (!MatchesPattern(pattern, it->line))
            continue;
        m_deadline.stop();
        if (step.kind == Kind::ExpectNone) {
            Complete(
                State::Failed,
                QStringLiteral("a matching report arrived: %1").arg(QString::fromUtf8(it->line)));
            return;
        }
        const double latency =
            m_lastStimulusNs < 0 ? 0.0 : std::max(0.0, Ms(it->atNs - m_lastStimulusNs));
        // Order is checked: the next expect looks only past this report.
        m_unconsumed.erase(m_unconsumed.begin(), it + 1);
        Complete(State::Passed, {}, latency);
        return;
    }
}

void ScriptRunner::OnDeadline()
{
    if (!m_busy || !m_script)
        return;
    m_poll.stop();
    const ScriptStep& step = Current();
    switch (m_awaiting) {
    case Awaiting::Reports:
        if (step.kind == Kind::ExpectNone)
            Complete(State::Passed);
        else
            Complete(State::Failed, QStringLiteral("no report matched within %1 ms").arg(step.ms));
        return;
    case Awaiting::Time:
        Complete(State::Passed);
        return;
    case Awaiting::Prompt:
        Complete(State::Skipped, QStringLiteral("left to the person at the module"));
        return;
    case Awaiting::Drain: {
        const qint64 left = m_comm.QueuedOutputBytes();
        Complete(State::Failed, LimitFault("the port", std::max(m_awaitBytes, left), left));
        return;
    }
    case Awaiting::Module: {
        const qint64 left =
            std::max<qint64>(0, m_bytesSent - (m_module->BytesTaken() - m_moduleBase));
        Complete(State::Failed, LimitFault("the module", std::max(m_awaitBytes, left), left));
        return;
    }
    case Awaiting::Nothing:
        return;
    }
}

void ScriptRunner::Complete(State state, const QString& reason, double latencyMs)
{
    StepResult& result = m_result;
    result.state = state;
    result.reason = reason;
    result.latencyMs = latencyMs;
    result.elapsedMs = Ms(NowNs() - m_stepStartNs);
    if (state == State::Failed) {
        m_anyFailed = true;
        result.reportsSeen.assign(m_recent.begin(), m_recent.end());
    }
    m_busy = false;
    m_awaiting = Awaiting::Nothing;
    m_counts.Add(Current(), CountedAs(state));
    const int index = static_cast<int>(m_index++);
    emit StepFinished(index, result);
    result.referenceWritten.clear();
    if (!m_script)
        return;
    if (state == State::Failed && m_failFast) {
        End(Outcome::Failed, QStringLiteral("not run: an earlier step failed (--fail-fast)"));
        return;
    }
    if (!m_inContinue)
        m_next.start();
}

void ScriptRunner::End(Outcome outcome, const QString& skipReason)
{
    m_next.stop();
    m_deadline.stop();
    m_poll.stop();
    const Script* script = m_script;
    // Receivers of the signals below see the run as over.
    m_script = nullptr;
    m_busy = false;
    m_awaiting = Awaiting::Nothing;
    const std::size_t total = script ? script->steps.size() : 0;
    if (m_index < total) {
        StepResult& running = m_result;
        if (running.state == State::Running || outcome == Outcome::PortLost) {
            // The step under way when the port went or the run was stopped.
            running.state = outcome == Outcome::PortLost ? State::Failed : State::Skipped;
            running.reason = skipReason;
            running.elapsedMs = Ms(NowNs() - m_stepStartNs);
            if (running.state == State::Failed)
                running.reportsSeen.assign(m_recent.begin(), m_recent.end());
            m_counts.Add(script->steps[m_index], CountedAs(running.state));
            emit StepFinished(static_cast<int>(m_index), running);
            ++m_index;
        }
    }
    if (m_index < total) {
        const QString rest = outcome == Outcome::PortLost
                                 ? QStringLiteral("not run: the port was lost")
                                 : skipReason;
        const auto left = static_cast<qint64>(total - m_index);
        m_counts.skipped += left;
        // One signal for them all: a window marks them in one pass, however many there are.
        emit StepsSkipped(static_cast<int>(m_index), static_cast<int>(left), rest);
    }
    m_index = total;
    emit Finished(outcome);
}

void ScriptRunner::PortLost(const QString& cause)
{
    m_lostCause = cause;
    if (m_script)
        End(Outcome::PortLost, cause);
}
