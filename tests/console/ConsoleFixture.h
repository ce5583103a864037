#pragma once

#include "app/ConsoleDlg.h"
#include "resources/ControlIds.h"
#include "support/RandomSource.h"
#include "tests/common/FileBytes.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"
#include "trace/TraceClient.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>

#include "serial/PortFolder.h"

#include <QDir>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>
#include <vector>

// A seeded source that counts its draws. A send draws once per piece, so the draws a send made
// tell how many pieces the serial control was handed.
class CountingRandom final : public RandomSource
{
public:
    int Draw() override
    {
        ++m_drawn;
        return m_source.Draw();
    }
    qint64 Drawn() const { return m_drawn; }

private:
    SeededRandom m_source{20261208};
    qint64 m_drawn = 0;
};

// A console started the way the application starts it, under a temporary config folder, with
// the developer marker looked for in that folder (absent unless a test creates it).
struct ConsoleFixture
{
    TempConfigHome home;
    CountingRandom rng;
    std::unique_ptr<CConsoleDlg> console;

    ~ConsoleFixture() { console.reset(); }

    QString MarkerPath() const { return home.path() + QStringLiteral("/marker"); }

    QString AppFolder() const { return home.path() + QStringLiteral("/OrvexaLCD TestBox"); }
    QString SettingsFile() const { return AppFolder() + QStringLiteral("/setting.ini"); }
    QString SavedTextFile() const { return AppFolder() + QStringLiteral("/hcode.txt"); }

    CConsoleDlg& Start()
    {
        ResetTraceMarker(MarkerPath());
        console = std::make_unique<CConsoleDlg>(rng);
        console->show();
        return *console;
    }

    // Publishes `module` as COM<n>, starts the console, opens that port and takes the statement
    // every open sends first.
    bool StartOpen(PseudoTerminal& module, int n)
    {
        if (!module.PublishAs(n))
            return false;
        Start();
        SelectPort(n);
        Click(ids::kOpen);
        return module.ReadExactly(20, 3000) == "MakeTestEnvironment;";
    }

    // Closes the console as the user would ("Exit"), so its settings are written.
    void Close()
    {
        console->close();
        console.reset();
    }

    template <typename T> T* Get(int id) const { return qobject_cast<T*>(console->Item(id)); }
    QComboBox* PortList() const { return Get<QComboBox>(ids::kPortList); }
    QComboBox* SpeedList() const { return Get<QComboBox>(ids::kSpeedList); }
    QPlainTextEdit* Transmit() const { return Get<QPlainTextEdit>(ids::kTransmit); }
    QLineEdit* PrintText() const { return Get<QLineEdit>(ids::kPrintText); }
    QCheckBox* Check(int id) const { return Get<QCheckBox>(id); }

    void Click(int id) const { Get<QAbstractButton>(id)->click(); }

    void SelectPort(int n) const
    {
        PortList()->setCurrentIndex(PortList()->findText(QStringLiteral("COM%1").arg(n)));
    }

    QStringList PortEntries() const
    {
        QStringList entries;
        for (int i = 0; i < PortList()->count(); ++i)
            entries.append(PortList()->itemText(i));
        return entries;
    }

    QList<QMessageBox*> MessageBoxes() const
    {
        QList<QMessageBox*> boxes;
        for (QMessageBox* box : console->findChildren<QMessageBox*>())
            if (box->isVisible())
                boxes.append(box);
        return boxes;
    }

    void DismissMessageBoxes() const
    {
        for (QMessageBox* box : MessageBoxes())
            box->done(QMessageBox::Ok);
        QCoreApplication::processEvents();
    }
};
