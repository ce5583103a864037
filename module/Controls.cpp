#include "module/Controls.h"

#include <QPainter>

#include <algorithm>

long ModuleControl::ValueAt(QPoint p) const
{
    if (maximum <= 0)
        return 0;
    // Vertical sliders grow upwards, like a level.
    const bool across = kind == Kind::XSlider;
    const long span = std::max(1, across ? rect.width() - 1 : rect.height() - 1);
    const long offset = across ? p.x() - rect.left() : rect.bottom() - p.y();
    return std::clamp(offset * maximum / span, 0L, maximum);
}

void ModuleControl::Paint(QPainter& painter, QColor screenBackground) const
{
    painter.save();
    painter.fillRect(rect, background.value_or(screenBackground));
    painter.setFont(font);
    const QColor pen = foreground;
    const QRect inner = rect.adjusted(0, 0, -1, -1);
    switch (kind) {
    case Kind::Button:
        if (pressed)
            painter.fillRect(rect, background.value_or(screenBackground).darker(140));
        painter.setPen(pen);
        painter.drawRect(inner);
        painter.drawText(rect, Qt::AlignCenter, text);
        break;
    case Kind::Edit:
        painter.setPen(pen);
        painter.drawRect(inner);
        painter.drawText(rect.adjusted(3, 2, -3, -2),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        break;
    case Kind::Checkbox: {
        const int side = std::min(rect.height(), 16);
        const QRect box(rect.left(), rect.center().y() - side / 2, side, side);
        painter.setPen(pen);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        if (checked)
            painter.fillRect(box.adjusted(3, 3, -3, -3), mark.value_or(pen));
        painter.drawText(rect.adjusted(side + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        break;
    }
    case Kind::XSlider:
    case Kind::YSlider: {
        const bool across = kind == Kind::XSlider;
        painter.setPen(pen);
        if (across)
            painter.drawLine(rect.left(), rect.center().y(), rect.right(), rect.center().y());
        else
            painter.drawLine(rect.center().x(), rect.top(), rect.center().x(), rect.bottom());
        const double share = maximum > 0 ? double(value) / double(maximum) : 0.0;
        const int knob = 8;
        QRect thumb =
            across ? QRect(rect.left() + int(share * (rect.width() - 1)) - knob / 2, rect.top(),
                           knob, rect.height())
                   : QRect(rect.left(), rect.bottom() - int(share * (rect.height() - 1)) - knob / 2,
                           rect.width(), knob);
        painter.fillRect(thumb.intersected(rect), pen);
        break;
    }
    case Kind::XProgress:
    case Kind::YProgress: {
        const double share =
            maximum > 0 ? std::clamp(double(value) / double(maximum), 0.0, 1.0) : 0.0;
        QRect done = rect;
        if (kind == Kind::XProgress)
            done.setWidth(int(share * rect.width()));
        else
            done.setTop(rect.bottom() + 1 - int(share * rect.height()));
        painter.fillRect(done, pen);
        painter.setPen(pen);
        painter.drawRect(inner);
        break;
    }
    }
    painter.restore();
}

ModuleControl& ControlSet::Put(ModuleControl control)
{
    std::erase_if(m_controls, [&](const ModuleControl& c) { return c.id == control.id; });
    m_controls.push_back(std::move(control));
    return m_controls.back();
}

ModuleControl* ControlSet::Find(int id)
{
    auto it = std::find_if(m_controls.begin(), m_controls.end(),
                           [id](const ModuleControl& c) { return c.id == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

ModuleControl* ControlSet::TouchableAt(QPoint p)
{
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
        const bool touchable = it->kind == ModuleControl::Kind::Button ||
                               it->kind == ModuleControl::Kind::Checkbox || it->IsSlider();
        if (touchable && it->rect.contains(p))
            return &*it;
    }
    return nullptr;
}
