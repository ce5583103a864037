#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <vector>

class QWidget;

// Makes the console resizable above its template size, lays its controls out as the window grows
// and keeps the size in the settings under "window_size", read when made and written once the
// user has stopped resizing for a moment.
class ConsoleSizing : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kSettingKey = "window_size";

    ConsoleSizing(QWidget* window, QWidget* transmit, QWidget* receive);
    ~ConsoleSizing() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placed
    {
        QPointer<QWidget> widget;
        QRect place;
    };

    void Layout();
    void Save();

    QWidget* m_window;
    QSize m_templateSize;
    QRect m_transmit;
    QRect m_receive;
    std::vector<Placed> m_controls;
    QSize m_savedSize;
    QTimer m_saveTimer;
};
