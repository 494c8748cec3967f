// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Where the communication settings sit in a controller's records: the records' names,
// each field's offset, and how a field's bytes read and write. The engine's decoders,
// tolvanectl's backup and restore and the simulator's seeding all use this one layout.

#include "ipv4/ipv4.h"
#include "protocol/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>

namespace rec {

inline const char* const kRawCom = "@CNF_RAW_COM";
inline const char* const kBackPrm = "@CNF_BACKPRM";
// Every record a controller keeps, in the order a backup holds them; the four after
// the two settings records are read and written back whole.
inline constexpr std::array<const char*, 6> kAllRecords = {"@CNF_RAW_COM", "@CNF_BACKPRM",  "@CNF_HOST_PARM",
                                                           "@DAT_OPTION",  "@DAT_TSRPARAM", "@LST_PACOPTION"};
// The value a controller reports its error in.
inline const char* const kErrorCode = "@ERROR_CODE";

// Fields of @CNF_RAW_COM, four bytes each, little-endian; the controller's own Ethernet
// address and mask (its identity) are stored reversed, the last byte the first octet.
inline constexpr int kRs232cUsage = 44, kBaud = 48, kParity = 52, kDataLength = 56, kStopBits = 60, kDelimiter = 64,
                     kEthernetUsage = 116, kIpAddress = 120, kSubnetMask = 124;
// The settings decode from the first 128 bytes of @CNF_RAW_COM (the mask ends there).
inline constexpr int kRawComSettingsSize = kSubnetMask + 4;
// In @CNF_BACKPRM: the token code (four bytes, little-endian; the upper two are written
// 0) and its address in octet order. A record shorter than 23980 bytes holds no token.
inline constexpr int kTokenCode = 23972;
inline constexpr int kTokenIp = 23976;
inline constexpr int kBackPrmSettingsSize = kTokenIp + 4;

// A run of a record's bytes, [begin, end).
struct Span {
    int begin = 0;
    int end = 0;
};
// The bytes the settings decode from, all a settings read needs of a record: the RS232C
// fields (44..67) and the Ethernet fields (116..127) of @CNF_RAW_COM, the token fields
// (23972..23979) of @CNF_BACKPRM; none of any other record.
inline QList<Span> SettingsSpans(const QString& record)
{
    if (record == QLatin1String(kRawCom))
        return {{kRs232cUsage, kDelimiter + 4}, {kEthernetUsage, kSubnetMask + 4}};
    if (record == QLatin1String(kBackPrm))
        return {{kTokenCode, kTokenIp + 4}};
    return {};
}
// What a scan shows of @CNF_RAW_COM: the usage words, the baud rate, the address and
// the mask.
inline const QList<Span> kShownSpans = {{kRs232cUsage, kBaud + 4}, {kEthernetUsage, kSubnetMask + 4}};

// A field's four bytes at offset, which the caller has checked the record holds.
inline quint32 U32At(const QByteArray& v, int offset) { return quint32(proto::getLE(v.constData() + offset, 4)); }
inline void PutU32(QByteArray& v, int offset, quint32 value) { proto::setLE(v, offset, value, 4); }
// An address in octet order (the token's), and one stored reversed (the identity).
inline IPv4 AddressAt(const QByteArray& v, int offset)
{
    return {quint8(v[offset]), quint8(v[offset + 1]), quint8(v[offset + 2]), quint8(v[offset + 3])};
}
inline IPv4 ReversedAt(const QByteArray& v, int offset)
{
    return {quint8(v[offset + 3]), quint8(v[offset + 2]), quint8(v[offset + 1]), quint8(v[offset])};
}
inline void PutAddress(QByteArray& v, int offset, const IPv4& ip)
{
    for (int k = 0; k < 4; ++k)
        v[offset + k] = char(ip[size_t(k)]);
}
inline void PutReversed(QByteArray& v, int offset, const IPv4& ip)
{
    for (int k = 0; k < 4; ++k)
        v[offset + 3 - k] = char(ip[size_t(k)]);
}

}  // namespace rec
