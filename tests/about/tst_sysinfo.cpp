// System information: GetKeyValue against an in-memory registry, StartSysInfo with a recording
// launcher, the Linux registry and the real launcher.

#include "about/sysinfo.h"
#include "aboutseams.h"
#include "support/seams.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using namespace kelvara::test;

namespace {

const QByteArray ToolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray LocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString Unavailable = QStringLiteral("System Information Is Unavailable At This Time");

void makeFile(const QString& path, bool executable)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\ntouch \"$0.ran\"\n");
    file.close();
    if (executable)
        QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
}

} // namespace

class SysInfoTest : public QObject
{
    Q_OBJECT

private slots:
    void getKeyValue_data()
    {
        QTest::addColumn<bool>("keyExists");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data"); // empty: no such value
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("keyVal");
        const QByteArray path("/opt/tool/run");
        QTest::newRow("string with terminator")
            << true << RegSz << path + '\0' << true << QStringLiteral("/opt/tool/run");
        QTest::newRow("string without terminator")
            << true << RegSz << path << true << QStringLiteral("/opt/tool/run");
        QTest::newRow("only the last zero goes")
            << true << RegSz << QByteArray("ab\0\0", 4) << true << QStringLiteral("ab") + QChar(0);
        QTest::newRow("number 0x0102")
            << true << RegDword << QByteArray("\x02\x01\x00\x00", 4) << true << QStringLiteral("&h000102");
        QTest::newRow("number 0x12345678")
            << true << RegDword << QByteArray("\x78\x56\x34\x12", 4) << true << QStringLiteral("&h12345678");
        QTest::newRow("number 0xABCDEF01")
            << true << RegDword << QByteArray("\x01\xef\xcd\xab", 4) << true << QStringLiteral("&hABCDEF01");
        QTest::newRow("expandable string: untouched")
            << true << RegExpandSz << path + '\0' << true << QStringLiteral("before");
        QTest::newRow("exactly 1024 bytes")
            << true << RegSz << QByteArray(1023, 'x') + '\0' << true << QString(1023, QLatin1Char('x'));
        QTest::newRow("1025 bytes: too long")
            << true << RegSz << QByteArray(1024, 'x') + '\0' << false << QString();
        QTest::newRow("no such value") << true << RegSz << QByteArray() << false << QString();
        QTest::newRow("no such key") << false << RegSz << path << false << QString();
    }

    void getKeyValue()
    {
        QFETCH(bool, keyExists);
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QFETCH(bool, result);
        QFETCH(QString, keyVal);
        RegistryForTest registry; // a restricted user: write rights are denied
        if (keyExists)
            registry->keys[ToolKey];
        if (keyExists && !data.isEmpty())
            registry->keys[ToolKey]["PATH"] = {type, data};
        QString value = QStringLiteral("before");
        QCOMPARE(GetKeyValue(HkeyLocalMachine, QString::fromLatin1(ToolKey), QStringLiteral("PATH"), value),
                 result);
        QCOMPARE(value, keyVal);
        QCOMPARE(registry->openKeys, 0); // every key opened was closed
    }

    void startSysInfo_data()
    {
        QTest::addColumn<QByteArray>("toolValue"); // REG_SZ unless it starts with '%'
        QTest::addColumn<QString>("location");     // directory name under the test dir, or none
        QTest::addColumn<QString>("msinfo");       // "file", "dir" or none
        QTest::addColumn<bool>("launchWorks");
        QTest::addColumn<QString>("started"); // relative to the test dir; "-" for nothing
        QTest::addColumn<bool>("secondRead");
        QTest::addColumn<bool>("message");
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        QTest::newRow("first location") << QByteArray("/usr/bin/tool\0", 14) << s("loc") << s("file") << true
                                        << s("/usr/bin/tool") << false << false;
        QTest::newRow("first location, start fails")
            << QByteArray("/nowhere\0", 9) << s("") << s("") << false << s("/nowhere") << false << true;
        QTest::newRow("expandable string")
            << QByteArray("%SystemRoot%\\x") << s("loc") << s("file") << true << s("") << false << true;
        QTest::newRow("second location with the file")
            << QByteArray() << s("loc") << s("file") << true << s("loc/MSINFO32.EXE") << true << false;
        QTest::newRow("second location without the file")
            << QByteArray() << s("loc") << s("") << true << s("-") << true << true;
        QTest::newRow("second location, a directory of that name")
            << QByteArray() << s("loc") << s("dir") << true << s("-") << true << true;
        QTest::newRow("neither location") << QByteArray() << s("") << s("") << true << s("-") << true << true;
    }

