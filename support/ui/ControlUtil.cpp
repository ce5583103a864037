#include "support/ui/ControlUtil.h"

#include "support/ui/ReceiveView.h"

#include <QColor>

void CControlUtil::AppendColoredText(ReceiveView* view, QByteArrayView text, std::uint32_t colorRef,
                                     bool bold)
{
    if (!view)
        return;
    view->AppendRgb(text, qRgb(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF),
                    bold);
}
