#pragma once

#include <QMainWindow>
#include <QTimer>

#include <memory>

class ModuleEngine;
class ModuleRecorder;
class QAction;
class QLabel;
class QListWidget;
class ScreenView;

// The virtual module's window: the screen at 1:1 (scaled down when the desktop is smaller), the
// counts as labels that scripts and screen readers can find by name, the latest statements and
// a menu that sends events by hand. It only routes: the engine does the work.
class ModuleWindow : public QMainWindow
{
    Q_OBJECT

public:
    ModuleWindow(ModuleEngine& engine, const QString& portName, QWidget* parent = nullptr);
    ~ModuleWindow() override;

    // How a statement shows in the list: long ones by their start and their length.
    static QString ListedText(const QByteArray& statement);
    static constexpr qsizetype kListedBytes = 120;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void Refresh();
    void SaveScreen();
    void ToggleRecording();
    void StartRecording(const QString& path);
    // True when there was no recording or its file was put in place.
    bool StopRecording(QString* error);
    void ShowRecordingError(const QString& text);
    // The title and the mark under the counts say whether a recording runs, and into which file.
    void ShowRecordingState();

    ModuleEngine& m_engine;
    ScreenView* m_screen = nullptr;
    QLabel* m_port = nullptr;
    QLabel* m_statements = nullptr;
    QLabel* m_unknown = nullptr;
    QLabel* m_bytes = nullptr;
    QLabel* m_events = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_recordingMark = nullptr;
    QString m_title; // without the recording's note
    QListWidget* m_recent = nullptr;
    QAction* m_record = nullptr;
    std::unique_ptr<ModuleRecorder> m_recorder;
    QString m_recordFolder;
    QTimer m_refresh; // the engine may run 20,000 statements a second; the window follows in frames
    bool m_dirty = true;
    bool m_screenDirty = true;
    qint64 m_listed = 0; // statements logged by the engine when the list was last updated
};