    void startSysInfo()
    {
        QFETCH(QByteArray, toolValue);
        QFETCH(QString, location);
        QFETCH(QString, msinfo);
        QFETCH(bool, launchWorks);
        QFETCH(QString, started);
        QFETCH(bool, secondRead);
        QFETCH(bool, message);
        QTemporaryDir dir;
        RegistryForTest registry;
        LauncherForTest launcher;
        MessageBoxScript boxes;
        launcher->succeeds = launchWorks;
        if (!toolValue.isEmpty())
            registry->keys[ToolKey]["PATH"] = {toolValue.startsWith('%') ? RegExpandSz : RegSz, toolValue};
        if (!location.isEmpty()) {
            QVERIFY(QDir(dir.path()).mkdir(location));
            registry->keys[LocationKey]["MSINFO"] = {RegSz, QFile::encodeName(dir.filePath(location)) + '\0'};
        }
        if (msinfo == QLatin1String("file"))
            makeFile(dir.filePath(location + QStringLiteral("/MSINFO32.EXE")), true);
        else if (msinfo == QLatin1String("dir"))
            QVERIFY(QDir(dir.filePath(location)).mkdir(QStringLiteral("MSINFO32.EXE")));

        StartSysInfo();

        const QStringList expected = started == QLatin1String("-") ? QStringList()
                                     : started.startsWith(QLatin1Char('/')) || started.isEmpty()
                                         ? QStringList{started}
                                         : QStringList{dir.filePath(started)};
        QCOMPARE(launcher->started, expected);
        QCOMPARE(registry->opened.contains(LocationKey), secondRead);
        QCOMPARE(int(boxes.requests().size()), message ? 1 : 0);
        if (message) {
            QCOMPARE(boxes.requests()[0].message, Unavailable);
            QCOMPARE(boxes.requests()[0].style(), 0); // OK only, no icon
            QCOMPARE(boxes.requests()[0].title, QStringLiteral("Kelvara"));
        }
    }

    void anErrorOnTheWayEndsInTheMessage()
    {
        RegistryForTest registry;
        registry->keys[ToolKey]["PATH"] = {RegSz, "/usr/bin/tool"};
        registry->throwOnQuery = true;
        LauncherForTest launcher;
        MessageBoxScript boxes;
        StartSysInfo();
        QVERIFY(launcher->started.isEmpty());
        QCOMPARE(int(boxes.requests().size()), 1);
        QCOMPARE(boxes.requests()[0].message, Unavailable);
    }

    // The Linux registry names the first system-information program on PATH, and lets itself be
    // read without write rights.
    void linuxRegistry_data()
    {
        QTest::addColumn<QStringList>("programs"); // a trailing '-' makes it not executable
        QTest::addColumn<QString>("found");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("hardinfo") << QStringList{QStringLiteral("hardinfo")} << QStringLiteral("hardinfo");
        QTest::newRow("first of the list wins")
            << QStringList{QStringLiteral("kinfocenter"), QStringLiteral("hardinfo2")}
            << QStringLiteral("hardinfo2");
        QTest::newRow("not executable")
            << QStringList{QStringLiteral("hardinfo-"), QStringLiteral("kinfocenter")}
            << QStringLiteral("kinfocenter");
    }

    void linuxRegistry()
    {
        QFETCH(QStringList, programs);
        QFETCH(QString, found);
        QTemporaryDir dir;
        for (QString program : programs) {
            const bool executable = !program.endsWith(QLatin1Char('-'));
            program.remove(QLatin1Char('-'));
            makeFile(dir.filePath(program), executable);
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()));
        LauncherForTest launcher;
        MessageBoxScript boxes;
        StartSysInfo(); // the real registry
        qputenv("PATH", oldPath);
        if (found.isEmpty()) {
            QVERIFY(launcher->started.isEmpty());
            QCOMPARE(int(boxes.requests().size()), 1);
        } else {
            QCOMPARE(launcher->started, QStringList{dir.filePath(found)});
            QCOMPARE(int(boxes.requests().size()), 0);
        }
    }

    void realLauncher_data()
    {
        QTest::addColumn<QString>("commandLine"); // %1: the test dir
        QTest::addColumn<QString>("ran");         // the file the program leaves, or empty
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("no such program") << QStringLiteral("%1/nothing") << QString();
        QTest::newRow("not executable") << QStringLiteral("%1/plain") << QString();
        QTest::newRow("a path with a blank")
            << QStringLiteral("%1/with blank/tool") << QStringLiteral("with blank/tool.ran");
        QTest::newRow("program and arguments")
            << QStringLiteral("/bin/sh \"%1/with blank/tool\"") << QStringLiteral("with blank/tool.ran");
    }

    void realLauncher()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, ran);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("with blank")));
        makeFile(dir.filePath(QStringLiteral("with blank/tool")), true);
        makeFile(dir.filePath(QStringLiteral("plain")), false);
        ProcessLauncher launcher;
        QCOMPARE(launcher.start(QString(commandLine).replace(QStringLiteral("%1"), dir.path())),
                 !ran.isEmpty());
        if (!ran.isEmpty())
            QTRY_VERIFY(QFile::exists(dir.filePath(ran)));
    }
};

QTEST_MAIN(SysInfoTest)
#include "tst_sysinfo.moc"
