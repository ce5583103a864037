#pragma once

#include "report/ReportDecoder.h"
#include "report/ReportPresenter.h"
#include "script/ScriptRecorder.h"
#include "serial/CMSComm.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <vector>

class RandomSource;
class ScriptRunner;

// The console's end of the line, without a window: the serial control, the decoder of what it
// reads, the recording of the session and the script run that shares the port. Each read is
// decoded once and handed on to the view (Decoded), the recording and the running script; each
// statement the console sends goes out in random pieces and into the recording.
class PortSession : public QObject
{
    Q_OBJECT

public:
    // `rng` sizes the pieces and colours the reports; it must outlive the session.
    explicit PortSession(RandomSource& rng, QObject* parent = nullptr);

    CMSComm& Comm() { return m_comm; }
    const CMSComm& Comm() const { return m_comm; }
    ScriptRecorder& Recorder() { return m_recorder; }

    // Opens COM<port> with `settings` ("38400,n,8,1"), closing the port first when it is open.
    // The control's properties are written in the order a module expects of an open: port,
    // settings, receive threshold 1, binary input, open. Throws what the control throws.
    void Open(int port, const QString& settings);
    // Closes the port; output still queued is dropped (CMSComm::OutputDropped says how much).
    void Close();

    // Writes one statement to the port in randomly sized pieces, each piece its own write, and
    // records it. Throws when the control refuses a write.
    void Send(const QByteArray& statement);

    // The script run that shares the port: it gets every read and hears of a lost port before
    // anyone acts on the loss, and what it sends is recorded. Null for none; a run that is
    // deleted is dropped by itself.
    void SetScript(ScriptRunner* run);

signals:
    // What a read shows in the receive view, in order.
    void Decoded(const std::vector<ColoredText>& pieces);
    // The device went away and the port is closed; the running script has been told.
    void Lost(const QString& message);

private:
    void OnCommEvent();
    void OnDeviceLost(const QString& message);

    RandomSource& m_rng;
    CMSComm m_comm;
    ReportDecoder m_decoder;
    DecodedRead m_read;
    ReportPresenter m_presenter;
    std::vector<ColoredText> m_pieces;
    ScriptRecorder m_recorder;
    QPointer<ScriptRunner> m_script;
};
