#include "app/RunScriptDlg.h"

#include "app/ConsoleMessages.h"
#include "results/HtmlReport.h"
#include "results/LatencyStats.h"
#include "serial/CMSComm.h"
#include "support/FileReplace.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdint>

namespace {

using State = StepResult::State;

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

constexpr int kMostWarningsShown = 5;

} // namespace

// The script's steps as rows, each with what its state shows. A row keeps only its state, its
// time and a reason shared with the rows that have the same one, so a long script costs a few
// bytes a step, and marking the steps a run ended without running is one pass and one update.
class StepListModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetScript(const Script* script)
    {
        beginResetModel();
        m_script = script;
        m_rows.assign(script ? script->steps.size() : 0, Row{});
        m_reasons.clear();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : CRunScriptDlg::kColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || !m_script)
            return {};
        const auto row = static_cast<std::size_t>(index.row());
        if (role == Qt::ForegroundRole)
            return m_rows[row].state == State::Failed ? QVariant(QColor(0xC0, 0, 0)) : QVariant();
        if (role != Qt::DisplayRole &&
            !(role == Qt::ToolTipRole && index.column() == CRunScriptDlg::kStateColumn))
            return {};
        const ScriptStep& step = m_script->steps[row];
        switch (index.column()) {
        case CRunScriptDlg::kLineColumn:
            return QString::number(step.line);
        case CRunScriptDlg::kStepColumn:
            return m_script->Source(step);
        case CRunScriptDlg::kP50Column:
            return m_rows[row].p50 < 0 ? QString()
                                       : FormatMs(m_rows[row].p50) + QLatin1String(" ms");
        default:
            return StateText(row);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char* const kHeaders[] = {"Line", "Step", "State", "p50"};
        return QString::fromLatin1(kHeaders[section]);
    }

    QString StateText(std::size_t row) const
    {
        const Row& r = m_rows[row];
        StepResult result;
        result.state = r.state;
        result.latencyMs = r.ms;
        result.elapsedMs = r.ms;
        if (r.reason >= 0)
            result.reason = m_reasons[static_cast<std::size_t>(r.reason)];
        return StepStateText(result);
    }

    void Set(int row, const StepResult& result)
    {
        Row& r = m_rows[static_cast<std::size_t>(row)];
        const bool recolour = (r.state == State::Failed) != (result.state == State::Failed);
        r.state = result.state;
        r.ms = static_cast<float>(result.latencyMs >= 0 ? result.latencyMs : result.elapsedMs);
        r.reason = ReasonIndex(result.reason);
        emit dataChanged(index(row, recolour ? 0 : CRunScriptDlg::kStateColumn),
                         index(row, CRunScriptDlg::kStateColumn));
    }

    void Skip(int first, int count, const QString& reason)
    {
        if (count <= 0)
            return;
        const int shared = ReasonIndex(reason);
        for (int row = first; row < first + count; ++row)
            m_rows[static_cast<std::size_t>(row)] =
                Row{State::Skipped, 0, shared, m_rows[static_cast<std::size_t>(row)].p50};
        // The state column only: a range that starts in the first column has each of its rows
        // looked at again by the view.
        emit dataChanged(index(first, CRunScriptDlg::kStateColumn),
                         index(first + count - 1, CRunScriptDlg::kStateColumn));
    }

    // Every row waiting again, for another run; the medians stay until the run ends.
    void Restart()
    {
        for (Row& row : m_rows)
            row = Row{State::Waiting, 0, -1, row.p50};
        m_reasons.clear();
        if (!m_rows.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, CRunScriptDlg::kP50Column));
    }

    // Each expect step's median latency over the runs of `summaries`' script.
    void SetMedians(const std::vector<StepSummary>& summaries)
    {
        if (!m_script)
            return;
        std::size_t row = 0;
        for (const StepSummary& summary : summaries) {
            if (summary.script != m_script->path)
                continue;
            while (row < m_rows.size() && m_script->steps[row].line < summary.step.line)
                ++row;
            if (row < m_rows.size() && !summary.latencies.empty())
                m_rows[row].p50 = static_cast<float>(SummarizeLatencies(summary.latencies).p50);
        }
        if (!m_rows.empty())
            emit dataChanged(index(0, CRunScriptDlg::kP50Column),
                             index(rowCount() - 1, CRunScriptDlg::kP50Column));
    }

