// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "protocol/protocol.h"
#include "tests/support/plainscanner.h"

#include <QRandomGenerator>

#include <QTest>

using namespace proto;

namespace {

QByteArray openRequest(quint16 seq = 0)
{
    return encodeFrame({Kind::Request, seq, OPEN, Writer().str("tolvane").data()});
}

// Every frame the scanner yields for the given input, fed in pieces of `step` bytes.
QList<Frame> scanAll(const QByteArray& input, int step = 1 << 30)
{
    FrameScanner s;
    return plain::scanInPieces(s, input, [step] { return step; });
}

}  // namespace

class tst_Protocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encodesKnownFrames_data();
    void encodesKnownFrames();
    void scannerFindsFrames_data();
    void scannerFindsFrames();
    void scannerAgreesWithPlainRules();
    void scannerDropsPartialFrameWhenIdle();
    void scannerHoldsNoMoreThanOneLargestFrame();
    void scannerWorkFollowsBytes_data();
    void scannerWorkFollowsBytes();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void malformedPayloads_data();
    void malformedPayloads();
};

void tst_Protocol::encodesKnownFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    // Reference bytes computed independently (Python's struct and zlib.crc32).
    QTest::newRow("OPEN seq 0") << openRequest()
                                << QByteArray::fromHex("544c010100000100090000000700746f6c76616e65f2d72914");
    QVector<qint16> signal{1, 0};
    QTest::newRow("EXECUTE doSignal (1,0) seq 0x1234")
        << encodeFrame({Kind::Request, 0x1234, EXECUTE, Writer().str("doSignal").value(signal).data()})
        << QByteArray::fromHex("544c010134123000110000000800646f5369676e616c0202000100000039607ecc");
}

void tst_Protocol::encodesKnownFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.toHex(), expected.toHex());
}

void tst_Protocol::scannerFindsFrames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("seqs");  // sequence numbers of the frames found

    const QByteArray a = openRequest(1), b = openRequest(2);
    QByteArray badCrc = openRequest(9);
    badCrc[badCrc.size() - 1] = char(badCrc.back() ^ 0x01);
    QByteArray badVersion = openRequest(9);
    badVersion[2] = 2;
    QByteArray badKind = openRequest(9);
    badKind[3] = 3;
    QByteArray tooLong = openRequest(9).left(12);
    tooLong[8] = 0x01; tooLong[9] = 0x00; tooLong[10] = 0x10; tooLong[11] = 0x00;  // 1,048,577

    QTest::newRow("one frame") << a << 1000 << QList<int>{1};
    QTest::newRow("byte by byte") << a + b << 1 << QList<int>{1, 2};
    QTest::newRow("garbage before") << QByteArray("xxTTL\x01") + a << 1000 << QList<int>{1};
    QTest::newRow("bad CRC dropped") << badCrc + a << 1000 << QList<int>{1};
    QTest::newRow("bad version dropped") << badVersion + a << 3 << QList<int>{1};
    QTest::newRow("bad kind dropped") << badKind + a << 1000 << QList<int>{1};
    QTest::newRow("length over limit dropped") << tooLong + a << 1000 << QList<int>{1};
    QTest::newRow("response kind accepted")
        << encodeFrame({Kind::Response, 5, OK, {}}) << 1000 << QList<int>{5};

    // A frame whose length field swallows a valid frame and whose CRC then fails: the
    // scan resumes one byte after its first byte and finds the hidden frame.
    const quint32 len = quint32(a.size() + 2);
    QByteArray outer = QByteArray::fromHex("544c010100000100");
    outer += char(len & 0xFF);
    outer += QByteArray(3, char(0));
    outer += "zz" + a + QByteArray(4, char(0x55));
    QTest::newRow("frame hidden inside a dropped one") << outer << 7 << QList<int>{1};
}

void tst_Protocol::scannerFindsFrames()
{
    QFETCH(QByteArray, input);
    QFETCH(int, step);
    QFETCH(QList<int>, seqs);
    QList<int> found;
    for (const Frame& f : scanAll(input, step))
        found.append(f.seq);
    QCOMPARE(found, seqs);
}

// Streams as a damaged line or a hostile peer makes them: frames, damaged frames,
// frames inside others' length fields, stray magic, headers that claim more than
// arrives. The scanner, fed in random pieces, finds exactly what the plain reading of
// the rules finds.
void tst_Protocol::scannerAgreesWithPlainRules()
{
    QRandomGenerator rng(20261209);
    for (int round = 0; round < 400; ++round) {
        QByteArray stream;
        const int parts = rng.bounded(1, 12);
        for (int i = 0; i < parts; ++i) {
            QByteArray payload(rng.bounded(0, 40), Qt::Uninitialized);
            for (char& c : payload)
                c = char(rng.bounded(256));
            if (rng.bounded(4) == 0)  // a frame carried inside another's payload
                payload.insert(rng.bounded(payload.size() + 1), openRequest(quint16(900 + i)));
            QByteArray f = encodeFrame({rng.bounded(2) ? Kind::Request : Kind::Response,
                                        quint16(round * 16 + i), quint8(rng.bounded(256)), payload});
            switch (rng.bounded(8)) {
            case 0: f[rng.bounded(f.size())] = char(rng.bounded(256)); break;  // one byte damaged
            case 1: f.truncate(rng.bounded(f.size())); break;                    // cut short
            case 2: f[8] = char(rng.bounded(256)); f[9] = char(rng.bounded(8)); break;  // length damaged
            case 3: f.prepend("TL\x01"); break;                                  // stray magic
            default: break;
            }
            stream += f;
        }
        const QList<Frame> expected = plain::scan(stream);
        FrameScanner s;
        const QList<Frame> found = plain::scanInPieces(s, stream, [&rng] { return int(rng.bounded(1, 64)); });
        QCOMPARE(found.size(), expected.size());
        for (qsizetype i = 0; i < found.size(); ++i) {
            QCOMPARE(found[i].seq, expected[i].seq);
            QCOMPARE(found[i].code, expected[i].code);
            QCOMPARE(found[i].payload, expected[i].payload);
        }
    }
}

