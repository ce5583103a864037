#pragma once

#include "module/Controls.h"
#include "module/EventEncoder.h"
#include "module/StatementParser.h"
#include "module/StatementReader.h"
#include "protocol/EventTable.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// Something the user does to the module: a touch on its screen, a key, a report sent by hand.
struct ModuleAction
{
    enum class Kind
    {
        Press,
        Move,
        Release,
        Key,
        Event,
    };
    Kind kind = Kind::Press;
    QPoint point;          // Press, Move, Release: on the screen
    std::uint8_t code = 0; // Key: the key; Event: the report code
    bool state = false;    // Event: the state it is sent with
};

// The virtual module without a window: it reads statements from the bytes of the line, draws
// them on an 800 x 480 screen, keeps the touch controls, and turns touches, keys and requests
// into event reports. Everything here runs on the thread that feeds it.
class ModuleEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int kWidth = kScreenWidth;
    static constexpr int kHeight = kScreenHeight;
    static constexpr std::size_t kRecentKept = 200;

    struct LogEntry
    {
        QByteArray text;
        QByteArray error; // empty: executed
    };

    // Pictures for DrawImage are read from `storageFolder`.
    explicit ModuleEngine(QString storageFolder, QObject* parent = nullptr);

    // Bytes from the line, in order, in any split.
    void Feed(QByteArrayView bytes);
    // The line went quiet: a statement left incomplete is given up.
    void LineIdle();

    // Slower firmware: each statement waits this long before it runs and each report before it
    // is sent, one after the other in the order they came, on the event loop; 0 answers at once.
    void SetAnswerDelay(int ms);
    static constexpr int kMostAnswerDelayMs = 60 * 1000;
    int AnswerDelay() const { return m_answerDelayMs; }
    // Bytes whose statements have all run: what was received, less what still waits its turn.
    qint64 BytesExecuted() const;

    const QImage& Screen() const { return m_screen; }
    qint64 StatementCount() const { return m_executed; }
    qint64 UnknownCount() const { return m_unknown; }
    qint64 BytesReceived() const { return m_bytes; }
    qint64 EventsSent() const { return m_events; }
    const std::deque<LogEntry>& Recent() const { return m_recent; }
    bool CursorVisible() const { return m_cursorVisible; }
    QString Note() const { return m_note; }
    const ControlSet& Controls() const { return m_controls; }

    ReportForm Form() const { return m_form; }
    void SetForm(ReportForm form) { m_form = form; }

    // The module's clock: local time until SetClock, then running on from what it was set to.
    QDateTime Clock() const;
    bool Calibrating() const { return m_calibrationStep >= 0; }
    // The crosshair to touch next, while calibrating.
    QPoint CalibrationTarget() const;

    // Touches on the screen, in screen pixels.
    void Press(QPoint p);
    void Move(QPoint p);
    void Release(QPoint p);
    void KeyPress(std::uint8_t key);
    // Sends one report by hand; for date and time the values come from the clock.
    void SendEvent(std::uint8_t code, const ReportContent& content = {});
    void SendDate();
    void SendTime();

signals:
    // Bytes about to be read, and an action about to take effect: a listener sees every cause
    // ahead of the reports it leads to.
    void Receiving(QByteArrayView bytes);
    void Acting(const ModuleAction& action);
    void ReportReady(const QByteArray& report);
    void ScreenChanged();
    void CountsChanged();
    void SoundRequested(const QString& file);

