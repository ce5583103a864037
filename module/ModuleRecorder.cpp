#include "module/ModuleRecorder.h"

#include "module/ModuleEngine.h"

#include <QDir>
#include <QFileInfo>

ModuleRecorder::ModuleRecorder(ModuleEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine)
{}

ModuleRecorder::~ModuleRecorder()
{
    Drop();
}

bool ModuleRecorder::Start(const QString& path, const QStringList& comments, QString* error)
{
    Drop();
    if (!m_file.Open(path, error))
        return false;
    for (const QString& comment : comments)
        m_file.Append(script_line::Comment(comment));
    if (!m_file.Error().isEmpty()) {
        if (error)
            *error = m_file.Error();
        m_file.Discard();
        return false;
    }
    m_recording =
        std::make_unique<ModuleRecording>([this](QByteArrayView line) { m_file.Append(line); });
    m_clock.start();
    connect(&m_engine, &ModuleEngine::Receiving, this, [this](QByteArrayView bytes) {
        m_recording->Received(bytes, Now());
        CheckWrites();
    });
    connect(&m_engine, &ModuleEngine::Acting, this, [this](const ModuleAction& action) {
        m_recording->Acted(action, Now());
        CheckWrites();
    });
    connect(&m_engine, &ModuleEngine::ReportReady, this, [this](const QByteArray& report) {
        m_recording->Reported(report, Now());
        CheckWrites();
    });
    return true;
}

bool ModuleRecorder::Stop(QString* error)
{
    if (!m_recording)
        return true;
    disconnect(&m_engine, nullptr, this, nullptr);
    m_recording->Finish();
    m_recording.reset();
    return m_file.Finish(error);
}

void ModuleRecorder::ScreenSaved(const QString& picture)
{
    if (!m_recording)
        return;
    const QString absolute = QFileInfo(picture).absoluteFilePath();
    const QString relative = QFileInfo(m_file.Path()).absoluteDir().relativeFilePath(absolute);
    // A relative name keeps working when the script and its pictures move together.
    m_recording->ScreenSaved(relative.startsWith(QLatin1String("../")) ? absolute : relative,
                             Now());
    CheckWrites();
}

void ModuleRecorder::Drop()
{
    disconnect(&m_engine, nullptr, this, nullptr);
    m_recording.reset();
    m_file.Discard();
}

void ModuleRecorder::CheckWrites()
{
    if (m_file.Error().isEmpty())
        return;
    const QString error = m_file.Error();
    Drop();
    emit Failed(error);
}
