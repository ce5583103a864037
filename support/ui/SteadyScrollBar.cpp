#include "support/ui/SteadyScrollBar.h"

#include <QPaintEvent>
#include <QStyleOptionSlider>

void SteadyScrollBar::Set(int maximum, int pageStep, int value)
{
    m_settling = true;
    setRange(0, maximum);
    setPageStep(pageStep);
    setSingleStep(1);
    setValue(value);
    m_settling = false;
    if (Changed())
        update();
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    if (!m_settling && (change == SliderOrientationChange || Changed()))
        QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event)
{
    // Only a whole paint tells what the bar shows; a partial one leaves that unknown.
    if (event->rect().contains(rect()))
        m_painted = Shown();
    else
        m_painted.reset();
    QScrollBar::paintEvent(event);
}

SteadyScrollBar::Look SteadyScrollBar::Shown() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return Look{
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum(), option.state, option.activeSubControls};
}
