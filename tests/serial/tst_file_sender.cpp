#include "serial/FileSender.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr short kPort = 7;

// Every byte value, in an order that shows a lost, repeated or reordered block.
char PatternByte(qint64 i)
{
    return static_cast<char>((i * 131 + i / 4099) & 0xFF);
}

bool WriteSizedFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += block.size()) {
        const qint64 n = std::min<qint64>(block.size(), size - at);
        for (qint64 i = 0; i < n; ++i)
            block[i] = PatternByte(at + i);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

// Offset of the first byte of `received` (taken from `offset` on) that differs from the file,
// or -1.
qint64 FirstMismatch(const QByteArray& received, qint64 offset)
{
    for (qsizetype i = 0; i < received.size(); ++i)
        if (received[i] != PatternByte(offset + i))
            return offset + i;
    return -1;
}

} // namespace

class tst_FileSender : public QObject
{
    Q_OBJECT

    TempConfigHome m_home;
    std::unique_ptr<PseudoTerminal> m_terminal;
    std::unique_ptr<CMSComm> m_comm;

    void Open()
    {
        m_terminal = std::make_unique<PseudoTerminal>();
        QVERIFY(m_terminal->PublishAs(kPort));
        m_comm = std::make_unique<CMSComm>();
        m_comm->SetCommPort(kPort);
        m_comm->SetSettings(u"115200,n,8,1"_s);
        m_comm->SetPortOpen(true);
    }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void cleanup()
    {
        m_comm.reset();
        m_terminal.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty file") << u"empty"_s << u"is empty: it has no bytes to send"_s;
        QTest::newRow("folder") << u"folder"_s << u"is a folder"_s;
        QTest::newRow("missing file") << u"missing"_s << u"does not exist"_s;
        QTest::newRow("unreadable file") << u"unreadable"_s << u"cannot be read"_s;
        QTest::newRow("not a regular file") << u"fifo"_s << u"not a regular file"_s;
        QTest::newRow("port closed") << u"closed"_s << u"The port is not open"_s;
    }
    // Nothing reaches the line, the sender stays idle and the message names the cause.
    void refusals()
    {
        QFETCH(QString, situation);
        QFETCH(QString, message);
        Open();
        QString path = m_home.filePath(u"file.txt"_s);
        QVERIFY(WriteSizedFile(path, situation == u"empty" ? 0 : 100));
        if (situation == u"folder")
            path = m_home.path();
        else if (situation == u"missing")
            path += u".gone"_s;
        else if (situation == u"unreadable") {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        } else if (situation == u"fifo") {
            path = m_home.filePath(u"fifo"_s);
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (situation == u"closed")
            m_comm->SetPortOpen(false);

        FileSender sender(*m_comm);
        const QString refusal = sender.Start(path, 11520);
        QVERIFY2(refusal.contains(message), qPrintable(refusal));
        QVERIFY(!sender.IsSending());
        QCOMPARE(m_terminal->ReadFor(50), QByteArray());
    }

    void outcomes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("midway"); // what happens once a megabyte has arrived
        QTest::addColumn<int>("outcome");
        QTest::newRow("50 MB whole")
            << qint64(50) * 1024 * 1024 << u""_s << int(FileSender::Outcome::Sent);
        QTest::newRow("one byte") << qint64(1) << u""_s << int(FileSender::Outcome::Sent);
        QTest::newRow("cancel mid-file")
            << qint64(4) * 1024 * 1024 << u"cancel"_s << int(FileSender::Outcome::Cancelled);
        QTest::newRow("port closed mid-file")
            << qint64(4) * 1024 * 1024 << u"close"_s << int(FileSender::Outcome::PortClosed);
        QTest::newRow("device lost mid-file")
            << qint64(4) * 1024 * 1024 << u"hang up"_s << int(FileSender::Outcome::DeviceLost);
    }
    // What arrives is the file's start byte for byte, and with what the sender says was not sent
    // it makes the whole file; the control never holds more of it than its limit. What the
    // sender tells as taken, in order, is what it counts as sent, byte for byte.
    void outcomes()
    {
        QFETCH(qint64, size);
        QFETCH(QString, midway);
        QFETCH(int, outcome);
        Open();
        const QString path = m_home.filePath(u"file.bin"_s);
        QVERIFY(WriteSizedFile(path, size));

        FileSender sender(*m_comm);
        QSignalSpy finished(&sender, &FileSender::Finished);
        qint64 mostQueued = 0;
        connect(m_comm.get(), &CMSComm::OutputTaken, &sender, [&] {
            mostQueued = std::max(mostQueued, m_comm->QueuedOutputBytes(FileSender::kSendGroup));
        });
        qint64 told = 0;
        qint64 toldWrong = -1;
        connect(&sender, &FileSender::Taken, &sender, [&](const QByteArray& bytes) {
            if (toldWrong < 0)
                toldWrong = FirstMismatch(bytes, told);
            told += bytes.size();
        });
        QCOMPARE(sender.Start(path, 11520), QString());

        // A read returns once the line has been quiet for its time, so the first one stops at
        // the first megabyte only when something happens there.
        QByteArray chunk = m_terminal->ReadExactly(midway.isEmpty() ? size : 1024 * 1024, 120000);
        QCOMPARE(FirstMismatch(chunk, 0), qint64(-1));
        qint64 received = chunk.size();
        if (midway == u"cancel")
            sender.Cancel();
        else if (midway == u"close")
            m_comm->SetPortOpen(false);
        else if (midway == u"hang up")
            m_terminal->CloseMaster();
        while (!(chunk = m_terminal->ReadFor(200)).isEmpty()) {
            QCOMPARE(FirstMismatch(chunk, received), qint64(-1));
            received += chunk.size();
        }
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].value<FileSender::Outcome>(), FileSender::Outcome(outcome));
        const qint64 notSent = finished[0][1].toLongLong();
        QVERIFY2(mostQueued <= FileSender::kQueueLimit + sender.BlockSize(),
                 qPrintable(QString::number(mostQueued)));
        QCOMPARE(toldWrong, qint64(-1));
        QCOMPARE(told, size - notSent);
        if (midway == u"hang up") {
            // Bytes the terminal held when it hung up went with it, counted as sent.
            QVERIFY(notSent > 0 && received + notSent <= size);
            return;
        }
        QCOMPARE(received + notSent, size);
        QCOMPARE(notSent > 0, !midway.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_FileSender)
#include "tst_file_sender.moc"
