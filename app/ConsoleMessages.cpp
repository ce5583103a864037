#include "app/ConsoleMessages.h"

#include "support/CodePage.h"
#include "support/ui/ControlUtil.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringList>

#include <algorithm>
#include <cstdio>

void ShowError(QWidget* console, const QString& text)
{
    // A device lost in the middle of a send is reported twice, by the failed write and by the
    // control's own loss event; the user is told once.
    for (const QMessageBox* shown : console->findChildren<QMessageBox*>())
        if (shown->isVisible() && shown->text() == text)
            return;
    // Window-modal but not blocking: the event loop, and so the port, keeps running while the
    // message is up.
    auto* box = new QMessageBox(QMessageBox::Warning, console->windowTitle(), text, QMessageBox::Ok,
                                console);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void ReportSaveFailure(QWidget* console, const QString& text, bool askUser)
{
    std::fprintf(stderr, "orvexa-testbox: %s\n", qPrintable(text));
    if (!askUser)
        return;
    // Blocking, before the window goes: afterwards there is nothing left to tell the user with.
    // A signal arriving meanwhile closes it (see CConsoleDlg::CloseForSignal).
    QMessageBox box(QMessageBox::Warning, console->windowTitle(), text, QMessageBox::Ok, console);
    box.exec();
}

QByteArray ToLineText(QWidget* console, const QString& text)
{
    const QList<char32_t> lacking = CharactersCp949Lacks(text);
    if (!lacking.isEmpty()) {
        constexpr qsizetype kMostNamed = 12;
        QStringList named;
        for (const char32_t c : lacking.first(std::min(lacking.size(), kMostNamed)))
            named << QStringLiteral("%1 (U+%2)")
                         .arg(QString::fromUcs4(&c, 1),
                              QString::number(c, 16).toUpper().rightJustified(4, u'0'));
        if (lacking.size() > kMostNamed)
            named << QStringLiteral("%1 more").arg(lacking.size() - kMostNamed);
        ShowError(console,
                  QStringLiteral("The module's code page (949) has no %1: each is sent as \"?\".")
                      .arg(named.join(QStringLiteral(", "))));
    }
    return ToCp949(text);
}

void Echo(QPlainTextEdit* transmit, const QByteArray& statement)
{
    transmit->setPlainText(FromCp949(statement));
}

void NoteNotSent(ReceiveView* receive, qint64 bytes, const char* why)
{
    CControlUtil::AppendColoredText(
        receive,
        QStringLiteral("\r\n[%1 bytes of queued output were not sent: %2]\r\n")
            .arg(bytes)
            .arg(QLatin1String(why))
            .toLatin1(),
        0x0000C0, true);
}

void NotePort(ReceiveView* receive, const QString& text)
{
    CControlUtil::AppendColoredText(
        receive, (QStringLiteral("\r\n[") + text + QStringLiteral("]\r\n")).toLatin1(), 0x0000C0,
        true);
}
