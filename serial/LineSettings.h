#pragma once

#include <QString>

#include <optional>

// A settings text such as "38400,n,8,1": speed, parity, data bits, stop bits.
struct LineSettings
{
    enum class Parity
    {
        None,
        Even,
        Odd,
        Mark,
        Space
    };
    enum class StopBits
    {
        One,
        OneAndHalf,
        Two
    };

    int speed = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
};

// Empty when the text is malformed: not four fields, a speed that is not a positive decimal
// integer, parity other than n/e/o/m/s, data bits outside 5..8, stop bits other than 1, 1.5, 2.
// Blanks around a field are allowed; letters may be either case.
std::optional<LineSettings> ParseLineSettings(const QString& text);
