#pragma once

// Driving a recorded session as a person does: the file dialog a "Record Script..." entry opens
// is answered, the module's screen gets mouse events, and a script is replayed by orvexa-run.
// Header only: the tests that use it link Qt Widgets, the test support library does not.

#include <QApplication>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

// The entry of any of the window's menus with that text.
inline QAction* MenuEntry(const QMenuBar& bar, const QString& text)
{
    for (QAction* menu : bar.actions())
        if (menu->menu())
            for (QAction* action : menu->menu()->actions())
                if (action->text() == text)
                    return action;
    return nullptr;
}

// Answers the one file dialog `owner` shows with `path`, replacing a file that is there.
inline bool AnswerFileDialog(QWidget& owner, const QString& path)
{
    QList<QFileDialog*> dialogs = owner.findChildren<QFileDialog*>();
    dialogs.removeIf([](const QFileDialog* dialog) { return !dialog->isVisible(); });
    if (dialogs.size() != 1)
        return false;
    QFileDialog* dialog = dialogs[0];
    dialog->selectFile(path);
    QTimer::singleShot(0, dialog, [dialog] {
        for (QMessageBox* box : dialog->findChildren<QMessageBox*>())
            if (box->isVisible())
                box->button(QMessageBox::Yes)->click();
    });
    return QMetaObject::invokeMethod(dialog, "accept");
}

inline void SendMouse(QWidget* target, QEvent::Type type, QPoint at)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

struct ReplayOutcome
{
    int exit = -1;
    QString out;
};

// Replays `script` with orvexa-run on its in-process virtual module, pictures under `dataHome`.
inline ReplayOutcome ReplayOnVirtualModule(const QString& runner, const QString& script,
                                       const QString& dataHome, QStringList options = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    process.setProcessEnvironment(environment);
    options << QStringLiteral("--virtual") << QStringLiteral("--speed") << QStringLiteral("230400")
            << script;
    process.start(runner, options);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}
