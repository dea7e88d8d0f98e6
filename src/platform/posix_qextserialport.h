// Our own serial port class for the I/O board, on POSIX termios.
//
// It offers the calls the board link makes: construction with the port name
// in polling mode, open for reading and writing, the line settings, the
// number of bytes waiting, read and write. Everything is non-blocking but
// waitForReadyRead; an unopened port reads nothing and writes nothing. The
// polling I/O thread has no event loop, so nothing here relies on Qt's
// notifiers.
#pragma once

#include <QIODevice>
#include <QString>

enum QueryMode { Polling, EventDriven };
enum BaudRateType { BAUD9600 = 9600, BAUD19200 = 19200, BAUD38400 = 38400, BAUD57600 = 57600, BAUD115200 = 115200 };
enum DataBitsType { DATA_5 = 5, DATA_6 = 6, DATA_7 = 7, DATA_8 = 8 };
enum ParityType { PAR_NONE, PAR_ODD, PAR_EVEN };
enum StopBitsType { STOP_1, STOP_2 };
enum FlowType { FLOW_OFF, FLOW_HARDWARE, FLOW_XONXOFF };

class Posix_QextSerialPort {
public:
    Posix_QextSerialPort(const QString& name, QueryMode mode);
    ~Posix_QextSerialPort();
    Posix_QextSerialPort(const Posix_QextSerialPort&) = delete;
    Posix_QextSerialPort& operator=(const Posix_QextSerialPort&) = delete;

    bool open(QIODevice::OpenMode mode);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    QString portName() const { return name_; }

    void setBaudRate(BaudRateType rate);
    void setDataBits(DataBitsType bits);
    void setParity(ParityType parity);
    void setStopBits(StopBitsType stop);
    void setFlowControl(FlowType flow);
    void setTimeout(long millis);

    qint64 bytesAvailable() const;
    // Drops whatever the line delivered and nobody read yet (a reply to a
    // request of an earlier process).
    void flushInput();
    // Waits up to `micros` microseconds for bytes to read. 1: bytes are
    // waiting; 0: none came in time; -1: the port cannot be waited on (not
    // open, or the line hung up), so the caller sleeps instead.
    int waitForReadyRead(qint64 micros);
    // The same, also returning 2 as soon as `wakeFd` (an eventfd or a pipe's
    // reading end; -1 for none) becomes readable. The caller drains it.
    int waitForReadyRead(qint64 micros, int wakeFd);
    qint64 read(char* data, qint64 maxSize);
    qint64 write(const char* data, qint64 size);

private:
    void applySettings();

    QString name_;
    int fd_ = -1;
    BaudRateType baud_ = BAUD115200;
    DataBitsType dataBits_ = DATA_8;
    ParityType parity_ = PAR_NONE;
    StopBitsType stopBits_ = STOP_1;
    FlowType flow_ = FLOW_OFF;
    long timeoutMs_ = 0;
};
