#pragma once

#include <QImage>
#include <QPoint>
#include <QtGlobal>

#include <cstdint>

// What a script's virtual-only steps do to a module that runs in this process: touch its screen,
// press its keys, send its hand-sent reports, read its screen. The runner reaches such a module
// only through this, so a program that runs scripts on real modules alone (the console) carries
// no module of its own; VirtualModule is the one that does.
class VirtualSteps
{
public:
    virtual ~VirtualSteps() = default;

    // Bytes the module has taken from the line so far: a step waits until it has taken all that
    // was sent before it.
    virtual qint64 BytesTaken() const = 0;
    // How long the module waits before it runs each statement and sends each report.
    virtual int AnswerDelayMs() const { return 0; }
    // Touches on the screen, in screen pixels.
    virtual void Press(QPoint p) = 0;
    virtual void Move(QPoint p) = 0;
    virtual void Release(QPoint p) = 0;
    virtual void KeyPress(std::uint8_t key) = 0;
    // One hand-sent report, as the module's Events menu sends it; the date and time come from the
    // module's clock.
    virtual void SendEvent(std::uint8_t code, bool state) = 0;
    virtual void SendDate() = 0;
    virtual void SendTime() = 0;
    virtual const QImage& Screen() const = 0;
};
