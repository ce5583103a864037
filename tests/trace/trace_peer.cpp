// The other process of the trace tests. It speaks the trace wire form with its own few lines of
// code rather than the library's reader, so a fault shared by writer and reader cannot hide.
//   trace_peer viewer <socket>   listens, prints "frame <hex of the payload>" per frame, acks
//   trace_peer silent <socket>   listens and accepts, but never reads nor acknowledges
//   trace_peer send <socket> <command>   sends one frame, exits 0 once it is acknowledged
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdio>
#include <memory>

namespace {

void Say(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

quint32 LengthAt(const QByteArray& bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

int Send(const QString& path, const QByteArray& command)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(5000))
        return 3;
    const quint32 length = static_cast<quint32>(command.size() + 1);
    QByteArray frame;
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>(length >> shift));
    socket.write(frame + command + '\0');
    socket.waitForBytesWritten(5000);
    return socket.waitForReadyRead(5000) && socket.read(1) == "\x06" ? 0 : 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == "send")
        return Send(args[2], args[3].toLatin1());
    if (args.size() != 3 || (args[1] != "viewer" && args[1] != "silent"))
        return 64;
    const bool acknowledges = args[1] == "viewer";

    QLocalServer server;
    QLocalServer::removeServer(args[2]);
    if (!server.listen(args[2]))
        return 4;
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            Say("connected");
            if (!acknowledges)
                continue;
            auto pending = std::make_shared<QByteArray>();
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, pending] {
                pending->append(socket->readAll());
                while (pending->size() >= 4 &&
                       pending->size() >= 4 + qsizetype(LengthAt(*pending))) {
                    const qsizetype length = LengthAt(*pending);
                    Say("frame " + pending->mid(4, length).toHex());
                    pending->remove(0, 4 + length);
                    socket->write("\x06", 1);
                }
            });
        }
    });
    Say("ready");
    return app.exec();
}
