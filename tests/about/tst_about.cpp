// The About window: its banner, the system-information lookup and the window's buttons and keys.

#include "about/banner.h"
#include "about/frmabout.h"
#include "about/launcher.h"
#include "about/random.h"
#include "about/registry.h"
#include "about/sysinfo.h"
#include "app/application.h"
#include "platform/look.h"
#include "support/seams.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <cstring>
#include <map>

using namespace kelvara;
using namespace kelvara::test;

namespace {

struct ScriptedRandom : RandomSource // colour components 0, 1 and 254
{
    double next() override { return std::array{0.0039, 0.004, 0.9999999}.at(draws++ % 3); }
    size_t draws = 0;
};

constexpr uint Broken = 0xdead; // a value of this type throws when read
constexpr uint OnPath = 0xbeef; // no stand-in: the Linux registry, with PATH set to the data

// Values by key and name, each a type and data.
struct MemoryRegistry : RegistrySeam
{
    std::map<QByteArray, std::map<QByteArray, std::pair<uint, QByteArray>>> keys;
    const std::map<QByteArray, std::pair<uint, QByteArray>>* opened = nullptr;
    RegResult openKey(RegKey, const QByteArray& path, std::uint32_t, RegKey& key) override
    {
        opened = keys.count(path) ? &keys[path] : nullptr;
        key = 1;
        return opened ? ErrorSuccess : ErrorFileNotFound;
    }
    RegResult queryValue(RegKey, const QByteArray& name, std::uint32_t& type, char* buffer,
                         std::uint32_t& size) override
    {
        if (!opened->count(name))
            return ErrorFileNotFound;
        const auto& [valueType, data] = opened->at(name);
        if (valueType == Broken)
            throw std::runtime_error("registry gone");
        if (std::uint32_t(data.size()) > size)
            return ErrorMoreData;
        std::memcpy(buffer, data.constData(), data.size());
        size = std::uint32_t(data.size());
        type = valueType;
        return ErrorSuccess;
    }
    RegResult closeKey(RegKey) override { return ErrorSuccess; }
};

// Records every command line, then starts it for real.
struct RecordingLauncher : ProcessLauncher
{
    QStringList started;
    bool start(const QString& commandLine) override
    {
        started.append(commandLine);
        return ProcessLauncher::start(commandLine);
    }
};

void makeScript(const QString& path, bool executable)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n: >\"$0.ran\"\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | (executable ? QFile::ExeOwner : QFile::Permissions())));
}

} // namespace

class AboutTest : public QObject
{
    Q_OBJECT

    using RegistryForTest = Installed<MemoryRegistry, RegistrySeam, installRegistry>;

private slots:
    void initTestCase() { applyLook(); }

    void realSourceStaysBelowOneAndRepeats()
    {
        UnseededRandom first, second; // never seeded: the same numbers every start
        QSet<double> seen;
        for (int i = 0; i < 100000; ++i) {
            const double r = first.next();
            QVERIFY(r >= 0.0 && r < 1.0 && second.next() == r);
            seen.insert(r);
        }
        QVERIFY(seen.size() > 99000);
    }

