#pragma once

#include <QRect>
#include <QScrollBar>
#include <QStyle>

#include <optional>

// A scroll bar that repaints only when what it shows changes. Text streaming in moves the range
// every frame, yet once the slider has shrunk to its least length at the bottom nothing of it
// looks different; repainting it at display rate cost as much as a third of the view's paint.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // Sets all at once, so the passing state between the calls (a new range with the old value)
    // does not count as a change.
    void Set(int maximum, int pageStep, int value);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look
    {
        QRect slider;
        bool atMinimum;
        bool atMaximum;
        QStyle::State state;
        QStyle::SubControls active;
        bool operator==(const Look&) const = default;
    };

    Look Shown() const;
    bool Changed() const { return !m_painted || Shown() != *m_painted; }

    std::optional<Look> m_painted;
    bool m_settling = false;
};
