#pragma once

#include "support/UniqueFd.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include <sys/types.h>

class QLocalSocket;
class QSocketNotifier;

// The trace window's listening socket. A viewer is found by its socket file, so the file must
// stay while the viewer runs, whatever its senders do: when the process is out of file
// descriptors, or already holds kDefaultMaxConnections senders, the newest connection is taken
// and closed at once (it sees its end and knows the viewer did not take it), and the listener
// goes on listening. Refusals are reported, so the window can say that senders were turned away.
class TraceListener : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultMaxConnections = 256;

    explicit TraceListener(int maxConnections = kDefaultMaxConnections, QObject* parent = nullptr);
    // Removes the socket file if it is still the one this listener made.
    ~TraceListener() override;

    // Takes the name `path`, readable and writable by this user only. False, with `error` set,
    // when it cannot (a file already there is left alone).
    bool Listen(const QString& path, QString* error);

    int ConnectionCount() const { return m_connections; }

signals:
    // A sender connected. The socket is a child of the listener and counts against the limit
    // until it is destroyed (deleteLater once it has disconnected).
    void Connected(QLocalSocket* socket);
    // A sender was turned away; `why` says what ran out.
    void Refused(const QString& why);

private:
    void AcceptPending();
    void Adopt(UniqueFd connection);
    bool RefuseWithSpare();
    void BackOff();
    void Resume();

    const int m_maxConnections;
    int m_connections = 0;
    UniqueFd m_listening;
    // Held open for the moment the process runs out of descriptors: closing it frees the one
    // descriptor that taking the newest connection (to close it) needs.
    UniqueFd m_spare;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_retry;
    int m_retryMs = 0;
    QString m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
