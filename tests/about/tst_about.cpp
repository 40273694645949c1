// The About window: its maker banner, the system-information lookup behind its second button, and
// the window's buttons and keys.

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
#include <cmath>
#include <cstring>
#include <map>

using namespace kelvara;
using namespace kelvara::test;

namespace {

struct ScriptedRandom : RandomSource
{
    explicit ScriptedRandom(std::vector<double> numbers) : numbers(std::move(numbers)) {}
    double next() override { return numbers.at(draws++ % numbers.size()); }
    std::vector<double> numbers;
    size_t draws = 0;
};

constexpr uint Broken = 0xdead; // a value of this type throws when read

// Values by key and name, each a type and data.
struct MemoryRegistry : RegistrySeam
{
    std::map<QByteArray, std::map<QByteArray, std::pair<uint, QByteArray>>> keys;
    std::vector<QByteArray> opened;
    RegResult openKey(RegKey, const QByteArray& path, std::uint32_t, RegKey& key) override
    {
        if (!keys.count(path))
            return ErrorFileNotFound;
        opened.push_back(path);
        key = RegKey(opened.size());
        return ErrorSuccess;
    }
    RegResult queryValue(RegKey key, const QByteArray& name, std::uint32_t& type, char* buffer,
                         std::uint32_t& size) override
    {
        const auto& values = keys[opened.at(key - 1)];
        if (!values.count(name))
            return ErrorFileNotFound;
        const auto& [valueType, data] = values.at(name);
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
    using LauncherForTest = Installed<RecordingLauncher, LauncherSeam, installLauncher>;

private slots:
    void initTestCase() { applyLook(); }

    void colourComponents()
    {
        ScriptedRandom random({0.0039, 0.004, std::nextafter(1.0, 0.0)}); // red, green, blue
        BannerState banner;
        banner.load();
        QCOMPARE(banner.step(random).color, (BannerColor{0, 1, 254}));
    }

    void realSourceStaysBelowOneAndRepeats()
    {
        UnseededRandom first, second;
        QSet<double> seen;
        for (int i = 0; i < 100000; ++i) {
            const double r = first.next();
            QVERIFY(r >= 0.0 && r < 1.0);
            QCOMPARE(second.next(), r); // never seeded: the same numbers every start
            seen.insert(r);
        }
        QVERIFY(seen.size() > 99000);
    }

    // Ticks (t), left clicks (c), right clicks (r) and left presses released off the label (o) on a
    // label's banner; one more tick shows the outcome.
    void banner_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("draws"); // standing draws no colour
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
        Installed<ScriptedRandom, RandomSource, installRandomSource> random(std::vector{0.1, 0.2, 0.3});
        QLabel label;
        label.resize(100, 20);
        label.setToolTip(QStringLiteral("Rákattintva megállítható..."));
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        for (const QChar c : script) {
            const Qt::MouseButton button = c == u'r' ? Qt::RightButton : Qt::LeftButton;
            if (c == u't') {
                banner.tick();
            } else {
                QTest::mousePress(&label, button, {}, QPoint(5, 5));
                QTest::mouseRelease(&label, button, {}, QPoint(c == u'o' ? 500 : 5, 5));
            }
        }
        banner.tick();
        QCOMPARE(label.text(), caption);
        const QColor colour = caption.contains(u'™') ? QColor(0, 0, 255) : QColor(25, 51, 76);
        QCOMPARE(label.palette().color(QPalette::WindowText), colour);
        const QImage shot = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(shot.constBits());
        const qsizetype blank = std::count(pixels, pixels + shot.width() * shot.height(), pixels[0]);
        QCOMPARE(blank == shot.width() * shot.height(), caption.trimmed().isEmpty()); // the label paints
        QCOMPARE(int(random->draws), draws);
        QCOMPARE(label.toolTip().isEmpty(), script.contains(u'c'));
    }

