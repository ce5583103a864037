#pragma once

#include <QByteArrayView>
#include <QMessageBox>
#include <QString>

class CTraceWnd;
class QWidget;

// Developer tracing is on only on machines that hold the developer marker file. The file is
// looked at once per run; creating or deleting it later changes nothing until the next start.

// The marker file this build looks for.
QString DefaultMarkerFilePath();

bool IsTraceEnabled();

// Forget the answer and look at `markerPath` on the next IsTraceEnabled(), so a test can decide
// whether the marker is there without touching the machine's root folder.
void ResetTraceMarker(const QString& markerPath);

// Sends one trace line to the trace window: "xta1t:" + text when `timestamped`, else "xta1:" +
// text. The text ends at its first NUL, as the window receives it NUL-terminated. Returns once the
// window has handled it, or at once when tracing is off or the window is gone.
void TraceText(QByteArrayView text, bool timestamped);

// Finds the trace window once per run: a window running in another process gets every line of
// this run; without one, this process opens its own and takes other processes' lines too.
void EnsureTraceWindow();

// Hands `command` to the trace window found or created, if it is still there. A window in another
// process has kAcknowledgeLimitMs to confirm each command; one that does not is taken as gone for
// the rest of the run, so a stuck viewer costs the caller one wait, not one per line.
void SendTraceCommand(QByteArrayView command);
constexpr int kAcknowledgeLimitMs = 500;

// A message box for the trace facility. An empty caption becomes the application name published
// under "wapp_name_<load address>", or stays empty. `owner` null means the active window.
void TraceMessageBox(const QString& text, const QString& caption,
                     QMessageBox::StandardButtons buttons, QWidget* owner);

// The trace window this process opened, or null (none opened, or closed since).
CTraceWnd* InProcessTraceWindow();

// Forgets the window lookup and closes a window this process opened, so a test can run the
// once-per-run lookup again. Does not touch the marker state (see ResetTraceMarker).
void ResetTraceWindow();