void tst_Protocol::scannerDropsPartialFrameWhenIdle()
{
    FrameScanner s;
    const QByteArray a = openRequest(7);
    s.feed(a.left(10));
    QVERIFY(!s.next());
    QVERIFY(s.hasPartial());
    s.idle();
    QVERIFY(!s.hasPartial());
    // The rest of the damaged frame is garbage now; the next whole frame still parses.
    s.feed(a.mid(10) + openRequest(8));
    auto f = s.next();
    QVERIFY(f);
    QCOMPARE(f->seq, quint16(8));
}

void tst_Protocol::scannerHoldsNoMoreThanOneLargestFrame()
{
    // A header that claims the largest payload, then a stream of garbage without magic:
    // the scanner waits for one largest frame at most, then drops it by CRC.
    FrameScanner s;
    QByteArray header = QByteArray::fromHex("544c0101000001000000");
    header += QByteArray::fromHex("1000");  // length 0x00100000 = 1,048,576
    s.feed(header);
    const QByteArray filler(64 * 1024, 'x');
    qsizetype most = 0;
    for (int i = 0; i < 40; ++i) {
        s.feed(filler);
        while (s.next()) {}
        most = std::max(most, s.buffered());
    }
    QVERIFY2(most <= kMaxFrame, qPrintable(QString::number(most)));
    QVERIFY(s.dropped() >= 1);
}

void tst_Protocol::scannerWorkFollowsBytes_data()
{
    QTest::addColumn<QByteArray>("unit");  // repeated to 4 MiB
    QByteArray largest = QByteArray::fromHex("544c0102000000000000");
    largest += QByteArray::fromHex("1000");  // claims 1,048,576 bytes
    QTest::newRow("headers that claim the largest payload") << largest;
    QTest::newRow("frames of 4 KB") << encodeFrame({Kind::Response, 3, OK, QByteArray(4096, 'T')});
    QTest::newRow("magic without end") << QByteArray("TL");
    QTest::newRow("headers with a frame inside each")
        << largest + openRequest(4) + QByteArray::fromHex("544c01020000000000000000000000");
}

// A flood costs time in proportion to its bytes: the scanner's work stays within a small
// multiple of what it was fed, whatever the length fields claim, and its buffer within
// one largest frame.
void tst_Protocol::scannerWorkFollowsBytes()
{
    QFETCH(QByteArray, unit);
    QByteArray piece;
    while (piece.size() < 64 * 1024)
        piece += unit;
    FrameScanner s;
    qint64 fed = 0;
    while (fed < 4 * 1024 * 1024) {
        s.feed(piece);
        fed += piece.size();
        while (s.next()) {}
        QVERIFY(s.buffered() <= kMaxFrame);
    }
    QVERIFY2(s.work() <= quint64(8 * fed), qPrintable(QStringLiteral("%1 for %2 bytes").arg(s.work()).arg(fed)));
}

void tst_Protocol::valuesRoundTrip_data()
{
    QTest::addColumn<int>("tag");
    QTest::newRow("empty") << 0;
    QTest::newRow("i32") << 1;
    QTest::newRow("i16 array") << 2;
    QTest::newRow("bytes") << 3;
    QTest::newRow("str") << 4;
}

void tst_Protocol::valuesRoundTrip()
{
    QFETCH(int, tag);
    const Value values[] = {Empty{}, qint32(-255), QVector<qint16>{0, 2, -1},
                            QByteArray("\x00\xff\x10", 3), QString::fromUtf8("コントローラ")};
    const Value& v = values[tag];
    const QByteArray payload = Writer().value(v).data();
    QCOMPARE(int(quint8(payload[0])), tag);
    Reader r(payload);
    const Value back = r.value();
    QVERIFY(r.atEndOk());
    QVERIFY(back == v);
}

void tst_Protocol::malformedPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("left-over byte") << Writer().str("doSignal").u8(0).u8(7).data();
    QTest::newRow("str longer than payload") << QByteArray::fromHex("0500414243");
    QTest::newRow("invalid UTF-8") << QByteArray::fromHex("0200c328");
    QTest::newRow("variant tag 5") << QByteArray::fromHex("0000") + QByteArray::fromHex("05");
    QTest::newRow("short i16 array") << QByteArray::fromHex("0000") + QByteArray::fromHex("02020001");
    QTest::newRow("empty payload") << QByteArray();
}

void tst_Protocol::malformedPayloads()
{
    QFETCH(QByteArray, payload);
    // Read as an EXECUTE request would be read: str command, then variant.
    Reader r(payload);
    r.str();
    r.value();
    QVERIFY(!r.atEndOk());
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
