#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <optional>
#include <vector>

class QWidget;

// Where a control of the console goes when the window is `extra` larger than its template:
// the transmit box takes a quarter of the extra height and the receive view the rest, both take
// the extra width, and every other control keeps its size and its distance to the top of the
// window or of the box above it. All rectangles are the template's, in pixels.
QRect GrownPlace(const QRect& place, const QRect& transmit, const QRect& receive, QSize extra);

// The window size as kept in the settings: "width,height" in pixels.
QString SizeSettingText(QSize size);
std::optional<QSize> ParseSizeSetting(const QString& text);

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
