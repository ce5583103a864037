#pragma once

#include <QList>
#include <QSet>
#include <QString>

class QWidget;

// A rectangle as the console's layout rules speak of it: right and bottom are exclusive, and a
// point is inside when left <= x < right and top <= y < bottom.
struct WinRect
{
    int left = -1;
    int top = -1;
    int right = -1;
    int bottom = -1;

    bool Contains(int x, int y) const { return left <= x && x < right && top <= y && y < bottom; }
    friend bool operator==(const WinRect&, const WinRect&) = default;
};

class CWindowUtil
{
public:
    // The text a control shows, whole: a button's caption, an edit's contents, a list's current
    // entry.
    static QString GetWindowText(const QWidget* wnd);
    // The same without the blanks at both ends.
    static QString GetWindowTextTrimmed(const QWidget* wnd);

    // Direct child controls of `parent`, in creation order; none for a null parent. Windows it
    // owns (dialogs, message boxes) are not controls and are left out.
    static QList<QWidget*> ListChildWindows(const QWidget* parent);

    // The widget's frame in its parent's coordinates; (-1,-1,-1,-1) when it has no parent.
    static WinRect GetRectInParent(const QWidget* wnd);

    // Enables or disables every direct child of `parent` whose top-left and bottom-right corners
    // both lie inside `rect`; children whose "ctrlId" is in `skipIds` are left alone.
    static void EnableChildrenInRect(QWidget* parent, bool enable, const WinRect& rect,
                                     const QSet<int>& skipIds = {});
};
