#include "telnet/TelnetCodec.h"

#include <cstring>

namespace telnet {

namespace {

constexpr quint8 kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                 kNop = 241, kSe = 240;

void AppendCommand(QByteArray& to, quint8 verb, quint8 opt)
{
    const char bytes[] = {char(kIac), char(verb), char(opt)};
    to.append(bytes, sizeof bytes);
}

void AppendEscaped(QByteArray& to, QByteArrayView bytes)
{
    for (const char c : bytes) {
        to.append(c);
        if (quint8(c) == kIac)
            to.append(c);
    }
}

QByteArray BigEndian(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

} // namespace

bool TelnetCodec::Wanted(quint8 opt, bool local)
{
    switch (opt) {
    case option::kBinary:
    case option::kSuppressGoAhead:
        return true;
    case option::kComPort:
        // RFC 2217: the client offers the option, the server agrees with DO.
        return local;
    default:
        return false;
    }
}

QByteArray TelnetCodec::Start()
{
    QByteArray requests;
    for (const quint8 opt : {option::kBinary, option::kSuppressGoAhead, option::kComPort}) {
        for (const bool local : {true, false}) {
            OptionState& s = m_options[opt];
            Side& side = local ? s.us : s.him;
            if (!Wanted(opt, local) || side != Side::No)
                continue;
            side = Side::WantYes;
            AppendCommand(requests, local ? kWill : kDo, opt);
        }
    }
    return requests;
}

bool TelnetCodec::IsEnabled(quint8 opt, bool local) const
{
    const OptionState& s = m_options[opt];
    return (local ? s.us : s.him) == Side::Yes;
}

void TelnetCodec::Feed(QByteArrayView in, TelnetOutput& out)
{
    const char* p = in.data();
    const char* const end = p + in.size();
    while (p < end) {
        // Runs of plain data go in one piece; only a CR outside binary mode needs a look at the
        // byte after it.
        if (m_state == State::Data && !m_crPending && IsEnabled(option::kBinary, false)) {
            const void* iac = std::memchr(p, kIac, size_t(end - p));
            const char* runEnd = iac ? static_cast<const char*>(iac) : end;
            out.data.append(p, runEnd - p);
            p = runEnd;
            if (p == end)
                break;
        }
        Step(quint8(*p++), out);
    }
}

void TelnetCodec::Step(quint8 b, TelnetOutput& out)
{
    switch (m_state) {
    case State::Data:
        if (b == kIac) {
            m_state = State::Iac;
            return;
        }
        if (m_crPending) {
            m_crPending = false;
            if (b == 0)
                return;
        }
        out.data.append(char(b));
        m_crPending = b == '\r' && !IsEnabled(option::kBinary, false);
        return;
    case State::Iac:
        m_state = State::Data;
        switch (b) {
        case kIac:
            out.data.append(char(b));
            m_crPending = false;
            return;
        case kWill:
            m_state = State::Will;
            return;
        case kWont:
            m_state = State::Wont;
            return;
        case kDo:
            m_state = State::Do;
            return;
        case kDont:
            m_state = State::Dont;
            return;
        case kSb:
            m_state = State::SbOption;
            return;
        default:
            // NOP, GA, AYT, DM, BRK, IP, AO, EC, EL and a stray SE mean nothing to a serial line.
            return;
        }
    case State::Will:
    case State::Wont:
    case State::Do:
    case State::Dont:
        Negotiate(m_state, b, out);
        m_state = State::Data;
        return;
    case State::SbOption:
        m_sbOption = b;
        m_sb.clear();
        m_sbOverflow = false;
        m_state = State::SbData;
        return;
    case State::SbData:
        if (b == kIac) {
            m_state = State::SbIac;
            return;
        }
        AppendSubnegotiation(b, out);
        return;
    case State::SbIac:
        if (b == kIac) {
            AppendSubnegotiation(b, out);
            m_state = State::SbData;
            return;
        }
        if (b == kSe) {
            EndSubnegotiation(out);
            m_state = State::Data;
            return;
        }
        // A command inside a subnegotiation: the server lost track of its end. The
        // subnegotiation is given up and the command taken, so the stream goes on in step.
        if (!m_sbOverflow) {
            TelnetEvent e;
            e.kind = TelnetEvent::Kind::Malformed;
            e.option = m_sbOption;
            e.value = m_sb.isEmpty() ? 0 : quint8(m_sb[0]);
            out.events.push_back(std::move(e));
        }
        m_sb.clear();
        m_state = State::Iac;
        Step(b, out);
        return;
    }
}

void TelnetCodec::AppendSubnegotiation(quint8 b, TelnetOutput& out)
{
    if (m_sb.size() < kMaxSubnegotiation) {
        m_sb.append(char(b));
        return;
    }
    if (m_sbOverflow)
        return;
    m_sbOverflow = true;
    TelnetEvent e;
    e.kind = TelnetEvent::Kind::SubnegotiationTooLong;
    e.option = m_sbOption;
    out.events.push_back(std::move(e));
}

void TelnetCodec::Negotiate(State verb, quint8 opt, TelnetOutput& out)
{
    // DO and DONT are about what we send, WILL and WONT about what the server sends.
    const bool local = verb == State::Do || verb == State::Dont;
    const bool on = verb == State::Will || verb == State::Do;
    OptionState& s = m_options[opt];
    Side& side = local ? s.us : s.him;
    const quint8 agree = local ? kWill : kDo;
    const quint8 refuse = local ? kWont : kDont;

    const auto settled = [&](bool enabled) {
        TelnetEvent e;
        e.kind = TelnetEvent::Kind::Option;
        e.option = opt;
        e.local = local;
        e.enabled = enabled;
        out.events.push_back(std::move(e));
    };

    if (on) {
        switch (side) {
        case Side::Yes:
            return; // a repeat, or the server's echo of our own agreement
        case Side::WantYes:
            side = Side::Yes;
            settled(true);
            return;
        case Side::No:
            if (Wanted(opt, local)) {
                side = Side::Yes;
                AppendCommand(out.reply, agree, opt);
                settled(true);
                return;
            }
            bool& refused = local ? s.refusedUs : s.refusedHim;
            if (!refused) {
                refused = true;
                AppendCommand(out.reply, refuse, opt);
            }
            return;
        }
    }
    switch (side) {
    case Side::No:
        return;
    case Side::Yes:
        side = Side::No;
        AppendCommand(out.reply, refuse, opt);
        settled(false);
        return;
    case Side::WantYes:
        side = Side::No; // refused; the refusal needs no answer
        settled(false);
        return;
    }
}

void TelnetCodec::EndSubnegotiation(TelnetOutput& out)
{
    if (m_sbOverflow || m_sbOption != option::kComPort)
        return;
    ComPortMessage(out);
}

void TelnetCodec::ComPortMessage(TelnetOutput& out)
{
    TelnetEvent e;
    e.option = option::kComPort;
    const quint8 code = m_sb.isEmpty() ? 0 : quint8(m_sb[0]);
    const QByteArrayView value = QByteArrayView(m_sb).sliced(m_sb.isEmpty() ? 0 : 1);
    const auto malformed = [&] {
        e.kind = TelnetEvent::Kind::Malformed;
        e.value = code;
        out.events.push_back(std::move(e));
    };
    if (code < kServerCodeOffset || code > kServerCodeOffset + quint8(ComPortCommand::PurgeData))
        return malformed();

    e.kind = TelnetEvent::Kind::ComPort;
    e.command = ComPortCommand(code - kServerCodeOffset);
    switch (e.command) {
    case ComPortCommand::Signature:
        e.text = value.toByteArray();
        break;
    case ComPortCommand::SetBaudRate:
        if (value.size() != 4)
            return malformed();
        for (const char c : value)
            e.value = (e.value << 8) | quint8(c);
        break;
    case ComPortCommand::FlowControlSuspend:
    case ComPortCommand::FlowControlResume:
        if (!value.isEmpty())
            return malformed();
        break;
    default:
        if (value.size() != 1)
            return malformed();
        e.value = quint8(value[0]);
        break;
    }
    out.events.push_back(std::move(e));
}

QByteArray TelnetCodec::EncodeData(QByteArrayView data) const
{
    const bool binary = IsEnabled(option::kBinary, true);
    QByteArray encoded;
    encoded.reserve(data.size() + data.size() / 16 + 2);
    for (const char c : data) {
        encoded.append(c);
        if (quint8(c) == kIac)
            encoded.append(c);
        else if (c == '\r' && !binary)
            encoded.append('\0');
    }
    return encoded;
}

QByteArray TelnetCodec::KeepAlive()
{
    const char bytes[] = {char(kIac), char(kNop)};
    return QByteArray(bytes, sizeof bytes);
}

QByteArray TelnetCodec::ComPortRequest(ComPortCommand command, QByteArrayView value)
{
    QByteArray request;
    request.reserve(6 + 2 * value.size());
    const char head[] = {char(kIac), char(kSb), char(option::kComPort), char(command)};
    request.append(head, sizeof head);
    AppendEscaped(request, value);
    request.append(char(kIac));
    request.append(char(kSe));
    return request;
}

QByteArray TelnetCodec::SetBaudRate(quint32 baud)
{
    return ComPortRequest(ComPortCommand::SetBaudRate, BigEndian(baud));
}

namespace {
QByteArray OneByte(quint8 value)
{
    return QByteArray(1, char(value));
}
} // namespace

QByteArray TelnetCodec::SetDataSize(quint8 bits)
{
    return ComPortRequest(ComPortCommand::SetDataSize, OneByte(bits));
}

QByteArray TelnetCodec::SetParity(Parity parity)
{
    return ComPortRequest(ComPortCommand::SetParity, OneByte(quint8(parity)));
}

QByteArray TelnetCodec::SetStopSize(StopSize size)
{
    return ComPortRequest(ComPortCommand::SetStopSize, OneByte(quint8(size)));
}

QByteArray TelnetCodec::SetControl(Control control)
{
    return ComPortRequest(ComPortCommand::SetControl, OneByte(quint8(control)));
}

QByteArray TelnetCodec::PurgeData(Purge what)
{
    return ComPortRequest(ComPortCommand::PurgeData, OneByte(quint8(what)));
}

QByteArray TelnetCodec::SetLineStateMask(quint8 mask)
{
    return ComPortRequest(ComPortCommand::SetLineStateMask, OneByte(mask));
}

QByteArray TelnetCodec::SetModemStateMask(quint8 mask)
{
    return ComPortRequest(ComPortCommand::SetModemStateMask, OneByte(mask));
}

QByteArray TelnetCodec::RequestSignature()
{
    return ComPortRequest(ComPortCommand::Signature, {});
}

} // namespace telnet
