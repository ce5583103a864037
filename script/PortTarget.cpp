#include "script/PortTarget.h"

#include "serial/CMSComm.h"

#include <QStringList>

QString PortTarget::Label() const
{
    return comPort > 0 ? QStringLiteral("COM%1").arg(comPort) : path;
}

std::optional<PortTarget> ParsePortTarget(const QString& text, QString* error)
{
    const auto refuse = [&](const QString& why) -> std::optional<PortTarget> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    PortTarget target;
    const qsizetype scheme = text.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        static const QStringList kSchemes{QStringLiteral("socket"), QStringLiteral("rfc2217")};
        if (!kSchemes.contains(text.left(scheme)))
            return refuse(QStringLiteral("\"%1\" is no address the serial control reaches: "
                                         "socket://HOST:PORT or rfc2217://HOST:PORT")
                              .arg(text));
        if (text.size() == scheme + 3)
            return refuse(QStringLiteral("\"%1\" names no host and port").arg(text));
        target.path = text;
        return target;
    }
    if (text.contains(u'/')) {
        target.path = text;
        return target;
    }
    // No slash: it can only be a number of the port folder. A bare file name is refused rather
    // than read as a device here, which would be a file of the current folder.
    QString number = text;
    if (number.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        number = number.mid(3);
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n < 1 || n > 255)
        return refuse(QStringLiteral("\"%1\" is neither COM1 to COM255 nor a device path (one with "
                                     "a '/') nor an address")
                          .arg(text));
    target.comPort = static_cast<short>(n);
    return target;
}

QString OpenPortTarget(CMSComm& comm, const PortTarget& target, const QString& settings)
{
    try {
        if (target.comPort > 0)
            comm.SetCommPort(target.comPort);
        else
            comm.SetDevicePath(target.path);
        comm.SetSettings(settings);
        comm.SetRThreshold(1);
        comm.SetInputMode(1);
        comm.SetPortOpen(true);
    } catch (const CommError& error) {
        return QString::fromStdString(error.what());
    }
    return {};
}
