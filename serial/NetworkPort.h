#pragma once

#include "serial/DescriptorPort.h"
#include "serial/NetworkAddress.h"
#include "support/UniqueFd.h"
#include "telnet/TelnetCodec.h"

#include <QHostAddress>
#include <QList>
#include <QTimer>

#include <deque>

class QHostInfo;
class QSocketNotifier;

// A port that a serial server exports over raw TCP (ser2net's `tcp` accepter): the socket
// carries the data unaltered and the serial settings are the server's. The connection is made on
// the event loop, within kConnectLimit, trying each address the host name has in turn.
class TcpPort : public DescriptorPort
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kConnectLimit{5000};

    TcpPort(const NetworkAddress& address, QObject* parent);
    ~TcpPort() override;

    QString Open(const LineSettings& settings) override;
    QString ApplySettings(const LineSettings& settings) override;
    ReadOutcome Read(qsizetype most) override;
    qsizetype Write(QByteArrayView data, QString& cause) override;
    qsizetype WriteBefore(QByteArrayView data, Deadline deadline) override;
    void Release(Deadline deadline) override;

protected:
    // The connection is made; a plain TCP line is set up with it.
    virtual void OnConnected();
    // What a read returned, before it goes up as data.
    virtual ReadOutcome Decode(ReadOutcome raw) { return raw; }
    QString Endpoint() const { return m_address.Endpoint(); }
    QString LossCause(int error) const;
    int Fd() const { return m_fd.get(); }
    LineSettings m_settings;

private:
    void OnLookedUp(const QHostInfo& info);
    void TryNextAddress();
    void OnConnectFinished();
    void Fail(const QString& cause);

    NetworkAddress m_address;
    UniqueFd m_fd;
    // The data of the connection's first moments: a server that turns a client away says why in
    // a line of text before it closes.
    QByteArray m_firstWords;
    Deadline m_connectedAt;
    bool m_connected = false;
    int m_lookupId = -1;
    QList<QHostAddress> m_candidates;
    QString m_lastError;
    QSocketNotifier* m_connectNotifier = nullptr;
    QTimer m_connectTimer;
};

// A port behind a Telnet accepter with RFC 2217's COM-PORT-OPTION (ser2net's
// `telnet(rfc2217)`): the options are negotiated within kNegotiationLimit, the serial settings
// are set from the control's and changed with them, both directions of the data are escaped, and
// a request the server leaves unanswered for kAnswerLimit is noted once and not waited for.
class Rfc2217Port : public TcpPort
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kNegotiationLimit{3000};
    static constexpr std::chrono::milliseconds kAnswerLimit{3000};

    Rfc2217Port(const NetworkAddress& address, QObject* parent);

    QString ApplySettings(const LineSettings& settings) override;
    qsizetype Write(QByteArrayView data, QString& cause) override;
    bool HasOwnOutput() const override { return !m_own.isEmpty(); }
    bool WriteOwnOutput(QString& cause) override;
    qsizetype WriteBefore(QByteArrayView data, Deadline deadline) override;
    void Release(Deadline deadline) override;

protected:
    void OnConnected() override;
    ReadOutcome Decode(ReadOutcome raw) override;

private:
    void Negotiated(bool comPort);
    // Sends what differs from what the server was last told (everything, the first time).
    void SendSettings(const LineSettings& settings, bool all);
    void Request(telnet::ComPortCommand command, quint32 value, const QByteArray& bytes,
                 const QString& what);
    void Answered(telnet::ComPortCommand command, quint32 value);
    void SendOwn(const QByteArray& bytes);
    void OnAnswerTimeout();

    telnet::TelnetCodec m_codec;
    telnet::TelnetOutput m_decoded;
    QByteArray m_own; // bytes of our own not yet written, in order
    bool m_negotiated = false;
    bool m_comPort = false;
    bool m_noted = false;
    LineSettings m_told;
    struct Waiting
    {
        telnet::ComPortCommand command;
        quint32 value;
        QString what; // in words, for the note
        Deadline sent;
    };
    std::deque<Waiting> m_waiting; // requests not answered yet, in the order sent
    QTimer m_negotiationTimer;
    QTimer m_answerTimer;
};
