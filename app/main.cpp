#include "app/ConsoleApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrvexaLCD TestBox"));
    CConsoleApp console;
    console.InitInstance();
    return 0;
}