    // The first place names the program (type 0: the key without that value; no data: no key); the
    // second, %1, holds the scripts tool and plain (not executable), and MSINFO32.EXE as a script
    // like one of them, a directory or not at all. The message shows unless a script ran.
    void startSysInfo_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("msinfo");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<QString>("started"); // "-": nothing
        const QByteArray tool("%1/tool");
        QTest::newRow("string") << RegSz << tool + '\0' << "tool" << true << "%1/tool";
        QTest::newRow("string without terminator") << RegSz << tool << "" << true << "%1/tool";
        QTest::newRow("program and arguments")
            << RegSz << QByteArray("/bin/sh \"%1/tool\"") << "" << true << "/bin/sh \"%1/tool\"";
        QTest::newRow("only the last zero goes")
            << RegSz << QByteArray("a\0\0", 3) << "" << false << QStringLiteral("a") + QChar(0);
        QTest::newRow("number: a last zero goes too")
            << RegDword << QByteArray("\2\1\0\0", 4) << "" << false << "&h000102";
        QTest::newRow("number") << RegDword << QByteArray("\x01\xef\xcd\xab") << "" << false << "&hABCDEF01";
        QTest::newRow("expandable string: not read") << RegExpandSz << tool << "tool" << false << "";
        QTest::newRow("1024 bytes") << RegSz << QByteArray(1023, 'x') + '\0' << "" << false
                                    << QString(1023, u'x');
        QTest::newRow("1025 bytes: too long")
            << RegSz << QByteArray(1024, 'x') + '\0' << "tool" << true << "%1/MSINFO32.EXE";
        QTest::newRow("not executable") << RegSz << QByteArray("%1/plain") << "tool" << false << "%1/plain";
        QTest::newRow("no such program") << RegSz << QByteArray("%1/none") << "" << false << "%1/none";
        QTest::newRow("an error on the way") << Broken << tool << "tool" << false << "-";
        QTest::newRow("no such value") << 0u << tool << "tool" << true << "%1/MSINFO32.EXE";
        QTest::newRow("no such key") << RegSz << QByteArray() << "plain" << false << "%1/MSINFO32.EXE";
        QTest::newRow("second place without the file") << RegSz << QByteArray() << "" << false << "-";
        QTest::newRow("second place, a directory") << RegSz << QByteArray() << "dir" << false << "-";
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
        QVERIFY(QDir(root.path()).mkdir(QStringLiteral("with blank")));
        makeScript(place + QStringLiteral("/tool"), true);
        makeScript(place + QStringLiteral("/plain"), false);
        if (msinfo == u"dir")
            QVERIFY(QDir(place).mkdir(QStringLiteral("MSINFO32.EXE")));
        else if (!msinfo.isEmpty())
            makeScript(place + QStringLiteral("/MSINFO32.EXE"), msinfo == u"tool");
        RegistryForTest registry;
        LauncherForTest launcher;
        MessageBoxScript boxes;
        if (!data.isEmpty())
            registry->keys["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"][type ? "PATH" : "VERSION"] = {
                type, data.replace("%1", place.toUtf8())};
        registry->keys["SOFTWARE\\Microsoft\\Shared Tools Location"]["MSINFO"] = {RegSz, place.toUtf8()};
        StartSysInfo();
        const QStringList expected{started.replace(QStringLiteral("%1"), place)};
        QCOMPARE(launcher->started, started == u"-" ? QStringList() : expected);
        QCOMPARE(int(boxes.requests().size()), ran ? 0 : 1);
        QTRY_COMPARE(QDir(place).entryList({QStringLiteral("*.ran")}).size(), ran ? 1 : 0);
    }

    // The Linux registry names the first system-information program on PATH.
    void linuxRegistry_data()
    {
        QTest::addColumn<QString>("programs"); // on PATH; a trailing '-': not executable
        QTest::addColumn<int>("found");        // which of them, -1 for none
        QTest::newRow("none") << "" << -1;
        QTest::newRow("hardinfo") << "hardinfo" << 0;
        QTest::newRow("first of the list wins") << "kinfocenter hardinfo2" << 1;
        QTest::newRow("not executable") << "hardinfo- kinfocenter" << 1;
    }

    void linuxRegistry()
    {
        QFETCH(QString, programs);
        QFETCH(int, found);
        QTemporaryDir dir;
        QStringList paths;
        for (const QString& program : programs.split(u' ', Qt::SkipEmptyParts)) {
            paths.append(dir.filePath(QString(program).remove(u'-')));
            makeScript(paths.last(), !program.endsWith(u'-'));
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.path()));
        LauncherForTest launcher;
        MessageBoxScript boxes;
        StartSysInfo(); // the real registry
        qputenv("PATH", oldPath);
        QCOMPARE(launcher->started, found < 0 ? QStringList() : QStringList{paths.at(found)});
        QCOMPARE(int(boxes.requests().size()), found < 0 ? 1 : 0);
        QTRY_VERIFY(found < 0 || QFile::exists(paths.at(found) + QStringLiteral(".ran")));
    }

    // Each way of closing ends the program; the system-information button shows the message and
    // leaves the window open. The window opens with the keyboard on OK and its banner running.
    void buttonsAndKeys_data()
    {
        QTest::addColumn<bool>("closes");
        for (const char* way : {"OK", "Enter", "Esc", "window frame"})
            QTest::newRow(way) << true;
        for (const char* way : {"system information", "Alt+R", "Tab, Enter"})
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
        QTRY_COMPARE(about->Label1->text(), QStringLiteral("   Morvelin ™   "));
        QSignalSpy finished(&app, &Application::finished);
        if (way == "OK" || way == "system information")
            QTest::mouseClick(way == "OK" ? about->cmdOK : about->cmdSysInfo, Qt::LeftButton);
        else if (way == "window frame")
            about->close();
        else if (way == "Alt+R")
            QTest::keyClick(about->windowHandle(), Qt::Key_R, Qt::AltModifier);
        else if (way == "Esc")
            QTest::keyClick(about->focusWidget(), Qt::Key_Escape);
        if (way == "Tab, Enter")
            QTest::keyClick(about->focusWidget(), Qt::Key_Tab);
        if (way.endsWith("Enter"))
            QTest::keyClick(about->focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(int(boxes.requests().size()), closes ? 0 : 1); // an access key works a moment later
        QCOMPARE(finished.count(), closes ? 1 : 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(about.isNull(), closes);
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
