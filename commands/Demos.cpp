#include "commands/Demos.h"

#include "commands/Format.h"
#include "commands/StatementParts.h"
#include "support/CodePage.h"

using compose::Decimal;
using compose::DecimalList;
using compose::DrawBelow;

namespace {

constexpr int kDemo1Lines = 10000;
constexpr int kDemo2Batches = 501;

// Moves one colour component by its step. A step that would leave 0..255, or a 1 in 100 chance
// while inside, turns the step round and the component goes back to where it was.
void StepComponent(RandomSource& rng, int& value, int& step)
{
    value += step;
    if (value < 0 || value > 255 || DrawBelow(rng, 100) == 1) {
        step = -step;
        value += step;
    }
}

} // namespace

std::vector<QByteArray> Demo1Sends(RandomSource& rng)
{
    std::vector<QByteArray> sends;
    sends.reserve(kDemo1Lines + 2);
    sends.emplace_back("Clear;MoveTo 0,0;");
    for (int i = 0; i < kDemo1Lines; ++i) {
        const int a = DrawBelow(rng, 300);
        const int b = DrawBelow(rng, 300);
        const int c = DrawBelow(rng, 300);
        const int d = DrawBelow(rng, 300);
        sends.push_back("line " + DecimalList({a, b, c, d}) + ';');
    }
    sends.emplace_back("BoxFill 300,300,400,400;");
    return sends;
}

std::vector<QByteArray> Demo2Sends(RandomSource& rng)
{
    int p = DrawBelow(rng, 256);
    int q = DrawBelow(rng, 256);
    int r = DrawBelow(rng, 256);
    int dp = 2, dq = 2, dr = 2;
    const QByteArray printText = "Print '" + ToCp949(QStringLiteral("탈던테크놀로지")) + "';";
    auto colour = [&] { return FormatInt(r << 16 | q << 8 | p, 16, 6); };

    std::vector<QByteArray> sends;
    sends.reserve(kDemo2Batches + 1);
    sends.emplace_back("Clear;Button 1,20,20,200,150,'cap';");
    for (int size = 1; size <= kDemo2Batches; ++size) {
        QByteArray text = "Color &H" + colour() + ";Circle 2,-2,-2,2;";
        StepComponent(rng, p, dp);
        StepComponent(rng, q, dq);
        StepComponent(rng, r, dr);
        text += "TextColor &H" + colour() + ",&HFFFFFF;";
        text += "TextFont " + Decimal(size) + ",'Courier New',0,0,0;TextPos 165,90;";
        text += printText;
        sends.push_back(std::move(text));
    }
    return sends;
}

QByteArray Demo3Opening()
{
    return "Clear;dump 1;";
}

std::vector<QByteArray> Demo3PictureSends(int picture)
{
    const QByteArray number = Decimal(picture);
    return {"drawimage '" + number + ".bmp';",
            "textfont 30,'" + ToCp949(QStringLiteral("HY견고딕")) + "';",
            "print '" + number + "',10,10;"};
}
