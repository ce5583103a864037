#pragma once

#include <QByteArray>

#include "support/RandomSource.h"

#include <vector>

// The demonstration runs, as the texts they hand to the port one send at a time. They are
// composed before anything is sent, so a demo's draws do not interleave with the piece sizes of
// its sends.

// "Clear;MoveTo 0,0;", then 10000 "line a,b,c,d;" with each value in 0..299, then
// "BoxFill 300,300,400,400;".
std::vector<QByteArray> Demo1Sends(RandomSource& rng);

// A colour walk: "Clear;Button 1,20,20,200,150,'cap';", then 501 batches that draw a dot, step
// the colour, grow the font from 1 to 501 and print a fixed Korean text in code page 949.
std::vector<QByteArray> Demo2Sends(RandomSource& rng);

// The slide show opens with this send, then shows pictures 1..kDemo3Pictures.
QByteArray Demo3Opening();
inline constexpr int kDemo3Pictures = 14;
// The three sends of picture `picture`: the image, a Korean font, its number.
std::vector<QByteArray> Demo3PictureSends(int picture);
