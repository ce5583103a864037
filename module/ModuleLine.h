#pragma once

#include "support/UniqueFd.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;

// The module's end of the serial line: a pseudo-terminal in raw mode whose other end is published
// in the console's port folder as "COM<n>". The link is removed when the line is destroyed.
class ModuleLine : public QObject
{
    Q_OBJECT

public:
    // After this long without a byte, a statement left incomplete is given up (LineIdle).
    static constexpr int kIdleMs = 1000;

    explicit ModuleLine(QObject* parent = nullptr);
    ~ModuleLine() override;

    // Opens the terminal and publishes it as COM<port>, or for port 0 at the lowest free number.
    // An entry left by a module that was killed (a link to a pseudo-terminal that is gone) counts
    // as free. The error text is empty on success.
    QString Open(int port);
    // Opens the terminal without publishing it: for a module living in the same process as the
    // program that opens DevicePath(), which must not show up as a port of the console.
    static constexpr int kUnpublished = -1;
    int Port() const { return m_port; }
    QString DevicePath() const { return m_devicePath; }

    // Paced, bytes are taken no faster than the speed the console set on the line allows (ten
    // bits a byte); unpaced, as fast as they come.
    void SetPaced(bool paced) { m_paced = paced; }
    // The line speed the other end set, in bits per second; -1 when unknown.
    int LineSpeed() const;

    // Queues bytes for the other end; nothing is lost while the queue is within kMostQueued.
    void Write(const QByteArray& bytes);
    static constexpr qsizetype kMostQueued = 1024 * 1024;

signals:
    void Received(const QByteArray& bytes);
    void LineIdle();

private:
    void OnReadable();
    void OnWritable();
    void RemoveLink();
    QString Publish(int port);

    UniqueFd m_master;
    // Kept open so that the console closing its end is no hang-up here: the line just goes quiet.
    UniqueFd m_slave;
    QString m_devicePath;
    QString m_link;
    int m_port = 0;
    bool m_paced = true;
    double m_allowance = 0; // bytes the line speed has earned and not yet taken
    QElapsedTimer m_sinceRead;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_resume;
    QTimer m_idle;
    QByteArray m_pending;
};
