#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <fstream>
#include <string>

namespace varnel::test {

// A port on 127.0.0.1 that nothing listens on at the moment.
inline quint16 FreeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Debian's ser2net serving `device` at 300 7E1 over RFC 2217 on 127.0.0.1, from a yaml file it writes at
// `yaml`; killed with the object.
struct Ser2net {
    static QString Program() { return QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/usr/bin"}); }

    Ser2net(const std::string& device, const std::string& yaml) : port(FreeTcpPort())
    {
        std::ofstream(yaml) << "connection: &meter\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                            << "\n  connector: serialdev," << device << ",300e71,local\n";
        // -u: no UUCP lock files, which only root may write.
        process.start(Program(), {"-n", "-d", "-u", "-c", QString::fromStdString(yaml)});
        // Up once the port is taken: a probe connection would open the device.
        for (int i = 0;
             i < 200 && process.waitForStarted() && QTcpServer().listen(QHostAddress::LocalHost, port); ++i)
            QThread::msleep(50);
    }
    ~Ser2net()
    {
        process.kill();
        process.waitForFinished();
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }

    quint16 port;
    QProcess process;
};

} // namespace varnel::test
