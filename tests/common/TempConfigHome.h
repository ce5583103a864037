#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points XDG_CONFIG_HOME at a fresh temporary folder for its lifetime and restores the old value
// (or its absence) afterwards. Create it before anything reads the config folder. The port
// folder lives there too, and so that it holds only what a test puts in it, the console looks for
// the machine's serial devices under systemPath() instead of /sys and /dev: empty unless the test
// builds a device tree there. No test ever opens a device it did not create.
class TempConfigHome
{
public:
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString systemPath() const { return m_dir.filePath(QStringLiteral("system")); }

private:
    QTemporaryDir m_dir;
    bool m_hadOld = false;
    QByteArray m_old;
};
