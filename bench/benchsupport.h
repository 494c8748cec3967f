// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// What the benchmarks measure against: a serial line made of two pseudo-terminals and a
// relay that paces the bytes between them as a line of a given baud rate does, and the
// floor of an exchange: plain bytes in the same round trips, with no protocol code.

#include "controller/recordlayout.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <thread>
#include <utility>

// A serial line: the controller opens one end, the client the other; bytes leave each
// end no faster than `baud` allows at `bitsPerByte` (start, data, parity and stop bits),
// each direction on its own, as on a full-duplex line. The relay runs in a thread of its
// own, so that the program under test cannot slow it down or speed it up.
class PacedRelay {
public:
    PacedRelay() = default;
    ~PacedRelay();
    PacedRelay(const PacedRelay&) = delete;
    PacedRelay& operator=(const PacedRelay&) = delete;

    bool start(int baud, int bitsPerByte, QString* error);
    void stop();
    QString controllerEnd() const { return m_ends[0].slavePath; }
    QString clientEnd() const { return m_ends[1].slavePath; }
    // Bytes delivered so far towards the controller and towards the client.
    quint64 toController() const { return m_delivered[0]; }
    quint64 toClient() const { return m_delivered[1]; }
    // The line time of n bytes, in seconds.
    double lineSeconds(quint64 n) const { return double(n) * m_bitsPerByte / m_baud; }

private:
    struct End {
        int master = -1;
        int slave = -1;  // kept open, so that the end stays raw and never hangs up
        QString slavePath;
    };
    void run();
    End m_ends[2];
    int m_baud = 0;
    int m_bitsPerByte = 10;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<quint64> m_delivered[2] = {0, 0};
};

// One round trip of an exchange: bytes of the request, bytes of the response.
using Trip = std::pair<int, int>;

// The floor of an exchange over a paced line: a plain peer on the controller's end that
// reads each request's bytes and sends the response's, and a plain client on the
// other end; the seconds from the first byte sent to the last byte received.
double PlainLineExchange(const PacedRelay& line, const QList<Trip>& trips);

// The same over TCP on a loopback address: connect (when `withConnect`, timed too), then
// the round trips, both ends plain blocking sockets without Nagle's delay. Seconds.
double PlainSocketExchange(const QString& loopbackAddress, const QList<Trip>& trips, bool withConnect);

// The median of the values (the mean of the middle two for an even count).
double Median(QList<double> values);

// The frames the protocol needs for the requests the wizard makes, computed from the
// protocol's encoding alone: each a round trip of request and response bytes.
namespace floorframes {
Trip open(const QString& client, const QString& controllerId, const QString& model);
Trip signal();                                   // doSignal: any channel and phase
Trip errorCode();                                // READ_VALUE @ERROR_CODE
Trip recordSize(const QString& name);
QList<Trip> readRecord(const QString& name, int size, int chunk);  // READ_RECORD chunks
QList<Trip> readSpans(const QString& name, const QList<rec::Span>& spans, int chunk);  // of each span
Trip digest(const QString& name);
// PATCH_RECORD of the bytes where after differs from before, in the fewest bytes.
Trip patch(const QString& name, const QByteArray& before, const QByteArray& after);
qint64 bytes(const QList<Trip>& trips);
}  // namespace floorframes
