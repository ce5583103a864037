#include "support/ReceiveLog.h"

#include <QDateTime>
#include <QFile>
#include <QSignalBlocker>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void AppendLatin1AsUtf8(QByteArray& out, QByteArrayView latin1)
{
    const char* const begin = latin1.data();
    const char* const end = begin + latin1.size();
    const char* plain = begin;
    const char* p = begin;
    // Received text is mostly ASCII: eight characters are passed at once while none has its
    // top bit set.
    for (std::uint64_t word; end - p >= 8; p += 8) {
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080u)
            break;
    }
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80)
            continue;
        out.append(plain, p - plain);
        out.append(static_cast<char>(0xC0 | (c >> 6)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
        plain = p + 1;
    }
    out.append(plain, end - plain);
}

void WriteTimeStamp(QTime time, char* out)
{
    if (!time.isValid())
        time = QTime(0, 0);
    const auto digits = [&out](int value, int count) {
        for (int i = count - 1; i >= 0; --i, value /= 10)
            out[i] = static_cast<char>('0' + value % 10);
        out += count;
    };
    digits(time.hour(), 2);
    *out++ = ':';
    digits(time.minute(), 2);
    *out++ = ':';
    digits(time.second(), 2);
    *out++ = '.';
    digits(time.msec(), 3);
    *out = ' ';
}

QTime CurrentLocalTime()
{
    constexpr qint64 kDayMs = 24 * 3600 * 1000;
    thread_local qint64 offsetSecond = -1;
    thread_local qint64 offsetMs = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now / 1000 != offsetSecond) {
        offsetSecond = now / 1000;
        offsetMs = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc() * qint64{1000};
    }
    return QTime::fromMSecsSinceStartOfDay(
        static_cast<int>(((now + offsetMs) % kDayMs + kDayMs) % kDayMs));
}

ReceiveLog::ReceiveLog(QObject* parent) : QObject(parent)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &ReceiveLog::Flush);
}

ReceiveLog::~ReceiveLog()
{
    // Nobody is left to tell about a failure now; what could be written has been.
    const QSignalBlocker quiet(this);
    Stop();
}

bool ReceiveLog::Start(const QString& path, QString* error)
{
    Stop();
    // Non-blocking, so a path naming a pipe that nobody reads cannot stall the window.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_fd.reset(fd);
    m_path = path;
    return true;
}

void ReceiveLog::Stop()
{
    if (!IsActive())
        return;
    Flush();
    Close();
}

void ReceiveLog::Write(QByteArrayView latin1)
{
    if (!IsActive() || latin1.isEmpty())
        return;
    AppendLatin1AsUtf8(m_pending, latin1);
    if (m_pending.size() >= kFlushBytes)
        Flush();
    else if (!m_flushTimer.isActive())
        m_flushTimer.start(kFlushMilliseconds);
}

void ReceiveLog::Flush()
{
    m_flushTimer.stop();
    if (!IsActive() || m_pending.isEmpty())
        return;
    qsizetype done = 0;
    while (done < m_pending.size()) {
        const ssize_t n = ::write(m_fd.get(), m_pending.constData() + done,
                                  static_cast<size_t>(m_pending.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int cause = n < 0 ? errno : ENOSPC;
            const QString path = m_path;
            Close();
            emit Failed(path, QString::fromLocal8Bit(std::strerror(cause)));
            return;
        }
        done += n;
    }
    m_pending.resize(0); // keeps its capacity for the next gathering
}

void ReceiveLog::Close()
{
    m_flushTimer.stop();
    m_pending.clear();
    m_fd.reset();
}
