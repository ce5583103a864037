#pragma once

#include "module/ModuleRecording.h"
#include "scriptformat/ScriptWriter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <memory>

class ModuleEngine;

// Records a running virtual module into a script file: what the engine takes, what is done to it
// and what it reports, timed on one clock, written as it comes to a file that replaces the target
// only when the recording ends whole.
class ModuleRecorder : public QObject
{
    Q_OBJECT

public:
    explicit ModuleRecorder(ModuleEngine& engine, QObject* parent = nullptr);
    ~ModuleRecorder() override;

    // Starts a recording for `path`, whose first lines are `comments`. False, with the cause in
    // `error`, when the file cannot be made.
    bool Start(const QString& path, const QStringList& comments, QString* error);
    // Ends the recording and puts the file in place. False, with the cause, when a write failed;
    // the target is then left as it was.
    bool Stop(QString* error);
    bool IsRecording() const { return m_recording != nullptr; }
    // The screen was written to `picture`: the recording gets a screen step with it as the
    // reference, named from the script's folder when it lies within it.
    void ScreenSaved(const QString& picture);
    QString Path() const { return m_file.Path(); }

signals:
    // A write failed: the recording is dropped at once, the target left as it was, and nothing
    // more is recorded, so this comes once.
    void Failed(const QString& error);

private:
    void Drop();
    void CheckWrites();
    qint64 Now() const { return m_clock.elapsed(); }

    ModuleEngine& m_engine;
    ScriptFile m_file;
    std::unique_ptr<ModuleRecording> m_recording;
    QElapsedTimer m_clock;
};
