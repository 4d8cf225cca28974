// cu-tavik-cli boot: the command line and the failures reported before a module is reached
// (a load itself needs the Raspberry Pi's GPIO block and is tested on the Bootloader).
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCliBoot : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void boot_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        QFile image(dir.filePath("image.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(QByteArray(300, 'x'));
        const QString file = image.fileName();
        const QString missing = dir.filePath("missing.bin");
        const QString noTty = dir.filePath("no-tty");

        QTest::newRow("help") << QStringList{"--help"} << 0 << "boot --port DEV FILE"
                              << "";
        QTest::newRow("no port") << QStringList{"boot", file} << 2 << ""
                                 << "--port";
        QTest::newRow("no file") << QStringList{"boot", "--port", noTty} << 2 << ""
                                 << "one";
        QTest::newRow("two files") << QStringList{"boot", "--port", noTty, file, file} << 2 << ""
                                   << "one";
        QTest::newRow("unit option")
            << QStringList{"boot", "--unit", "127.0.0.1", "--port", noTty, file} << 2 << ""
            << "--unit does not apply to boot";
        QTest::newRow("missing file") << QStringList{"boot", "--port", noTty, missing} << 1 << ""
                                      << "Can't find file: " + missing;
        QTest::newRow("no device")
            << QStringList{"boot", "--wait-for-device", "--port", noTty, file} << 1
            << "Opening Serial Port"
            << "Error at opening serialPort: 1";
    }

    void boot()
    {
        QFETCH(QStringList, args);
        QProcess process;
        process.start(CLI_PATH, args);
        QVERIFY(process.waitForFinished(20000));
        const QString stdOut = QString::fromUtf8(process.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(process.readAllStandardError());
        QTEST(process.exitCode(), "exitCode");
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
        QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
    }
};

QTEST_GUILESS_MAIN(TestCliBoot)
#include "tst_cliboot.moc"