private:
    struct Row
    {
        State state = State::Waiting;
        float ms = 0;
        int reason = -1;
        float p50 = -1; // -1: no run of the step has passed
    };

    int ReasonIndex(const QString& reason)
    {
        if (reason.isEmpty())
            return -1;
        // Skipped steps share their reason; a run's failures are few.
        if (!m_reasons.empty() && m_reasons.back() == reason)
            return static_cast<int>(m_reasons.size() - 1);
        m_reasons.push_back(reason);
        return static_cast<int>(m_reasons.size() - 1);
    }

    const Script* m_script = nullptr;
    std::vector<Row> m_rows;
    std::vector<QString> m_reasons;
};

QString StepStateText(const StepResult& result)
{
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

QString RunSummary(const RunCounts& counts, ScriptRunner::Outcome outcome)
{
    QString summary = FormatRunCounts(counts);
    if (outcome == ScriptRunner::Outcome::Stopped || outcome == ScriptRunner::Outcome::PortLost)
        summary += QStringLiteral(" (%1)").arg(QString::fromLatin1(OutcomeText(outcome)));
    return summary;
}

CRunScriptDlg::CRunScriptDlg(CMSComm& comm, RandomSource& rng, QWidget* parent)
    : QDialog(parent), m_comm(comm), m_runner(comm, rng, nullptr)
{
    setWindowTitle(QStringLiteral("Run Script"));
    m_file = new QLabel(this);
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warnings = new QLabel(this);
    m_warnings->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warnings->setWordWrap(true);
    m_warnings->hide();
    m_model = new StepListModel(this);
    m_steps = new QTreeView(this);
    m_steps->setRootIsDecorated(false);
    m_steps->setUniformRowHeights(true);
    m_steps->setItemsExpandable(false);
    m_steps->setModel(m_model);
    m_progress = new QProgressBar(this);
    m_progress->setFormat(QStringLiteral("%v of %m steps"));
    m_summary = new QLabel(this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_again = new QPushButton(QStringLiteral("Run Again"), this);
    m_again->setEnabled(false);
    m_saveReport = new QPushButton(QStringLiteral("Save Report..."), this);
    m_saveReport->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("Close"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_summary, 1);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_again);
    buttons->addWidget(m_saveReport);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_file);
    layout->addWidget(m_warnings);
    layout->addWidget(m_steps, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    resize(640, 420);

    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, &CRunScriptDlg::ShowProgress);
    connect(m_stop, &QPushButton::clicked, this, [this] { Stop(); });
    connect(m_again, &QPushButton::clicked, this, [this] { RunAgain(); });
    connect(m_saveReport, &QPushButton::clicked, this, &CRunScriptDlg::AskForReport);
    connect(&m_runner, &ScriptRunner::Sent, this, [this](const QByteArray& bytes) {
        if (m_results)
            m_results->Sent(m_port, bytes);
    });
    connect(&m_runner, &ScriptRunner::ReportReceived, this, [this](const QByteArray& line) {
        if (m_results)
            m_results->ReportReceived(m_port, line);
    });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_runner, &ScriptRunner::StepStarted, this, &CRunScriptDlg::OnStepStarted);
    connect(&m_runner, &ScriptRunner::StepFinished, this, &CRunScriptDlg::OnStepFinished);
    connect(&m_runner, &ScriptRunner::StepsSkipped, this, &CRunScriptDlg::OnStepsSkipped);
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
    // The run under way holds the script about to be replaced.
    m_runner.Stop();
    ParseOutcome parsed = LoadScript(path);
    if (parsed.errors.empty())
        if (const auto step = FindVirtualOnlyStep(parsed))
            parsed.errors.push_back({step->line, step->message});
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!parsed.errors.empty()) {
        QStringList lines;
        for (const ScriptError& e : parsed.errors)
            lines.append(FormatScriptError(shownPath, e));
        if (error)
            *error = lines.join(u'\n');
        return false;
    }
    QStringList warnings;
    for (const ScriptError& w : parsed.warnings) {
        if (warnings.size() == kMostWarningsShown) {
            warnings << QStringLiteral("and %1 more warnings")
                            .arg(parsed.warnings.size() - kMostWarningsShown);
            break;
        }
        warnings << FormatScriptError(shownPath, {w.line, QStringLiteral("warning: ") + w.message});
    }
    m_warnings->setText(warnings.join(u'\n'));
    m_warnings->setVisible(!warnings.isEmpty());
    m_model->SetScript(nullptr);
    m_script = std::move(parsed);
    m_script.path = path;

    m_file->setText(shownPath);
    setWindowTitle(QStringLiteral("Run Script - %1").arg(QFileInfo(path).fileName()));
    m_model->SetScript(&m_script);
    // Wide enough for the last line number, the longest; the view itself only measures the rows
    // in sight.
    if (!m_script.steps.empty())
        m_steps->setColumnWidth(
            kLineColumn,
            std::max(m_steps->header()->sectionSizeHint(kLineColumn),
                     m_steps->sizeHintForIndex(m_model->index(m_model->rowCount() - 1, kLineColumn))
                         .width()));
    m_steps->setColumnWidth(kStepColumn, 320);
    m_results = std::make_unique<ResultsCollector>();
    m_round = 0;
    StartRun();
    return true;
}

