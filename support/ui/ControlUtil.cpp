#include "support/ui/ControlUtil.h"

#include "support/ui/ReceiveView.h"

#include <QColor>

void CControlUtil::AppendColoredText(ReceiveView* view, QByteArrayView text, std::uint32_t colorRef,
                                     bool bold)
{
    if (!view)
        return;
    const QColor colour(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                        static_cast<int>((colorRef >> 16) & 0xFF));
    view->Append(text, colour, bold);
}
