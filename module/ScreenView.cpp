#include "module/ScreenView.h"

#include "module/ModuleEngine.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

ScreenView::ScreenView(ModuleEngine& engine, QWidget* parent) : QWidget(parent), m_engine(engine)
{
    setAccessibleName(QStringLiteral("Screen"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(ModuleEngine::kWidth / 4, ModuleEngine::kHeight / 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize ScreenView::sizeHint() const
{
    return {ModuleEngine::kWidth, ModuleEngine::kHeight};
}

QRectF ScreenView::ShownArea() const
{
    // Never enlarged: pixels stay pixels when the window is bigger than the screen.
    const double scale = std::min(
        {1.0, double(width()) / ModuleEngine::kWidth, double(height()) / ModuleEngine::kHeight});
    const QSizeF size(ModuleEngine::kWidth * scale, ModuleEngine::kHeight * scale);
    // Placed on whole pixels: with an odd spare size a half-pixel offset blurs the 1:1 picture
    // and shifts every touch by one row or column.
    return {QPointF(std::floor((width() - size.width()) / 2),
                    std::floor((height() - size.height()) / 2)),
            size};
}

QPoint ScreenView::ToScreen(QPointF widgetPoint) const
{
    const QRectF area = ShownArea();
    const double scale = area.width() / ModuleEngine::kWidth;
    // A screen pixel is the whole square from its corner on, so a point inside it floors to it;
    // rounding would move the lower half of every pixel onto the next one.
    const QPointF p = (widgetPoint - area.topLeft()) / scale;
    return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

void ScreenView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().dark());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(ShownArea(), m_engine.Screen());
}

void ScreenView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_engine.Press(ToScreen(event->position()));
}

void ScreenView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        m_engine.Move(ToScreen(event->position()));
}

void ScreenView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_engine.Release(ToScreen(event->position()));
}

void ScreenView::keyPressEvent(QKeyEvent* event)
{
    // The module's keyboard reports single bytes; keys that type no Latin-1 character send
    // nothing.
    const QString text = event->text();
    if (text.size() == 1 && text[0].unicode() < 256)
        m_engine.KeyPress(static_cast<std::uint8_t>(text[0].unicode()));
    else
        QWidget::keyPressEvent(event);
}
