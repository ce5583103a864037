#include "app/RunScriptDlg.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const char* OutcomeText(ScriptRunner::Outcome outcome)
{
    switch (outcome) {
    case ScriptRunner::Outcome::Passed:
        return "passed";
    case ScriptRunner::Outcome::Failed:
        return "failed";
    case ScriptRunner::Outcome::PortLost:
        return "the port was lost";
    case ScriptRunner::Outcome::Stopped:
        return "stopped";
    }
    return "";
}

} // namespace

QString StepStateText(const StepResult& result)
{
    using State = StepResult::State;
    switch (result.state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Running:
        return QStringLiteral("running");
    case State::Passed:
        // An expect's own time is how long it waited, which says little when its report had
        // already come; the time since the send is what the module took.
        return QStringLiteral("passed, %1 ms")
            .arg(qRound(result.latencyMs >= 0 ? result.latencyMs : result.elapsedMs));
    case State::Failed:
        return QStringLiteral("failed: %1").arg(result.reason);
    case State::Skipped:
        return QStringLiteral("skipped: %1").arg(result.reason);
    }
    return {};
}

QString RunSummary(const Script& script, const std::vector<StepResult>& results,
                   ScriptRunner::Outcome outcome)
{
    int passed = 0, failed = 0, skipped = 0;
    for (std::size_t i = 0; i < results.size() && i < script.steps.size(); ++i) {
        if (!script.steps[i].IsTest())
            continue;
        passed += results[i].state == StepResult::State::Passed;
        failed += results[i].state == StepResult::State::Failed;
        skipped += results[i].state == StepResult::State::Skipped;
    }
    QString summary = QStringLiteral("%1 passed, %2 failed").arg(passed).arg(failed);
    if (skipped > 0)
        summary += QStringLiteral(", %1 skipped").arg(skipped);
    if (outcome == ScriptRunner::Outcome::Stopped || outcome == ScriptRunner::Outcome::PortLost)
        summary += QStringLiteral(" (%1)").arg(QString::fromLatin1(OutcomeText(outcome)));
    return summary;
}

CRunScriptDlg::CRunScriptDlg(CMSComm& comm, RandomSource& rng, QWidget* parent)
    : QDialog(parent), m_runner(comm, rng, nullptr)
{
    setWindowTitle(QStringLiteral("Run Script"));
    m_file = new QLabel(this);
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_steps = new QTreeWidget(this);
    m_steps->setRootIsDecorated(false);
    m_steps->setUniformRowHeights(true);
    m_steps->setHeaderLabels(
        {QStringLiteral("Line"), QStringLiteral("Step"), QStringLiteral("State")});
    m_progress = new QProgressBar(this);
    m_progress->setFormat(QStringLiteral("%v of %m steps"));
    m_summary = new QLabel(this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_summary, 1);
    buttons->addWidget(m_stop);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_file);
    layout->addWidget(m_steps, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    resize(640, 420);

    connect(m_stop, &QPushButton::clicked, this, [this] { Stop(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_runner, &ScriptRunner::StepStarted, this, &CRunScriptDlg::OnStepStarted);
    connect(&m_runner, &ScriptRunner::StepFinished, this, &CRunScriptDlg::OnStepFinished);
    connect(&m_runner, &ScriptRunner::Finished, this, &CRunScriptDlg::OnFinished);
}

CRunScriptDlg::~CRunScriptDlg()
{
    // Quietly: the window and its rows are going.
    m_runner.blockSignals(true);
    m_runner.Stop();
}

bool CRunScriptDlg::Start(const QString& path, QString* error)
{
    ParseOutcome parsed = LoadScript(path);
    if (parsed.errors.empty())
        if (const auto step = FindVirtualOnlyStep(parsed.steps))
            parsed.errors.push_back({step->line, step->message});
    if (!parsed.errors.empty()) {
        QStringList lines;
        for (const ScriptError& e : parsed.errors)
            lines.append(FormatScriptError(QDir::toNativeSeparators(path), e));
        if (error)
            *error = lines.join(u'\n');
        return false;
    }
    m_script.path = path;
    m_script.steps = std::move(parsed.steps);

    m_file->setText(QDir::toNativeSeparators(path));
    setWindowTitle(QStringLiteral("Run Script - %1").arg(QFileInfo(path).fileName()));
    m_steps->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(m_script.steps.size()));
    for (const ScriptStep& step : m_script.steps)
        rows.append(new QTreeWidgetItem(
            {QString::number(step.line), step.source, StepStateText(StepResult{})}));
    m_steps->addTopLevelItems(rows);
    m_steps->resizeColumnToContents(kLineColumn);
    m_steps->setColumnWidth(kStepColumn, 320);
    m_progress->setRange(0, static_cast<int>(m_script.steps.size()));
    m_progress->setValue(0);
    m_summary->clear();
    m_stop->setEnabled(true);
    m_runner.Start(m_script);
    return true;
}

void CRunScriptDlg::Stop(const QString& why)
{
    m_runner.Stop(why);
}

QString CRunScriptDlg::Summary() const
{
    return m_summary->text();
}

void CRunScriptDlg::closeEvent(QCloseEvent* event)
{
    Stop(QStringLiteral("the window was closed"));
    QDialog::closeEvent(event);
}

void CRunScriptDlg::OnStepStarted(int index)
{
    QTreeWidgetItem* row = m_steps->topLevelItem(index);
    if (!row)
        return;
    StepResult running;
    running.state = StepResult::State::Running;
    row->setText(kStateColumn, StepStateText(running));
    // The running step stays in sight on a script longer than the window.
    m_steps->scrollToItem(row);
}

void CRunScriptDlg::OnStepFinished(int index, const StepResult& result)
{
    QTreeWidgetItem* row = m_steps->topLevelItem(index);
    if (!row)
        return;
    row->setText(kStateColumn, StepStateText(result));
    row->setToolTip(kStateColumn, StepStateText(result));
    if (result.state == StepResult::State::Failed)
        for (int column = 0; column < m_steps->columnCount(); ++column)
            row->setForeground(column, QColor(0xC0, 0, 0));
    m_progress->setValue(index + 1);
}

void CRunScriptDlg::OnFinished(ScriptRunner::Outcome outcome)
{
    m_progress->setValue(m_progress->maximum());
    m_summary->setText(RunSummary(m_script, m_runner.Results(), outcome));
    m_stop->setEnabled(false);
    emit Finished(outcome);
}
