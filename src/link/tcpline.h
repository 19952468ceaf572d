#pragma once

#include "deviceline.h"

#include <QTcpSocket>

// A panel line behind a serial device server in raw TCP ("TCP server")
// mode: the bytes of the frame go over the connection, and the server puts
// them on its serial port at the line's speed. The line's queue is the
// socket's: what Qt still holds and, on Linux, what the kernel has not yet
// sent (SIOCOUTQNSD). Raw TCP has no authentication: such servers belong on
// a closed network.
class TcpLine : public DeviceLine
{
    Q_OBJECT
public:
    // The server paces its serial side itself: the link hands it this much
    // at a time.
    static constexpr int kChunkBytes = 256;

    explicit TcpLine(QObject *parent = nullptr);
    ~TcpLine() override;

    // "tcp://HOST:PORT"; the name lookup and the connection together take
    // at most kConnectTimeoutMs.
    bool open(const QString &device, QString *error = nullptr) override;
    void close() override;
    bool waitForActivity(int ms) override;

    bool isOpen() const override;
    void discardOutput() override;
    void discardInput() override;
    bool writeByte(quint8 b) override;
    qint64 outputPending() override;
    qint64 inputAvailable() override;
    int readByte() override;
    QString errorString() const override;
    qint64 byteTimeUs() const override { return 0; }
    int chunkSize() const override { return kChunkBytes; }
    // What the server already holds of a frame cannot be called back; only
    // closing the connection keeps it from the panel. A new one follows.
    void abandonFrame() override;

private:
    void drop(const QString &why);

    QTcpSocket m_socket;
    QString m_device;
    QString m_name;
    QString m_error;
};
