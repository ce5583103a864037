#pragma once

#include <QByteArray>

#include "support/RandomSource.h"

// The style buttons propose a statement in the command dialog with the values selected, so the
// user can overtype them before anything is sent.
struct StyleProposal
{
    QByteArray text;
    int selStart; // first selected character
    int selEnd;   // one past the last selected character
};

// "Dotsize n;" with n in 1..40; with ctrlHeld the proposal is 8, but the draw is made anyway.
StyleProposal ComposeDotSize(RandomSource& rng, bool ctrlHeld);
// "Color &HRRGGBB;" with the six digits selected.
StyleProposal ComposeColorProposal(RandomSource& rng);
// "TextPos x,y;" with y drawn first (0..239), then x (0..399).
StyleProposal ComposeTextPosTopLeft(RandomSource& rng);
// "TextPos x1,y1,x2,y2;": the top-left corner in the upper-left 200 x 120 of the screen, the
// bottom-right one in its lower-right quarter.
StyleProposal ComposeTextPosRect(RandomSource& rng);

// CtrlFont and TextFont take turns on one font: the first press of either proposes Courier New,
// the next Tahoma, and so on across both buttons for the whole run.
class FontAlternation
{
public:
    // The font, quoted, for the next press.
    QByteArray Next();

private:
    int m_presses = 0;
};

// keyword is "CtrlFont " or "Textfont ": keyword size,'font',a[,c,b];
StyleProposal ComposeFont(RandomSource& rng, FontAlternation& fonts, const QByteArray& keyword);
// keyword is "TextColor " or "CtrlColor ": keyword &HRRGGBB[,&HRRGGBB or $transparent];
StyleProposal ComposeStyleColor(RandomSource& rng, const QByteArray& keyword);
