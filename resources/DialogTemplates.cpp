#include "resources/ControlIds.h"
#include "resources/DialogTemplate.h"

#include <array>

using enum ItemKind;

namespace {

// The console, top to bottom: the port row; four drawing rows with the two options; the control
// and media rows; the style rows; the demo row; the transmit box with "Send" under it; the
// receive box; the last row. Everything from "Line" down to the receive box forms the band that
// is enabled only while the port is open, so nothing outside it may sit between those rows.
constexpr std::array kConsoleItems{
    DialogItem{ids::kPortList, DropDownList, "", {7, 7, 40, 100}},
    DialogItem{ids::kSpeedList, DropDownList, "", {50, 7, 40, 100}},
    DialogItem{ids::kOpen, PushButton, "Open", {93, 7, 30, 14}},
    DialogItem{ids::kClose, PushButton, "Close", {126, 7, 30, 14}},
    DialogItem{ids::kRefreshPorts, PushButton, "Refresh Ports", {159, 7, 65, 14}},
    DialogItem{ids::kStatic, HorizontalRule, "", {7, 25, 217, 1}},

    DialogItem{ids::kLine, PushButton, "Line", {7, 30, 52, 14}},
    DialogItem{ids::kPSet, PushButton, "PSet", {62, 30, 52, 14}},
    DialogItem{ids::kBox, PushButton, "Box", {117, 30, 52, 14}},
    DialogItem{ids::kBoxFill, PushButton, "BoxFill", {172, 30, 52, 14}},
    DialogItem{ids::kRoundBox, PushButton, "RoundBox", {7, 46, 52, 14}},
    DialogItem{ids::kRoundBoxFill, PushButton, "RoundBoxFill", {62, 46, 52, 14}},
    DialogItem{ids::kCircle, PushButton, "Circle", {117, 46, 52, 14}},
    DialogItem{ids::kCircleFill, PushButton, "CircleFill", {172, 46, 52, 14}},
    DialogItem{ids::kArc, PushButton, "Arc", {7, 62, 52, 14}},
    DialogItem{ids::kBezier, PushButton, "Bezier", {62, 62, 52, 14}},
    DialogItem{ids::kPrint, PushButton, "Print", {117, 62, 36, 14}},
    DialogItem{ids::kPrintText, LineEdit, "", {156, 62, 68, 14}},
    DialogItem{ids::kRandomColor, CheckBox, "Random Color", {7, 79, 62, 11}},
    DialogItem{ids::kRandomTextPos, CheckBox, "Random TextPos && Text Color", {72, 79, 152, 11}},

    DialogItem{ids::kButtonCtrl, PushButton, "Button", {7, 95, 41, 14}},
    DialogItem{ids::kEditCtrl, PushButton, "Edit", {51, 95, 41, 14}},
    DialogItem{ids::kCheckboxCtrl, PushButton, "Checkbox", {95, 95, 41, 14}},
    DialogItem{ids::kSliderCtrl, PushButton, "Slider", {139, 95, 41, 14}},
    DialogItem{ids::kProgressCtrl, PushButton, "Progress", {183, 95, 41, 14}},
    DialogItem{ids::kShowCursor, PushButton, "ShowCursor", {7, 111, 52, 14}},
    DialogItem{ids::kHideCursor, PushButton, "HideCursor", {62, 111, 52, 14}},
    DialogItem{ids::kDrawImage, PushButton, "DrawImage", {117, 111, 52, 14}},
    DialogItem{ids::kSound, PushButton, "Sound", {172, 111, 52, 14}},

    DialogItem{ids::kDotSize, PushButton, "DotSize ..", {7, 129, 37, 14}},
    DialogItem{ids::kColor, PushButton, "Color ..", {47, 129, 31, 14}},
    DialogItem{ids::kTextPosTopLeft, PushButton, "TextPos (TopLeft) ..", {81, 129, 78, 14}},
    DialogItem{ids::kTextPosRect, PushButton, "TextPos (Rect) ..", {162, 129, 62, 14}},
    DialogItem{ids::kCtrlFont, PushButton, "CtrlFont ..", {7, 145, 52, 14}},
    DialogItem{ids::kCtrlColor, PushButton, "CtrlColor ..", {62, 145, 52, 14}},
    DialogItem{ids::kTextFont, PushButton, "TextFont ..", {117, 145, 52, 14}},
    DialogItem{ids::kTextColor, PushButton, "TextColor ..", {172, 145, 52, 14}},

    DialogItem{ids::kDemo1, PushButton, "Demo 1", {7, 163, 41, 14}},
    DialogItem{ids::kDemo2, PushButton, "Demo 2", {51, 163, 41, 14}},
    DialogItem{ids::kDemo3, PushButton, "Demo 3", {95, 163, 41, 14}},
    DialogItem{ids::kDemoOff, PushButton, "Demo Off", {139, 163, 41, 14}},
    DialogItem{ids::kClear, PushButton, "Clear", {183, 163, 41, 14}},

    DialogItem{ids::kStatic, Label, "TX", {7, 180, 20, 10}},
    DialogItem{ids::kTransmit, MultiLineEdit, "", {7, 190, 217, 52}},
    DialogItem{ids::kSend, PushButton, "Send", {172, 245, 52, 14}},
    DialogItem{ids::kStatic, Label, "RX", {7, 253, 20, 10}},
    DialogItem{ids::kReceive, ReceiveView, "", {7, 263, 217, 150}},

    DialogItem{ids::kStatic, Label, "TALDERN Technology", {7, 419, 120, 10}},
    DialogItem{ids::kTouchCalibration, PushButton, "Touch Calibration", {7, 434, 66, 14}},
    DialogItem{ids::kSetClock, PushButton, "SetClock", {76, 434, 46, 14}},
    DialogItem{ids::kUnicodeGenerator, PushButton, "Unicode Generator", {125, 434, 56, 14}, true},
    DialogItem{ids::kExit, PushButton, "Exit", {184, 434, 40, 14}},
};

constexpr DialogTemplate kConsole{ids::kConsoleDialog, "OrvexaControlBox", "굴림", 9,
                                  {231, 455},          kConsoleItems};

constexpr std::array kAboutItems{
    DialogItem{ids::kStatic, Label, "OrvexaControlBox 버전 1.0", {40, 10, 119, 10}},
    DialogItem{ids::kStatic, Icon, "", {11, 17, 20, 20}},
    DialogItem{ids::kAboutOk, PushButton, "확인", {178, 7, 50, 14}},
};

constexpr DialogTemplate kAbout{ids::kAboutBox, "OrvexaControlBox 정보", "굴림", 9, {235, 55},
                                kAboutItems};

// The Unicode generator, top to bottom in the order of use: the text, how the codes are
// separated, whether they come as a whole statement, the font the text is shown in, the result
// and its copy button.
constexpr std::array kUnicodeGenItems{
    DialogItem{ids::kStatic, Label, "Text", {7, 7, 100, 8}},
    DialogItem{ids::kUniText, MultiLineEdit, "", {7, 17, 246, 56}},
    DialogItem{ids::kStatic, Label, "Separator", {7, 79, 40, 8}},
    DialogItem{ids::kUniSpace, RadioButton, "Space", {50, 78, 40, 10}},
    DialogItem{ids::kUniNoSpace, RadioButton, "No Space", {92, 78, 46, 10}},
    DialogItem{ids::kUniComma, RadioButton, "Comma", {140, 78, 40, 10}},
    DialogItem{ids::kUniHyphen, RadioButton, "Hyphen", {182, 78, 40, 10}},
    DialogItem{ids::kUniWholeCommand, CheckBox, "Whole Command", {7, 92, 80, 10}},
    DialogItem{ids::kStatic, Label, "Font", {7, 108, 30, 8}},
    DialogItem{ids::kUniFontList, DropDownList, "", {40, 106, 213, 120}},
    DialogItem{ids::kStatic, Label, "Output", {7, 124, 60, 8}},
    DialogItem{ids::kUniOutput, ReadOnlyText, "", {7, 134, 246, 48}},
    DialogItem{ids::kUniCopy, PushButton, "Copy to Clipboard", {173, 187, 80, 14}},
};

constexpr DialogTemplate kUnicodeGen{
    ids::kUnicodeGenDialog, "Unicode Generator for 'Print' command", "굴림", 9, {260, 208},
    kUnicodeGenItems};

// Neither button is the default, so Enter in the edit sends nothing by accident.
constexpr std::array kCommandItems{
    DialogItem{ids::kCommandEdit, LineEdit, "", {7, 7, 169, 14}},
    DialogItem{ids::kCommandOk, PushButton, "OK", {72, 25, 50, 14}},
    DialogItem{ids::kCommandCancel, PushButton, "Cancel", {126, 25, 50, 14}},
};

constexpr DialogTemplate kCommand{ids::kCommandDialog, "OrvexaLCD Command", "Tahoma", 9,
                                  {183, 46},           kCommandItems};

} // namespace

const DialogTemplate& CommandTemplate()
{
    return kCommand;
}

const DialogTemplate& ConsoleTemplate()
{
    return kConsole;
}

const DialogTemplate& AboutTemplate()
{
    return kAbout;
}

const DialogTemplate& UnicodeGenTemplate()
{
    return kUnicodeGen;
}

QString LoadString(int id)
{
    switch (id) {
    case ids::kStrAboutEntry:
        return QStringLiteral("OrvexaControlBox 정보(&A)...");
    default:
        return {};
    }
}
