#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

// A touch control the module draws on its screen and reports on.
struct ModuleControl
{
    enum class Kind
    {
        Button,
        Edit,
        Checkbox,
        XSlider,
        YSlider,
        XProgress,
        YProgress,
    };
    Kind kind = Kind::Button;
    int id = 0;
    QRect rect; // normalised: "YSlider 5,450,90,425,200" gives its corners right to left
    QString text;
    long maximum = 0;
    long value = 0;
    bool checked = false;
    bool pressed = false;
    std::optional<QColor> mark; // a check box's own colour
    QColor foreground;
    std::optional<QColor> background; // none: transparent
    QFont font;

    bool IsSlider() const { return kind == Kind::XSlider || kind == Kind::YSlider; }
    // The slider value a touch at `p` selects, in 0..maximum.
    long ValueAt(QPoint p) const;
    void Paint(QPainter& painter, QColor screenBackground) const;
};

// The controls on screen, newest on top. A new control with an id already in use replaces the
// old one, as pressing "Slider" twice creates the same two controls again.
class ControlSet
{
public:
    ModuleControl& Put(ModuleControl control);
    ModuleControl* Find(int id);
    // The topmost control that takes touches (button, check box, slider) at `p`.
    ModuleControl* TouchableAt(QPoint p);
    void Clear() { m_controls.clear(); }
    const std::vector<ModuleControl>& All() const { return m_controls; }

private:
    std::vector<ModuleControl> m_controls;
};
