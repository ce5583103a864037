#pragma once

#include "script/Script.h"
#include "script/ScriptRunner.h"

#include <QByteArrayView>
#include <QDialog>
#include <QString>

class CMSComm;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class RandomSource;

// The console's Run Script window: a script's steps with their state, a progress bar, Stop, and
// the summary once the run is over. The run shares the console's open port; the console keeps
// reading it, shows the traffic as usual and hands each read to Receive, so no byte is taken
// from the view. Every wait of the run is on the event loop, so the window never freezes.
class CRunScriptDlg : public QDialog
{
    Q_OBJECT

public:
    enum Column
    {
        kLineColumn,
        kStepColumn,
        kStateColumn,
    };

    CRunScriptDlg(CMSComm& comm, RandomSource& rng, QWidget* parent = nullptr);
    ~CRunScriptDlg() override;

    // Loads the script and starts it. A script that does not parse, or that has a step only the
    // virtual module can do (the port may lead to a real module), is refused before anything is
    // sent: false with the reasons in `error`.
    bool Start(const QString& path, QString* error);
    // Bytes the console read from the port.
    void Receive(QByteArrayView bytes) { m_runner.Receive(bytes); }
    // Ends the run at once; the port stays open.
    void Stop(const QString& why = QStringLiteral("stopped"));
    bool IsRunning() const { return m_runner.IsRunning(); }

    QTreeWidget* Steps() const { return m_steps; }
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* StopButton() const { return m_stop; }
    QString Summary() const;
    ScriptRunner& Runner() { return m_runner; }

signals:
    void Finished(ScriptRunner::Outcome outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnStepStarted(int index);
    void OnStepFinished(int index, const StepResult& result);
    void OnFinished(ScriptRunner::Outcome outcome);

    Script m_script;
    ScriptRunner m_runner;
    QLabel* m_file = nullptr;
    QTreeWidget* m_steps = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_stop = nullptr;
};

// What a step's state shows: "waiting", "running", "passed, 12 ms" (for an expect, from the send
// to its report), "failed: why", "skipped: why".
QString StepStateText(const StepResult& result);
// "N passed, N failed" over the tests of the script, with the skipped and why the run ended
// when it did not run to its end.
QString RunSummary(const Script& script, const std::vector<StepResult>& results,
                   ScriptRunner::Outcome outcome);
