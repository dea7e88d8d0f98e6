// camctl <socket> <command...>
// Sends one command line to a camera plug-in's control socket and prints the
// reply. Exit status 0 when the reply is "ok ...". A plug-in listens on
// "vmm-camera-replay" (or "vmm-camera-simulated") in the working folder of
// its program unless its configuration names another socket. Examples, from
// the working folder:
//   camctl ./vmm-camera-replay '*' scene empty
//   camctl ./vmm-camera-replay REPLAY-0001 defect spot,flash
//   camctl ./vmm-camera-replay REPLAY-0001 look 0.5 0.4
//   camctl ./vmm-camera-replay REPLAY-0001 fault loss 20
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: camctl <socket> <command...>\n");
        return 2;
    }
    // A path (it has a '/') is taken from the current folder; a plain name is
    // looked up where Qt keeps local sockets.
    const QString name = args[0].contains(QLatin1Char('/')) ? QFileInfo(args[0]).absoluteFilePath() : args[0];
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(3000)) {
        std::fprintf(stderr, "camctl: %s: %s\n", qPrintable(args[0]), qPrintable(socket.errorString()));
        return 1;
    }
    socket.write(args.mid(1).join(QLatin1Char(' ')).toUtf8() + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(5000)) {
            std::fprintf(stderr, "camctl: no reply\n");
            return 1;
        }
    }
    const QByteArray reply = socket.readLine().trimmed();
    std::printf("%s\n", reply.constData());
    return reply.startsWith("ok") ? 0 : 1;
}
