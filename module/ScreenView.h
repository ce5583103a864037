#pragma once

#include <QWidget>

class ModuleEngine;

// Shows the module's screen, at 1:1 when there is room and scaled evenly when not, and hands
// mouse presses, drags and keys to the engine in screen pixels.
class ScreenView : public QWidget
{
    Q_OBJECT

public:
    explicit ScreenView(ModuleEngine& engine, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    // Where a widget point falls on the module's screen.
    QPoint ToScreen(QPointF widgetPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRectF ShownArea() const;

    ModuleEngine& m_engine;
};
