#pragma once

#include "support/StoredText.h"

#include <QString>
#include <QStringList>

// What the console window shows of its saved settings, and what it hands back at close.
struct ConsoleOptions
{
    // The port number as saved or as the port list names it: 0 or less for none.
    int port = -1;
    // Into the speed table; out of range means no speed selected.
    int speedIndex = 5;
    bool randomColor = true;
    bool randomTextPos = true;
    QString printText = QStringLiteral("Taldern Technology");
    bool timeStamps = false;

    bool operator==(const ConsoleOptions&) const = default;
};

// The console's settings file and its transmit-box file: read once when the window starts,
// written once when it closes. Beyond the values themselves it keeps what a save must not lose:
// a saved port whose device is absent this session, and saved texts the window could not show
// whole, which are written back only when the user changed them.
class ConsoleSettings
{
public:
    // The console's own files, under the config folder as it is named now: a close saves where
    // the start read.
    ConsoleSettings();
    ConsoleSettings(QString settingsFile, QString textFile);

    // Reads both files; a missing value, or a file that cannot be read, gives the default, and a
    // number is read as DecimalValue reads it. The transmit text is read only when
    // `maxTransmitCharacters` could hold it.
    ConsoleOptions Load(qsizetype maxTransmitCharacters);

    // What Load could not read, for the user: a line per file naming it and the cause; empty when
    // all went well.
    QString ReadProblems() const;
    // The transmit-box file as Load found it.
    const LoadedText& SavedText() const { return m_savedText; }

    // The window tells what its box made of the loaded text (a box may change line ends):
    // the text counts as shown whole only when the box shows it unchanged.
    void SetTransmitShown(const QString& shown);
    // Whether the saved port is in the port list. An absent one is written back as it was, until
    // ForgetSavedPort(): an adapter unplugged for one session keeps its number.
    void SetSavedPortListed(bool listed);
    void ForgetSavedPort() { m_keptPort = 0; }

    // Writes the options as one replace of the settings file under the lock between processes,
    // so a crash at any moment leaves it whole, old or new; then the transmit text to its own
    // file. What was not shown whole is left as stored unless it was changed. Returns what could
    // not be saved, for the user: a line per file naming it and the cause; empty on success.
    QString Save(const ConsoleOptions& options, const QString& transmitText) const;

    QString SettingsFile() const { return m_settingsFile; }
    QString TextFile() const { return m_textFile; }

private:
    QString m_settingsFile;
    QString m_textFile;
    QStringList m_readProblems;
    LoadedText m_savedText;
    int m_loadedPort = 0;
    int m_keptPort = 0;
    QString m_transmitLoaded;
    bool m_transmitExact = true;
    QString m_printTextLoaded;
    bool m_printTextExact = true;
};
