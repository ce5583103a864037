#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <vector>

// The client side of a Telnet connection to a serial-port server (RFC 854 with RFC 2217's
// COM-PORT-OPTION), as a state machine without I/O: the caller feeds it what the socket read and
// sends what it hands back. Nothing here waits, so a caller that needs an answer from the server
// sends a request, waits for the matching event on a timer of its own, and goes on without it
// when none comes.

namespace telnet {

namespace option {
enum : quint8
{
    kBinary = 0,
    kEcho = 1,
    kSuppressGoAhead = 3,
    kComPort = 44,
};
} // namespace option

// The client's COM-PORT-OPTION commands; the server answers each with its code plus 100, which
// the events carry as the client's code, so a request and its answer match by this value.
enum class ComPortCommand : quint8
{
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
constexpr quint8 kServerCodeOffset = 100;

enum class Parity : quint8
{
    Ask = 0,
    None = 1,
    Odd = 2,
    Even = 3,
    Mark = 4,
    Space = 5,
};

enum class StopSize : quint8
{
    Ask = 0,
    One = 1,
    Two = 2,
    OneAndHalf = 3,
};

// SET-CONTROL values (a selection: flow control and the two output lines).
enum class Control : quint8
{
    AskFlowControl = 0,
    NoFlowControl = 1,
    XonXoffFlowControl = 2,
    HardwareFlowControl = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};

enum class Purge : quint8
{
    Receive = 1,
    Transmit = 2,
    Both = 3,
};

struct TelnetEvent
{
    enum class Kind : quint8
    {
        // A negotiation about `option` settled: on our side (`local`, we WILL) or the server's
        // (we DO), now `enabled` or not. A request the server refused comes as not enabled.
        Option,
        // A COM-PORT-OPTION message from the server: the answer to `command`, or a notification
        // (NotifyLineState, NotifyModemState, FlowControlSuspend/Resume). `value` holds the
        // number (four bytes for a baud rate, else one), `text` a signature.
        ComPort,
        // A COM-PORT-OPTION message of an unknown code or the wrong length, or a subnegotiation
        // cut short by a command inside it; `value` holds its code byte (0 when it had none).
        Malformed,
        // A subnegotiation of `option` outgrew kMaxSubnegotiation; the excess was dropped and the
        // subnegotiation is ignored when it ends. Reported once per subnegotiation.
        SubnegotiationTooLong,
    };

    Kind kind = Kind::Option;
    quint8 option = 0;
    bool local = false;
    bool enabled = false;
    ComPortCommand command = ComPortCommand::Signature;
    quint32 value = 0;
    QByteArray text;

    bool IsAnswerTo(ComPortCommand request) const
    {
        return kind == Kind::ComPort && command == request;
    }
    bool operator==(const TelnetEvent&) const = default;
};

// What one Feed() produced; each member is appended to, so one object can be cleared and reused.
struct TelnetOutput
{
    QByteArray data;                 // the serial data, byte-exact
    std::vector<TelnetEvent> events; // in stream order
    QByteArray reply;                // negotiation answers: send these to the server, in order

    void clear()
    {
        data.clear();
        events.clear();
        reply.clear();
    }
};

class TelnetCodec
{
public:
    // The longest subnegotiation kept; a signature is the longest that the client asks for.
    static constexpr qsizetype kMaxSubnegotiation = 256;

    // The opening requests: BINARY and SUPPRESS-GO-AHEAD both ways, COM-PORT-OPTION from our
    // side. Send once, right after connecting.
    QByteArray Start();

    // Decodes bytes from the server; they may be cut anywhere, state is kept between calls.
    // Whatever is not data is answered in `out.reply` or reported in `out.events`; every other
    // command (NOP, GA, AYT, DM, ...) is dropped. Over a stream, output is bounded by the input:
    // one event and 3 reply bytes per 3 bytes in at most, and no more data than came in.
    void Feed(QByteArrayView in, TelnetOutput& out);

    // Serial data for the server: 0xFF doubled; while BINARY is not on from our side, a CR goes
    // as CR NUL (RFC 854), which the server takes for a bare CR.
    QByteArray EncodeData(QByteArrayView data) const;

    // A no-operation command for a keep-alive timer: the server drops it and sends nothing back.
    static QByteArray KeepAlive();

    // RFC 2217 requests, IAC-escaped. A value of 0 (or Ask) asks for the current setting; the
    // server answers with the setting in force, which may differ from the one asked for.
    static QByteArray SetBaudRate(quint32 baud);
    static QByteArray SetDataSize(quint8 bits);
    static QByteArray SetParity(Parity parity);
    static QByteArray SetStopSize(StopSize size);
    static QByteArray SetControl(Control control);
    static QByteArray PurgeData(Purge what);
    static QByteArray SetLineStateMask(quint8 mask);
    static QByteArray SetModemStateMask(quint8 mask);
    static QByteArray RequestSignature();
    static QByteArray ComPortRequest(ComPortCommand command, QByteArrayView value);

    // Whether an option is on, from our side (`local`) or the server's.
    bool IsEnabled(quint8 option, bool local) const;
    // Data passes unaltered both ways (apart from 0xFF doubling).
    bool IsBinaryBothWays() const
    {
        return IsEnabled(option::kBinary, true) && IsEnabled(option::kBinary, false);
    }
    // The server took COM-PORT-OPTION, so it will answer the requests below.
    bool IsComPortOn() const { return IsEnabled(option::kComPort, true); }

private:
    // RFC 1143's states of one side of one option. This client never asks to turn an option
    // off, so the "want no" states and the queue are not needed: with the wishes fixed, every
    // message changes the state at most once and is answered at most once, so no exchange loops.
    enum class Side : quint8
    {
        No,
        Yes,
        WantYes,
    };
    struct OptionState
    {
        Side us = Side::No;
        Side him = Side::No;
        // An unwanted option is refused once per side; a server that asks again gets silence,
        // so one that answers refusals with requests cannot ping-pong with us.
        bool refusedUs = false;
        bool refusedHim = false;
    };
    enum class State : quint8
    {
        Data,
        Iac,
        Will,
        Wont,
        Do,
        Dont,
        SbOption,
        SbData,
        SbIac,
    };

    void Step(quint8 b, TelnetOutput& out);
    void Negotiate(State verb, quint8 opt, TelnetOutput& out);
    void AppendSubnegotiation(quint8 b, TelnetOutput& out);
    void EndSubnegotiation(TelnetOutput& out);
    void ComPortMessage(TelnetOutput& out);
    static bool Wanted(quint8 opt, bool local);

    std::array<OptionState, 256> m_options{};
    State m_state = State::Data;
    bool m_crPending = false; // a CR arrived outside binary mode: a NUL after it is dropped
    quint8 m_sbOption = 0;
    bool m_sbOverflow = false;
    QByteArray m_sb;
};

} // namespace telnet
