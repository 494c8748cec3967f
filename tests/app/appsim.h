// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The wizard tests' simulated controllers: one simulator per case with its state and
// request log, the two records the wizard edits and little-endian access to them.

#include "tests/support/loggedsim.h"
#include "tests/support/simprocess.h"

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QtEndian>
#include <array>

namespace apptest {

using Bytes = std::array<quint8, 4>;

// What a simulated controller keeps: its records by name and its error code.
using SimState = sim::ControllerState;

inline quint32 U32(const QByteArray& rec, int at) { return qFromLittleEndian<quint32>(rec.constData() + at); }
inline quint16 U16(const QByteArray& rec, int at) { return qFromLittleEndian<quint16>(rec.constData() + at); }
inline void PutU16(QByteArray& rec, int at, quint16 v) { qToLittleEndian(v, rec.data() + at); }
inline void PutU32(QByteArray& rec, int at, quint32 v) { qToLittleEndian(v, rec.data() + at); }

inline Bytes Octets(const QString& address)
{
    const quint32 v = QHostAddress(address).toIPv4Address();
    return {quint8(v >> 24), quint8(v >> 16), quint8(v >> 8), quint8(v)};
}

// The controller keeps an address as one number, first octet in the highest byte.
inline Bytes RecordAddress(const QByteArray& rec, int at)
{
    const quint32 v = U32(rec, at);
    return {quint8(v >> 24), quint8(v >> 16), quint8(v >> 8), quint8(v)};
}
inline void PutRecordAddress(QByteArray& rec, int at, const QString& address)
{
    PutU32(rec, at, QHostAddress(address).toIPv4Address());
}

inline QString Dotted(const Bytes& b)
{
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// One simulated controller of a test case on a loopback address of its own (net.x), with
// its state and request log: start() and start(extra) for faults, stopAndRead() for what
// it holds.
class SimBench : public LoggedSim {
public:
    explicit SimBench(const QString& net = QStringLiteral("127.0.3")) : SimBench(FreeLoopbackAddress(net), 0) {}
    const QString address;
    Bytes octets() const { return Octets(address); }
    // The state a simulator creates on its first start: a factory-new controller.
    static SimState factory() { return sim::defaultState(); }

private:
    SimBench(const QString& at, int) : LoggedSim({QStringLiteral("--listen"), at}), address(at) {}
};

inline const QString kRawCom = QStringLiteral("@CNF_RAW_COM");
inline const QString kBackPrm = QStringLiteral("@CNF_BACKPRM");

}  // namespace apptest
