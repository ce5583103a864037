#include "serial/NetworkAddress.h"

namespace {

const QString kRawScheme = QStringLiteral("socket://");
const QString kRfc2217Scheme = QStringLiteral("rfc2217://");

} // namespace

QString NetworkAddress::Endpoint() const
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return shownHost + u':' + QString::number(port);
}

bool HasNetworkScheme(const QString& text)
{
    return text.startsWith(kRawScheme, Qt::CaseInsensitive) ||
           text.startsWith(kRfc2217Scheme, Qt::CaseInsensitive);
}

std::optional<NetworkAddress> ParseNetworkAddress(const QString& text)
{
    NetworkAddress address;
    QStringView rest;
    if (text.startsWith(kRawScheme, Qt::CaseInsensitive)) {
        rest = QStringView(text).sliced(kRawScheme.size());
    } else if (text.startsWith(kRfc2217Scheme, Qt::CaseInsensitive)) {
        address.kind = NetworkAddress::Kind::Rfc2217;
        rest = QStringView(text).sliced(kRfc2217Scheme.size());
    } else {
        return std::nullopt;
    }

    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || close + 1 >= rest.size() || rest[close + 1] != u':')
            return std::nullopt;
        address.host = rest.sliced(1, close - 1).toString();
        portText = rest.sliced(close + 2);
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return std::nullopt;
        address.host = rest.first(colon).toString();
        // An IPv6 address without brackets cannot be told from its port.
        if (address.host.contains(u':'))
            return std::nullopt;
        portText = rest.sliced(colon + 1);
    }
    if (address.host.isEmpty() || address.host.contains(u'/') || address.host.contains(u' '))
        return std::nullopt;
    if (portText.isEmpty() || portText.size() > 5)
        return std::nullopt;
    for (const QChar c : portText) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int port = portText.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    address.port = quint16(port);
    return address;
}
