#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A real pseudo-terminal standing in for the LCD module. The control under test opens the slave
// end through the port folder; the test speaks through the master end held here. This object's
// own copy of the slave is closed at once, so the slave is used by the control alone.
//
// The reads and writes below keep the calling thread's events running while they wait, so a port
// opened on the same thread goes on sending and receiving meanwhile.
//
// There is no way to list the separate write(2) calls from here: the master end receives one
// stream, in which writes that follow each other quickly arrive merged (packet mode only adds a
// status byte). WriteCount.h counts them from the kernel's side instead.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isOpen() const { return m_master >= 0; }
    // The slave end, e.g. "/dev/pts/7".
    QString devicePath() const { return m_devicePath; }

    // Points the port folder's entry "COM<comNumber>" at this terminal, replacing what was there
    // and creating the folder as needed.
    bool PublishAs(int comNumber);

    // What arrives within `ms` milliseconds.
    QByteArray ReadFor(int ms) { return Collect(-1, ms); }
    // Reads until `n` bytes have arrived or `timeoutMs` has passed; fewer bytes mean a timeout.
    QByteArray ReadExactly(qsizetype n, int timeoutMs) { return Collect(n, timeoutMs); }
    // Sends to the slave end; false if not everything could be written within 10 seconds.
    bool Write(QByteArrayView bytes);
    // The write calls that took bytes so far, attempts refused while the terminal was full not
    // counted: how many pieces the stream went in.
    qint64 WritesTaken() const { return m_writesTaken; }
    // Hangs up: the slave end sees the device go away.
    void CloseMaster();

    // The speed the slave end was given, exact (termios2); -1 when unknown.
    int Speed() const;
    // The stop bits the slave end was given: 1 or 2 (-1 when unknown). The kernel keeps a
    // pseudo-terminal at 8 data bits without parity whatever it is told, so of the framing only
    // the stop bits can be seen here.
    int StopBits() const;

private:
    // Reads until `wanted` bytes (any number when negative) have arrived or the time is up.
    QByteArray Collect(qsizetype wanted, int timeoutMs);

    int m_master = -1;
    QString m_devicePath;
    qint64 m_writesTaken = 0;
};
