#pragma once

#include <QByteArrayView>

#include <cstdint>

class ReceiveView;

class CControlUtil
{
public:
    // Appends text at the end of the view in colorRef (0x00BBGGRR, red in the low byte, as the
    // console keeps its colours), bold or not; the view follows the end unless the user has
    // scrolled up. No view, nothing happens.
    static void AppendColoredText(ReceiveView* view, QByteArrayView text, std::uint32_t colorRef,
                                  bool bold);
};
