#include "module/ScreenView.h"

#include "module/ModuleEngine.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

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
    return {QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size};
}

QPoint ScreenView::ToScreen(QPointF widgetPoint) const
{
    const QRectF area = ShownArea();
    const double scale = area.width() / ModuleEngine::kWidth;
    return ((widgetPoint - area.topLeft()) / scale).toPoint();
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
