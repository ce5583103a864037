#pragma once

#include "support/UniqueFd.h"

#include <QObject>

#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

// Turns the given process signals into a Qt signal delivered by the event loop, so the program
// can end the way a user would end it (the handler itself only writes one byte to a socket pair;
// nothing else is safe inside it). One watcher per process: a second one replaces the first.
// When the watcher goes, the signals get their default action back.
class SignalWatch : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatch(std::initializer_list<int> watched, QObject* parent = nullptr);
    ~SignalWatch() override;

    // False when the socket pair could not be made; the signals then keep their default action.
    bool IsWatching() const { return m_notifier != nullptr; }

signals:
    void Received(int signal);

private:
    void OnReadable();

    UniqueFd m_read;
    UniqueFd m_write;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<int> m_watched;
};
