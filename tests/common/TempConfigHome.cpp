#include "tests/common/TempConfigHome.h"

#include "serial/PortFolder.h"

namespace {
constexpr char kVariable[] = "XDG_CONFIG_HOME";
}

TempConfigHome::TempConfigHome()
    : m_hadOld(qEnvironmentVariableIsSet(kVariable)), m_old(qgetenv(kVariable))
{
    if (m_dir.isValid())
        qputenv(kVariable, QFile::encodeName(m_dir.path()));
    SetSystemDeviceRoots({systemPath() + QStringLiteral("/sys/class/tty"),
                          systemPath() + QStringLiteral("/dev"),
                          systemPath() + QStringLiteral("/dev/serial/by-id")});
}

TempConfigHome::~TempConfigHome()
{
    if (m_hadOld)
        qputenv(kVariable, m_old);
    else
        qunsetenv(kVariable);
    SetSystemDeviceRoots({});
}
