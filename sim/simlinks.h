// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The simulator's transports: a TCP listener (each connection its own session), a
// pseudo-terminal and a real serial line. They only move bytes: frames are found by the
// protocol's scanner and handled by SimController.

#include "protocol/protocol.h"
#include "sim/simcontroller.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

class QSerialPort;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace sim {

// Shared by every transport: the frame scanner with its idle drop, the reply actions and
// optional pacing of outgoing bytes to the speed of a real line.
class Link : public QObject {
    Q_OBJECT
public:
    Link(SimController& ctl, QObject* parent = nullptr);
    ~Link() override;
    // Outgoing bytes leave no faster than a line at `baud` with `bitsPerByte` bits per
    // byte (start, data, parity, stop); 0 sends at once.
    void setPace(int baud, int bitsPerByte);
    // With verbose on, dropped frames and idle drops are reported on standard error.
    static void setVerbose(bool on);
    // Milliseconds since the last byte arrived (since the link began when none has).
    qint64 idleMs() const { return m_lastByte.elapsed(); }
    bool dead() const { return m_dead; }
    int connectionId() const { return m_conn; }

signals:
    void closed();  // the connection is gone; the owner deletes the link

protected:
    void received(const QByteArray& bytes);
    void pump();  // moves queued bytes to the device as pacing and the device allow
    void drained();  // answers left: take the requests held back, if any
    // Turns reading from the device off while answers wait to leave, and on again.
    virtual void setReading(bool on) = 0;
    virtual qint64 unsent() const { return 0; }  // bytes the device itself still holds
    bool m_paused = false;  // reading is off: the answers made wait to leave
    // Writes up to n bytes; returns how many were taken (0 when the device is full),
    // -1 on a broken connection.
    virtual qint64 writeRaw(const char* data, qint64 n) = 0;
    virtual void waitWritable() {}  // ask for a pump() once the device takes bytes again
    virtual void dropConnection() = 0;  // a TCP link closes; a line just forgets the session

    SimController& m_ctl;
    int m_conn = 0;
    bool m_dead = false;  // the connection is gone: nothing more is read or sent

private:
    enum class Stream { None, Random, Headers, Text };
    void onIdle();
    void handleFrames();
    bool backlogged() const;
    void startStream(Stream kind);
    void refill();

    proto::FrameScanner m_scanner;
    QTimer m_idle;
    QByteArray m_out;
    int m_paceBaud = 0;
    int m_paceBits = 10;
    QTimer m_paceTimer;
    QElapsedTimer m_paceClock;
    qint64 m_paceSent = 0;
    Stream m_stream = Stream::None;
    bool m_refilling = false;
    QElapsedTimer m_lastByte;
    QRandomGenerator m_random{20261209};
    QByteArray m_repeat;
    QTimer m_repeatTimer;
};

// A transport that Qt's QIODevice carries (a TCP socket, a serial port): reads in bounded
// pieces, reading stops while answers wait, answers go out through the device.
class DeviceLink : public Link {
    Q_OBJECT
public:
    DeviceLink(SimController& ctl, QIODevice* device, QObject* parent = nullptr);
protected:
    qint64 writeRaw(const char* data, qint64 n) override;
    void setReading(bool on) override;
    qint64 unsent() const override;
private:
    void readSome();
    QIODevice* m_device;
};

class TcpLink : public DeviceLink {
    Q_OBJECT
public:
    TcpLink(SimController& ctl, QTcpSocket* socket, QObject* parent = nullptr);
    void drop() { dropConnection(); }
protected:
    void dropConnection() override;
private:
    QTcpSocket* m_socket;
};

// Holds at most maxConnections connections: a new one beyond them closes the one that
// has been idle longest. QTcpServer binds and listens; accepting is ours, since Qt
// tries a failed accept again at once (a full descriptor table spins a core). Out of
// descriptors, the longest idle connection is closed and accepting goes on; with none
// to close, it pauses for 100 ms.
class TcpServer : public QObject {
    Q_OBJECT
public:
    // pace: as Link::setPace for every connection, 0 for none.
    TcpServer(SimController& ctl, int maxConnections, int pace = 0, QObject* parent = nullptr);
    bool listen(const QHostAddress& addr, quint16 port, QString* error);
private:
    void accept();
    bool closeLongestIdle(const char* why);
    int liveLinks() const;
    SimController& m_ctl;
    QTcpServer* m_server;
    int m_max;
    int m_pace;
    QList<TcpLink*> m_links;
    QSocketNotifier* m_accept = nullptr;
    QTimer m_resume;
};

// A pseudo-terminal: the simulator keeps the master and publishes the slave device
// through a symbolic link, which it removes again when it ends.
class PtyLink : public Link {
    Q_OBJECT
public:
    explicit PtyLink(SimController& ctl, QObject* parent = nullptr);
    ~PtyLink() override;
    bool open(const QString& linkPath, QString* error);
    // Answers only while the client's end is set to this rate (both ends of a
    // pseudo-terminal share their settings); at any other rate what arrives and what
    // leaves is garbled, as on a real line at the wrong speed. False for a rate the
    // terminal settings cannot name.
    bool setRate(int baud);
protected:
    qint64 writeRaw(const char* data, qint64 n) override;
    void waitWritable() override;
    void setReading(bool on) override;
    void dropConnection() override {}
private:
    void onReadable();
    bool wrongRate() const;
    unsigned m_rate = 0;  // the speed_t of setRate(), 0: any rate
    QByteArray m_garbled;  // what leaves garbled, kept for the write
    int m_master = -1;
    int m_slave = -1;  // held open so that the master never sees a hang-up between clients
    QString m_link;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
};

class SerialLink : public DeviceLink {
    Q_OBJECT
public:
    explicit SerialLink(SimController& ctl, QObject* parent = nullptr);
    // parity: 'N', 'E' or 'O'.
    bool open(const QString& device, int baud, char parity, QString* error);
protected:
    void dropConnection() override {}
private:
    SerialLink(SimController& ctl, QSerialPort* port, QObject* parent);
    QSerialPort* m_port;
};

}  // namespace sim