private:
    using Arguments = std::vector<Argument>;
    using Command = QByteArray (ModuleEngine::*)(const Arguments&);
    struct CommandEntry
    {
        const char* keyword;
        const char* signature;
        Command run;
    };
    static const CommandEntry kCommands[];

    // A statement read (or given up) or a report made, waiting for its turn under an answer delay.
    struct Answer
    {
        enum class Kind
        {
            Statement,
            Rejected,
            Report,
        };
        Kind kind;
        QByteArray bytes;
        QByteArray error;    // Rejected: why
        qint64 received = 0; // Statement, Rejected: bytes received when it was read
    };
    void Perform(const Answer& answer);
    // Performs `answer` now, or queues it behind what waits or for the answer delay.
    void Submit(Answer answer);
    void Queue(Answer answer);
    void AnswerNext();
    void Execute(const QByteArray& text);
    void Log(const QByteArray& text, const QByteArray& error);
    void Report(std::uint8_t code, const ReportContent& content);
    void PaintControl(const ModuleControl& control);
    void DrawCalibrationTarget();
    void ResetStyles();
    QColor FillFrom(const Arguments& args, std::size_t at, QColor fallback) const;

    QByteArray DoLine(const Arguments&);
    QByteArray DoMoveTo(const Arguments&);
    QByteArray DoPSet(const Arguments&);
    QByteArray DoDotSize(const Arguments&);
    QByteArray DoBox(const Arguments&);
    QByteArray DoBoxFill(const Arguments&);
    QByteArray DoRoundBox(const Arguments&);
    QByteArray DoRoundBoxFill(const Arguments&);
    QByteArray DoCircle(const Arguments&);
    QByteArray DoCircleFill(const Arguments&);
    QByteArray DoArc(const Arguments&);
    QByteArray DoBezier(const Arguments&);
    QByteArray DoClear(const Arguments&);
    QByteArray DoColor(const Arguments&);
    QByteArray DoTextColor(const Arguments&);
    QByteArray DoTextFont(const Arguments&);
    QByteArray DoTextPos(const Arguments&);
    QByteArray DoPrint(const Arguments&);
    QByteArray DoSetCtrl(const Arguments&);
    QByteArray DoCtrlFont(const Arguments&);
    QByteArray DoCtrlColor(const Arguments&);
    QByteArray DoShowCursor(const Arguments&);
    QByteArray DoHideCursor(const Arguments&);
    QByteArray DoDrawImage(const Arguments&);
    QByteArray DoSound(const Arguments&);
    QByteArray DoSetClock(const Arguments&);
    QByteArray DoCalibrate(const Arguments&);
    QByteArray DoMakeTestEnvironment(const Arguments&);
    QByteArray DoDump(const Arguments&);
    // Every control statement: the table names the kind it makes.
    template <ModuleControl::Kind kind> QByteArray AddControl(const Arguments& args);
    QByteArray FillShape(const Arguments& args, std::size_t extraAt, bool round);

    QString m_storage;
    StatementReader m_reader;
    QImage m_screen;
    ControlSet m_controls;

    // Drawing state.
    QColor m_colour;
    QColor m_background;
    int m_dotSize = 1;
    QPoint m_position;
    QColor m_textColour;
    std::optional<QColor> m_textBackground;
    QFont m_textFont;
    QRect m_textArea; // a point (empty size) or the rectangle text wraps in
    QColor m_ctrlColour;
    std::optional<QColor> m_ctrlBackground;
    QFont m_ctrlFont;
    struct SavedArea
    {
        QPoint at;
        QImage pixels;
    };
    std::vector<SavedArea> m_pushed;

    bool m_cursorVisible = true;
    QString m_note;
    qint64 m_clockOffsetMs = 0;
    int m_calibrationStep = -1;
    QImage m_beforeCalibration;

    ReportForm m_form = ReportForm::Binary;
    // What the pointer holds since its press: a control's id, or one of these.
    static constexpr int kNothingHeld = -1, kTouching = -2;
    int m_grabbed = kNothingHeld;

    qint64 m_executed = 0;
    qint64 m_unknown = 0;
    qint64 m_bytes = 0;
    qint64 m_events = 0;
    std::deque<LogEntry> m_recent;

    int m_answerDelayMs = 0;
    std::deque<Answer> m_answers;
    QTimer m_answerTimer;
    qint64 m_bytesExecuted = 0;
    // While an answer is performed, the reports it makes go ahead of what waits behind it.
    std::vector<Answer>* m_madeNow = nullptr;
};
