#pragma once

#include <QByteArray>
#include <QString>

class QPlainTextEdit;
class QWidget;
class ReceiveView;

// What the console tells the user, shared by the window and the objects that act for it.

// A warning over the console that does not block: the event loop, and so the port, keeps running
// while it is up. A text already shown in a message still up is not shown again.
void ShowError(QWidget* console, const QString& text);

// A failure to save the settings or the recording at close: always to standard error, as a
// console ended by a signal or by the session going away has no one to click a message; with
// `askUser`, also in a message that blocks until it is read, before the window goes.
void ReportSaveFailure(QWidget* console, const QString& text, bool askUser);

// Text the user typed as the line's code page; characters it cannot hold go as "?", and a
// message over the console names them first, once for the text.
QByteArray ToLineText(QWidget* console, const QString& text);

// Shows a statement in the transmit box as the module's code page reads it.
void Echo(QPlainTextEdit* transmit, const QByteArray& statement);

// Says in the receive view that queued output was dropped, how much and why.
void NoteNotSent(ReceiveView* receive, qint64 bytes, const char* why);
// Shows in the receive view, in the colour of the notes above, what the port has to say that does
// not stop it (a request a serial server never answered).
void NotePort(ReceiveView* receive, const QString& text);
