// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The one address grammar of the program: what the address control's paste, the
// connection text, the engine and tolvanectl take as an IPv4 address, and how it is
// written back.

#include "ipv4/ipv4.h"

#include <QTest>

Q_DECLARE_METATYPE(IPv4)

class tst_IPv4 : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<IPv4>("address");
        QTest::addColumn<QString>("formatted");  // FormatIPv4 of the address

        // Valid rows.
        QTest::newRow("loopback") << "127.0.0.1" << true << IPv4{127, 0, 0, 1} << "127.0.0.1";
        QTest::newRow("every octet at its highest") << "255.255.255.255" << true << IPv4{255, 255, 255, 255}
                                                    << "255.255.255.255";
        QTest::newRow("all zero") << "0.0.0.0" << true << IPv4{0, 0, 0, 0} << "0.0.0.0";
        // A leading zero is decimal, never octal; the formatter leaves zeros out.
        QTest::newRow("leading zeros are decimal") << "010.001.000.099" << true << IPv4{10, 1, 0, 99} << "10.1.0.99";
        // Blanks around the whole, as a pasted line may carry them, are no part of it.
        QTest::newRow("blanks around") << " \t127.0.4.9 \n" << true << IPv4{127, 0, 4, 9} << "127.0.4.9";

        // Error rows.
        QTest::newRow("empty") << "" << false << IPv4{} << "";
        QTest::newRow("three fields") << "127.0.1" << false << IPv4{} << "";
        QTest::newRow("five fields") << "127.0.0.1.5" << false << IPv4{} << "";
        // Short forms such as "127.1" would mean another address than the one read.
        QTest::newRow("short form") << "127.1" << false << IPv4{} << "";
        QTest::newRow("octet above 255") << "127.0.0.256" << false << IPv4{} << "";
        // Four digits are no octet, even when the number would fit.
        QTest::newRow("four digits") << "0127.0.0.1" << false << IPv4{} << "";
        QTest::newRow("empty field") << "127..0.1" << false << IPv4{} << "";
        QTest::newRow("trailing dot") << "127.0.0.1." << false << IPv4{} << "";
        QTest::newRow("sign") << "+127.0.0.1" << false << IPv4{} << "";
        QTest::newRow("blank inside") << "127. 0.0.1" << false << IPv4{} << "";
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << false << IPv4{} << "";
        QTest::newRow("port") << "127.0.0.1:47311" << false << IPv4{} << "";
        QTest::newRow("host name") << "localhost" << false << IPv4{} << "";
        // Digits of other scripts are digits to QChar, but no address.
        QTest::newRow("full-width digits") << QString::fromUtf8("１２７.0.0.1") << false << IPv4{} << "";
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("١٢٧.0.0.1") << false << IPv4{} << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(IPv4, address);
        QFETCH(QString, formatted);
        const std::optional<IPv4> parsed = ParseIPv4(text);
        QCOMPARE(parsed.has_value(), valid);
        if (!valid)
            return;
        QCOMPARE(*parsed, address);
        QCOMPARE(FormatIPv4(*parsed), formatted);
        QCOMPARE(ParseIPv4(FormatIPv4(*parsed)), parsed);  // what is written reads back the same
    }
};

QTEST_APPLESS_MAIN(tst_IPv4)
#include "tst_ipv4.moc"
