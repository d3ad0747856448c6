#include "tests/support/free_port.h"

#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <QUdpSocket>

uint16_t FreePort::tcp(const char *address)
{
    QTcpServer probe;
    probe.listen(QHostAddress(QString::fromLatin1(address)), 0);
    return probe.serverPort();
}

uint16_t FreePort::udp()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    return probe.localPort();
}
