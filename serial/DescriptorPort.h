#pragma once

#include "serial/Port.h"

class QSocketNotifier;

// A line read and written through one POSIX descriptor, watched by socket notifiers.
class DescriptorPort : public Port
{
    Q_OBJECT

public:
    using Port::Port;

    bool IsAttached() const override { return m_read != nullptr; }
    void WatchRead(bool on) override;
    void WatchWrite(bool on) override;

protected:
    // From now on `fd` is the line; both directions start unwatched.
    void Watch(int fd);
    // Stops watching before the descriptor closes. The notifiers go later, not now: this may run
    // inside one of their own signals.
    void Unwatch();

private:
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
};