bool CRunScriptDlg::RunAgain()
{
    if (!m_results || m_runner.IsRunning())
        return false;
    m_model->Restart();
    StartRun();
    return true;
}

void CRunScriptDlg::StartRun()
{
    m_progress->setRange(0, static_cast<int>(m_script.steps.size()));
    m_progress->setValue(0);
    m_summary->clear();
    m_stop->setEnabled(true);
    m_again->setEnabled(false);
    m_saveReport->setEnabled(false);
    // The console names its ports by number.
    m_port = QStringLiteral("COM%1").arg(m_comm.GetCommPort());
    m_results->ScriptStarted(m_port, m_script, ++m_round);
    m_runner.Start(m_script);
}

bool CRunScriptDlg::SaveReport(const QString& path, QString* error) const
{
    if (!m_results)
        return false;
    return ReplaceFileWhole(path, ReportHtml(m_results->Results()), error);
}

void CRunScriptDlg::AskForReport()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Save Report"), m_reportFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters(
        {QStringLiteral("HTML reports (*.html)"), QStringLiteral("All files (*)")});
    dialog->setDefaultSuffix(QStringLiteral("html"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        m_reportFolder = QFileInfo(path).absolutePath();
        QString error;
        if (!SaveReport(path, &error))
            ShowError(this, QStringLiteral("The report could not be written to \"%1\": %2")
                                .arg(QDir::toNativeSeparators(path), error));
    });
    dialog->open();
}

void CRunScriptDlg::Stop(const QString& why)
{
    m_runner.Stop(why);
}

QString CRunScriptDlg::StepText(int row, Column column) const
{
    return m_model->index(row, column).data().toString();
}

QString CRunScriptDlg::Summary() const
{
    return m_summary->text();
}

QString CRunScriptDlg::Warnings() const
{
    return m_warnings->text();
}

void CRunScriptDlg::closeEvent(QCloseEvent* event)
{
    Stop(QStringLiteral("the window was closed"));
    QDialog::closeEvent(event);
}

void CRunScriptDlg::OnStepStarted(int index)
{
    if (m_results)
        m_results->StepStarted(m_port, index);
    StepResult running;
    running.state = State::Running;
    m_model->Set(index, running);
    // The running step stays in sight on a script longer than the window.
    m_steps->scrollTo(m_model->index(index, kLineColumn));
}

void CRunScriptDlg::OnStepFinished(int index, const StepResult& result)
{
    if (m_results)
        m_results->StepFinished(m_port, index, result);
    m_model->Set(index, result);
    if (!m_progressTimer.isActive())
        m_progressTimer.start();
}

void CRunScriptDlg::OnStepsSkipped(int first, int count, const QString& reason)
{
    if (m_results)
        m_results->StepsSkipped(m_port, first, count, reason);
    m_model->Skip(first, count, reason);
}

void CRunScriptDlg::ShowProgress()
{
    m_progress->setValue(static_cast<int>(m_runner.Counts().ran));
}

void CRunScriptDlg::OnFinished(ScriptRunner::Outcome outcome)
{
    m_progressTimer.stop();
    // How many steps ran, also when the run ended early.
    ShowProgress();
    m_summary->setText(RunSummary(m_runner.Counts(), outcome));
    m_stop->setEnabled(false);
    if (m_results) {
        m_results->ScriptFinished(m_port);
        m_model->SetMedians(SummarizeSteps(m_results->Results()));
        m_again->setEnabled(true);
        m_saveReport->setEnabled(true);
    }
    emit Finished(outcome);
}
