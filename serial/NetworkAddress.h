#pragma once

#include <QString>

#include <optional>

// A serial port reached across the network, as a serial server exports it: "socket://HOST:PORT"
// for a raw TCP accepter, "rfc2217://HOST:PORT" for a Telnet one that takes serial settings
// (RFC 2217). HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct NetworkAddress
{
    enum class Kind
    {
        Raw,
        Rfc2217
    };

    Kind kind = Kind::Raw;
    QString host;
    quint16 port = 0;

    // "HOST:PORT", with brackets around an IPv6 host: how messages name the far end.
    QString Endpoint() const;
};

// True when `text` starts with one of the two schemes, so that it is meant as an address (and a
// malformed one deserves its own error rather than "no such port").
bool HasNetworkScheme(const QString& text);

// Empty when the scheme is neither of the two, the host is missing, or the port is not a number
// from 1 to 65535. Nothing may follow the port: options in a query would be silently ignored.
std::optional<NetworkAddress> ParseNetworkAddress(const QString& text);
