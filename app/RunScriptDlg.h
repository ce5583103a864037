#pragma once

#include "script/ResultsCollector.h"
#include "script/RunCounts.h"
#include "script/ScriptRunner.h"
#include "scriptformat/Script.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>

class CMSComm;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;
class RandomSource;
class StepListModel;

// The console's Run Script window: a script's steps with their state, a progress bar, Stop, and
// the summary once the run is over. The run shares the console's open port; the console keeps
// reading it, shows the traffic as usual and hands the reports of each read, decoded once for
// both, to Runner() (see PortSession::SetScript), so no byte is taken from the view. Every wait of
// the run is on the event loop, so the window never freezes; the step list is a view of the script,
// so a script of any length loads and ends at once. "Run Again" repeats the script; after each run
// the p50 column shows each expect step's median latency over the window's runs of it, and "Save
// Report..." writes the HTML report of those runs.
class CRunScriptDlg : public QDialog
{
    Q_OBJECT

public:
    enum Column
    {
        kLineColumn,
        kStepColumn,
        kStateColumn,
        kP50Column,
        kColumnCount,
    };

    CRunScriptDlg(CMSComm& comm, RandomSource& rng, QWidget* parent = nullptr);
    ~CRunScriptDlg() override;

    // Loads the script and starts it. A script that does not parse, or that has a step only the
    // virtual module can do (the port may lead to a real module), is refused before anything is
    // sent: false with the reasons in `error`.
    bool Start(const QString& path, QString* error);
    // Runs the loaded script once more; its runs so far stay in the results. False while a run
    // is under way or before any script was loaded.
    bool RunAgain();
    // Writes the HTML report of the window's runs; false with the reason in `error`.
    bool SaveReport(const QString& path, QString* error) const;
    const RunResults& Results() const { return m_results->Results(); }
    // Ends the run at once; the port stays open.
    void Stop(const QString& why = QStringLiteral("stopped"));
    bool IsRunning() const { return m_runner.IsRunning(); }

    QTreeView* Steps() const { return m_steps; }
    QString StepText(int row, Column column) const;
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* AgainButton() const { return m_again; }
    QPushButton* SaveReportButton() const { return m_saveReport; }
    QString Summary() const;
    ScriptRunner& Runner() { return m_runner; }
    // The script's warnings, one "FILE:LINE: warning: ..." a line; empty when there are none.
    QString Warnings() const;

signals:
    void Finished(ScriptRunner::Outcome outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnStepStarted(int index);
    void OnStepFinished(int index, const StepResult& result);
    void OnStepsSkipped(int first, int count, const QString& reason);
    void OnFinished(ScriptRunner::Outcome outcome);
    void ShowProgress();
    void StartRun();
    void AskForReport();

    CMSComm& m_comm;
    Script m_script;
    ScriptRunner m_runner;
    StepListModel* m_model = nullptr;
    QLabel* m_file = nullptr;
    QLabel* m_warnings = nullptr;
    QTreeView* m_steps = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_again = nullptr;
    QPushButton* m_saveReport = nullptr;
    std::unique_ptr<ResultsCollector> m_results;
    QString m_port; // the port's name, as the report shows it
    int m_round = 0;
    QString m_reportFolder;
    // The bar follows the steps a few times a second: repainting it per step would cost more
    // than a step that only sends.
    QTimer m_progressTimer;
};

// What a step's state shows: "waiting", "running", "passed, 12 ms" (for an expect, from the send
// to its report), "failed: why", "skipped: why".
QString StepStateText(const StepResult& result);
// What the run did (see FormatRunCounts), with why it ended when it did not run to its end.
QString RunSummary(const RunCounts& counts, ScriptRunner::Outcome outcome);
