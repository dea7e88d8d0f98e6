#include "posix_qextserialport.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

Posix_QextSerialPort::Posix_QextSerialPort(const QString& name, QueryMode)
    : name_(name)
{
}

Posix_QextSerialPort::~Posix_QextSerialPort()
{
    close();
}

bool Posix_QextSerialPort::open(QIODevice::OpenMode mode)
{
    close();
    int flags = O_NOCTTY | O_NONBLOCK;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags |= O_RDWR;
    else if (mode & QIODevice::WriteOnly)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    fd_ = ::open(name_.toLocal8Bit().constData(), flags);
    if (fd_ < 0) {
        qWarning("serial port %s cannot be opened: %s", qPrintable(name_), std::strerror(errno));
        return false;
    }
    applySettings();
    return true;
}

void Posix_QextSerialPort::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void Posix_QextSerialPort::setBaudRate(BaudRateType rate) { baud_ = rate; applySettings(); }
void Posix_QextSerialPort::setDataBits(DataBitsType bits) { dataBits_ = bits; applySettings(); }
void Posix_QextSerialPort::setParity(ParityType parity) { parity_ = parity; applySettings(); }
void Posix_QextSerialPort::setStopBits(StopBitsType stop) { stopBits_ = stop; applySettings(); }
void Posix_QextSerialPort::setFlowControl(FlowType flow) { flow_ = flow; applySettings(); }
void Posix_QextSerialPort::setTimeout(long millis) { timeoutMs_ = millis; }

void Posix_QextSerialPort::applySettings()
{
    if (fd_ < 0)
        return;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return;  // not a terminal (a plain file or pipe): nothing to set
    cfmakeraw(&t);
    speed_t speed = B115200;
    switch (baud_) {
    case BAUD9600: speed = B9600; break;
    case BAUD19200: speed = B19200; break;
    case BAUD38400: speed = B38400; break;
    case BAUD57600: speed = B57600; break;
    case BAUD115200: speed = B115200; break;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~CSIZE;
    switch (dataBits_) {
    case DATA_5: t.c_cflag |= CS5; break;
    case DATA_6: t.c_cflag |= CS6; break;
    case DATA_7: t.c_cflag |= CS7; break;
    case DATA_8: t.c_cflag |= CS8; break;
    }
    t.c_cflag &= ~(PARENB | PARODD);
    if (parity_ == PAR_EVEN)
        t.c_cflag |= PARENB;
    else if (parity_ == PAR_ODD)
        t.c_cflag |= PARENB | PARODD;
    if (stopBits_ == STOP_2)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~CSTOPB;
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (flow_ == FLOW_HARDWARE)
        t.c_cflag |= CRTSCTS;
    else if (flow_ == FLOW_XONXOFF)
        t.c_iflag |= IXON | IXOFF;
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd_, TCSANOW, &t);
}

qint64 Posix_QextSerialPort::bytesAvailable() const
{
    if (fd_ < 0)
        return 0;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return n;
}

void Posix_QextSerialPort::flushInput()
{
    if (fd_ < 0)
        return;
    ::tcflush(fd_, TCIFLUSH);
    // A pseudo-terminal may keep what its other side wrote: read it away too.
    char sink[256];
    while (::read(fd_, sink, sizeof sink) > 0) {
    }
}

int Posix_QextSerialPort::waitForReadyRead(qint64 micros)
{
    return waitForReadyRead(micros, -1);
}

int Posix_QextSerialPort::waitForReadyRead(qint64 micros, int wakeFd)
{
    if (fd_ < 0)
        return -1;
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    timespec t{};
    if (micros > 0) {
        t.tv_sec = static_cast<time_t>(micros / 1000000);
        t.tv_nsec = static_cast<long>((micros % 1000000) * 1000);
    }
    int r = 0;
    do {
        r = ::ppoll(p, count, &t, nullptr);
    } while (r < 0 && errno == EINTR);
    if (r < 0 || (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        return -1;
    if (p[0].revents & POLLIN)
        return 1;
    return (count == 2 && (p[1].revents & POLLIN)) ? 2 : 0;
}

qint64 Posix_QextSerialPort::read(char* data, qint64 maxSize)
{
    if (fd_ < 0 || !data || maxSize <= 0)
        return 0;
    const ssize_t n = ::read(fd_, data, static_cast<size_t>(maxSize));
    return n > 0 ? n : 0;
}

qint64 Posix_QextSerialPort::write(const char* data, qint64 size)
{
    if (fd_ < 0 || !data || size <= 0)
        return 0;
    qint64 done = 0;
    // A frame is a handful of bytes: retry short writes briefly so a frame is
    // never cut in half on the line.
    for (int attempt = 0; done < size && attempt < 50; ++attempt) {
        const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(size - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        else
            ::usleep(200);
    }
    return done;
}
