// Unit address texts as the stored setting and users write them.
#include "link/hostaddresstext.h"

#include <QTest>

class TestHostAddressText : public QObject
{
    Q_OBJECT
private slots:
    void converts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: no address
        QTest::newRow("stored default") << "127.000.000.001"
                                        << "127.0.0.1";
        QTest::newRow("plain") << "10.0.0.7"
                               << "10.0.0.7";
        QTest::newRow("zero padded octal-looking") << "010.008.009.010"
                                                   << "10.8.9.10";
        QTest::newRow("group too large") << "127.0.0.256"
                                         << "";
        QTest::newRow("non-numeric group") << "127.0.x.1"
                                           << "";
        QTest::newRow("empty group") << "127..0.1"
                                     << "";
        QTest::newRow("ipv6") << "::1"
                              << "::1";
        QTest::newRow("three groups, parsed by Qt") << "127.0.1"
                                                    << "127.0.0.1";
        QTest::newRow("empty") << ""
                               << "";
    }
    void converts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QHostAddress address = cuHostAddressFromText(text);
        if (expected.isEmpty())
            QVERIFY2(address.isNull(), qPrintable(address.toString()));
        else
            QCOMPARE(address, QHostAddress(expected));
    }
};

QTEST_GUILESS_MAIN(TestHostAddressText)
#include "tst_hostaddresstext.moc"
