#include "app/ConsoleSizing.h"

#include "support/FileUtil.h"
#include "support/Paths.h"
#include "support/WindowSize.h"

#include <QEvent>
#include <QWidget>

namespace {

const QString kSection = QStringLiteral("gen");
// Resizing by hand sends a stream of sizes; the last one is written once the stream has paused.
constexpr int kSaveDelayMs = 500;

} // namespace

ConsoleSizing::ConsoleSizing(QWidget* window, QWidget* transmit, QWidget* receive)
    : QObject(window), m_window(window), m_templateSize(window->size()),
      m_transmit(transmit->geometry()), m_receive(receive->geometry())
{
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow())
            m_controls.push_back({child, child->geometry()});

    // The template size is the least the controls fit in; it is also the size of a first start.
    window->setMinimumSize(m_templateSize);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_savedSize = m_templateSize;
    // Not empty: the reader writes a missing key back when its default is empty.
    const auto kept = ParseSizeSetting(CFileUtil::ReadSetting(
        GetSettingsFilePath(), QString::fromLatin1(kSettingKey), kSection, QStringLiteral("0,0")));
    if (kept) {
        m_savedSize = kept->expandedTo(m_templateSize);
        window->resize(m_savedSize);
    }

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &ConsoleSizing::Save);
    window->installEventFilter(this);
    Layout();
}

ConsoleSizing::~ConsoleSizing()
{
    if (m_saveTimer.isActive())
        Save();
}

bool ConsoleSizing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Resize) {
        Layout();
        if (m_window->size() != m_savedSize)
            m_saveTimer.start();
    }
    return QObject::eventFilter(watched, event);
}

void ConsoleSizing::Layout()
{
    const QSize extra = (m_window->size() - m_templateSize).expandedTo(QSize(0, 0));
    for (const Placed& control : m_controls)
        if (control.widget)
            control.widget->setGeometry(GrownPlace(control.place, m_transmit, m_receive, extra));
}

void ConsoleSizing::Save()
{
    m_saveTimer.stop();
    // A maximised window keeps the size it had before, for when it is restored.
    if (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QSize size = m_window->size();
    // A failed write is not reported: the next start opens at the size it can read.
    if (CFileUtil::WriteSetting(GetSettingsFilePath(), QString::fromLatin1(kSettingKey),
                                SizeSettingText(size), kSection))
        m_savedSize = size;
}
