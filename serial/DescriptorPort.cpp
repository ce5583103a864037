#include "serial/DescriptorPort.h"

#include <QSocketNotifier>

void DescriptorPort::Watch(int fd)
{
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_read->setEnabled(false);
    connect(m_read, &QSocketNotifier::activated, this, &Port::Readable);
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_write->setEnabled(false);
    connect(m_write, &QSocketNotifier::activated, this, &Port::Writable);
}

void DescriptorPort::Unwatch()
{
    for (QSocketNotifier* notifier : {m_read, m_write}) {
        if (!notifier)
            continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_read = nullptr;
    m_write = nullptr;
}

void DescriptorPort::WatchRead(bool on)
{
    if (m_read)
        m_read->setEnabled(on);
}

void DescriptorPort::WatchWrite(bool on)
{
    if (m_write)
        m_write->setEnabled(on);
}
