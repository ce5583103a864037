#include "app/CommandTable.h"

#include "commands/Controls.h"
#include "commands/Session.h"
#include "resources/ControlIds.h"

namespace {

// Short names, so each row stays on a line or two.
using C = CommandContext&;
using S = ComposedStatement;

const CommandRow kRows[] = {
    {ids::kLine, [](C c) -> S { return ComposeLine(c.rng); }, EchoRule::Drawing},
    {ids::kPSet, [](C c) -> S { return c.psetGrid.Next(); }, EchoRule::Drawing},
    {ids::kBox, [](C c) -> S { return ComposeBox(c.rng); }, EchoRule::Drawing},
    {ids::kBoxFill, [](C c) -> S { return ComposeBoxFill(c.rng); }, EchoRule::Drawing},
    {ids::kRoundBox, [](C c) -> S { return ComposeRoundBox(c.rng); }, EchoRule::Drawing},
    {ids::kRoundBoxFill, [](C c) -> S { return ComposeRoundBoxFill(c.rng); }, EchoRule::Drawing},
    {ids::kCircle, [](C c) -> S { return ComposeCircle(c.rng); }, EchoRule::Drawing},
    {ids::kCircleFill, [](C c) -> S { return ComposeCircleFill(c.rng); }, EchoRule::Drawing},
    {ids::kArc, [](C c) -> S { return ComposeArc(c.rng); }, EchoRule::Drawing},
    {ids::kBezier, [](C c) -> S { return ComposeBezier(c.rng); }, EchoRule::Drawing},
    {ids::kPrint, [](C c) -> S { return ComposePrint(c.rng, c.printText(), c.randomTextPos); },
     EchoRule::Drawing},

    {ids::kButtonCtrl, [](C c) -> S { return ComposeButtonCtrl(c.rng); }, EchoRule::AsIs},
    {ids::kEditCtrl, [](C) -> S { return ComposeEditCtrl(); }, EchoRule::AsIs},
    {ids::kCheckboxCtrl, [](C c) -> S { return ComposeCheckboxCtrl(c.rng); }, EchoRule::AsIs},
    {ids::kSliderCtrl, [](C) -> S { return ComposeSliderCtrl(); }, EchoRule::AsIs},
    {ids::kProgressCtrl, [](C) -> S { return ComposeProgressCtrl(); }, EchoRule::AsIs},
    {ids::kShowCursor, [](C) -> S { return ComposeShowCursor(); }, EchoRule::AsIs},
    {ids::kHideCursor, [](C) -> S { return ComposeHideCursor(); }, EchoRule::AsIs},
    {ids::kDrawImage, [](C c) -> S { return ComposeDrawImage(c.rng); }, EchoRule::AsIs},
    {ids::kSound, [](C) -> S { return ComposeSound(); }, EchoRule::AsIs},

    {ids::kDotSize, [](C c) -> S { return ComposeDotSize(c.rng, c.ctrlHeld); }, EchoRule::Proposed},
    {ids::kColor, [](C c) -> S { return ComposeColorProposal(c.rng); }, EchoRule::Proposed},
    {ids::kTextPosTopLeft, [](C c) -> S { return ComposeTextPosTopLeft(c.rng); },
     EchoRule::Proposed},
    {ids::kTextPosRect, [](C c) -> S { return ComposeTextPosRect(c.rng); }, EchoRule::Proposed},
    {ids::kCtrlFont, [](C c) -> S { return ComposeFont(c.rng, c.fonts, "CtrlFont "); },
     EchoRule::Proposed},
    {ids::kCtrlColor, [](C c) -> S { return ComposeStyleColor(c.rng, "CtrlColor "); },
     EchoRule::Proposed},
    {ids::kTextFont, [](C c) -> S { return ComposeFont(c.rng, c.fonts, "Textfont "); },
     EchoRule::Proposed},
    {ids::kTextColor, [](C c) -> S { return ComposeStyleColor(c.rng, "TextColor "); },
     EchoRule::Proposed},

    {ids::kClear, [](C) -> S { return ComposeClear(); }, EchoRule::AsIs},
    {ids::kTouchCalibration, [](C) -> S { return ComposeCalibrate(); }, EchoRule::Asked,
     "A Sharp pen ready ?"},
    {ids::kSetClock, [](C c) -> S { return ComposeSetClock(c.now); }, EchoRule::AsIs},
};

} // namespace

std::span<const CommandRow> CommandRows()
{
    return kRows;
}
