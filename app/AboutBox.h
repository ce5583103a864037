#pragma once

#include <QDialog>

// "About" for the console: the icon, the program's name and version line, and an OK button.
class CAboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* parent = nullptr);
};