    // Ticks (t), left clicks (c), right clicks (r) and left presses released off the label (o); one
    // more tick shows the outcome.
    void banner_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("draws"); // red, green and blue per running step
        QTest::addColumn<QString>("caption");
        const char* cycle[] = {"   M",    "  Mor",  " Morve", "Morveli", "orvelin ", "rvelin   ", "velin   ",
                               "elin   ", "lin   ", "in   ",  "n   ",    "   ",      "",          "   M"};
        for (int ticks = 0; ticks < 14; ++ticks)
            QTest::addRow("%d ticks", ticks) << QString(ticks, u't') << 3 * ticks + 3 << cycle[ticks];
        const QString standing = QStringLiteral("   Morvelin ™   ");
        QTest::newRow("click while running") << "tttc" << 9 << standing;
        QTest::newRow("two clicks between steps") << "tttcc" << 12 << "Morveli";
        QTest::newRow("click at the end of a cycle") << QString(13, u't') + u'c' << 39 << standing;
        QTest::newRow("resumes where it stood") << "tttttcttc" << 18 << "rvelin   ";
        QTest::newRow("right click") << "tttr" << 12 << "Morveli";
        QTest::newRow("released off the label") << "ttto" << 12 << "Morveli";
    }

    void banner()
    {
        QFETCH(QString, script);
        QFETCH(int, draws);
        QFETCH(QString, caption);
        Installed<ScriptedRandom, RandomSource, installRandomSource> random;
        QLabel label;
        label.resize(100, 20);
        label.setToolTip(QStringLiteral("Rákattintva megállítható..."));
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        for (const QChar c : script)
            if (c == u't')
                banner.tick();
            else
                QTest::mouseClick(&label, c == u'r' ? Qt::RightButton : Qt::LeftButton, {},
                                  {c == u'o' ? 500 : 5, 5});
        banner.tick();
        QCOMPARE(label.text(), caption);
        const QColor colour = caption.contains(u'™') ? QColor(0, 0, 255) : QColor(0, 1, 254);
        QCOMPARE(label.palette().color(QPalette::WindowText), colour);
        const QImage shot = label.grab().toImage();
        QImage blank(shot);
        blank.fill(shot.pixel(0, 0));
        QCOMPARE(shot == blank, caption.trimmed().isEmpty()); // the label paints
        QCOMPARE(int(random->draws), draws);
        QCOMPARE(label.toolTip().isEmpty(), script.contains(u'c'));
    }

    // The first place names the program (type 0: the key without that value; no data: no key). The
    // second, %1, holds scripts (plain and hardinfo2 not executable) and MSINFO32.EXE as a script like
    // tool or plain, a directory or not at all. The message shows unless a script ran.
    void startSysInfo_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("msinfo");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<QString>("started"); // "-": nothing
        using B = QByteArray;
        const B tool("%1/tool"), none;
        QTest::newRow("string") << RegSz << tool + '\0' << "tool" << true << "%1/tool";
        QTest::newRow("no terminator") << RegSz << tool << "" << true << "%1/tool";
        QTest::newRow("arguments") << RegSz << B("/bin/sh \"%1/tool\"") << "" << true
                                   << "/bin/sh \"%1/tool\"";
        QTest::newRow("one zero goes")
            << RegSz << B("a\0\0", 3) << "" << false << QStringLiteral("a") + QChar(0);
        QTest::newRow("number, zero") << RegDword << B("\2\1\0\0", 4) << "" << false << "&h000102";
        QTest::newRow("number") << RegDword << B("\x01\xef\xcd\xab") << "" << false << "&hABCDEF01";
        QTest::newRow("expandable") << RegExpandSz << tool << "tool" << false << "";
        QTest::newRow("1024 bytes") << RegSz << B(1023, 'x') + '\0' << "" << false << QString(1023, u'x');
        QTest::newRow("1025 bytes") << RegSz << B(1024, 'x') + '\0' << "tool" << true << "%1/MSINFO32.EXE";
        QTest::newRow("not executable") << RegSz << B("%1/plain") << "tool" << false << "%1/plain";
        QTest::newRow("no program") << RegSz << B("%1/none") << "" << false << "%1/none";
        QTest::newRow("error") << Broken << tool << "tool" << false << "-";
        QTest::newRow("no value") << 0u << tool << "tool" << true << "%1/MSINFO32.EXE";
        QTest::newRow("no key") << RegSz << none << "plain" << false << "%1/MSINFO32.EXE";
        QTest::newRow("no file") << RegSz << none << "" << false << "-";
        QTest::newRow("directory") << RegSz << none << "dir" << false << "-";
        QTest::newRow("PATH: first of the list") << OnPath << B("%1") << "" << true << "%1/hardinfo";
        QTest::newRow("PATH: none") << OnPath << B("%1/none") << "" << false << "-";
    }

    void startSysInfo()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, msinfo);
        QFETCH(bool, ran);
        QFETCH(QString, started);
        QTemporaryDir root;
        const QString place = root.filePath(QStringLiteral("with blank"));
        QVERIFY(QDir().mkdir(place));
        for (const QString& name : QStringLiteral("tool hardinfo kinfocenter plain hardinfo2").split(u' '))
            makeScript(place + u'/' + name, name != u"plain" && name != u"hardinfo2");
        if (msinfo == u"dir")
            QVERIFY(QDir(place).mkdir(QStringLiteral("MSINFO32.EXE")));
        else if (!msinfo.isEmpty())
            makeScript(place + QStringLiteral("/MSINFO32.EXE"), msinfo == u"tool");
        data.replace("%1", place.toUtf8());
        RegistryForTest registry;
        if (!data.isEmpty())
            registry->keys["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"][type ? "PATH" : "VERSION"] = {type,
                                                                                                      data};
        registry->keys["SOFTWARE\\Microsoft\\Shared Tools Location"]["MSINFO"] = {RegSz, place.toUtf8()};
        const QByteArray oldPath = qgetenv("PATH");
        if (type == OnPath) {
            installRegistry(nullptr); // the Linux registry
            qputenv("PATH", data);
        }
        Installed<RecordingLauncher, LauncherSeam, installLauncher> launcher;
        MessageBoxScript boxes;
        StartSysInfo();
        qputenv("PATH", oldPath);
        const QStringList expected{started.replace(QStringLiteral("%1"), place)};
        QCOMPARE(launcher->started, started == u"-" ? QStringList() : expected);
        QCOMPARE(int(boxes.requests().size()), ran ? 0 : 1);
        QTRY_COMPARE(QDir(place).entryList({QStringLiteral("*.ran")}).size(), ran ? 1 : 0);
    }

    // Each way of closing ends the program; the system-information button shows the message and
    // leaves the window open.
    void buttonsAndKeys_data()
    {
        QTest::addColumn<bool>("closes");
        for (const char* way : {"OK", "Return", "Esc", "window frame"})
            QTest::newRow(way) << true;
        for (const char* way : {"system information", "Alt+R", "Tab, Return"})
            QTest::newRow(way) << false;
    }

    void buttonsAndKeys()
    {
        QFETCH(bool, closes);
        const QByteArray way = QTest::currentDataTag();
        RegistryForTest registry; // no tool anywhere
        MessageBoxScript boxes;
        Application app;
        app.quit();
        QPointer<frmAbout> about = app.aboutWindow();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QCOMPARE(about->focusWidget(), about->cmdOK);
        QCOMPARE(about->picIcon->pixmap().size(), QSize(32, 32)); // the icon resource is linked in
        QTest::mouseClick(about->Label1, Qt::LeftButton);
        QTRY_COMPARE(about->Label1->text(), QStringLiteral("   Morvelin ™   ")); // the banner runs
        QSignalSpy finished(&app, &Application::finished);
        if (way == "OK" || way == "system information")
            QTest::mouseClick(way == "OK" ? about->cmdOK : about->cmdSysInfo, Qt::LeftButton);
        else if (way == "window frame")
            about->close();
        else
            QTest::keySequence(about->windowHandle(), QKeySequence(QString::fromLatin1(way)));
        QTRY_COMPARE(int(boxes.requests().size()), closes ? 0 : 1); // an access key works a moment later
        QCOMPARE(finished.count(), closes ? 1 : 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(about.isNull(), closes);
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
