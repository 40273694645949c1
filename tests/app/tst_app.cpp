// The start window (directory list and choice, drive check, opening a directory), the About window (banner,
// system information, buttons and keys), and every window's captions at 96 DPI, icon and keys on buttons.

#include "about/banner.h"
#include "about/frmabout.h"
#include "about/launcher.h"
#include "about/random.h"
#include "about/registry.h"
#include "about/sysinfo.h"
#include "app/application.h"
#include "app/desktop.h"
#include "app/indit.h"
#include "io/volumes.h"
#include "main/cserel.h"
#include "support/files.h"
#include "support/seams.h"
#include "widgets/directorylist.h"
#include "widgets/drivelist.h"
#include "widgets/filelist.h"
#include "widgets/look.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstring>
#include <map>

using namespace kelvara;
using namespace kelvara::test;
using namespace Qt::StringLiterals;

namespace {

struct ScriptedRandom : RandomSource // colour components 0, 1 and 254
{
    double next() override { return std::array{0.0039, 0.004, 0.9999999}.at(draws++ % 3); }
    size_t draws = 0;
};

constexpr uint Broken = 0xdead; // a value of this type throws when read
constexpr uint OnPath = 0xbeef; // no stand-in: the Linux registry, with PATH set to the data

// Keys by path, each with one value: its name, type and data.
struct MemoryRegistry : RegistrySeam
{
    std::map<QByteArray, std::tuple<QByteArray, uint, QByteArray>> keys;
    QByteArray opened;
    RegResult openKey(RegKey, const QByteArray& path, std::uint32_t, RegKey&) override
    {
        opened = path;
        return keys.count(path) ? ErrorSuccess : ErrorFileNotFound;
    }
    RegResult queryValue(RegKey, const QByteArray& name, std::uint32_t& type, char* buffer,
                         std::uint32_t& size) override
    {
        const auto& [valueName, valueType, data] = keys[opened];
        if (name != valueName)
            return ErrorFileNotFound;
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

} // namespace

class AppTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    QString drive; // a directory tree on the drive "/"

    using RegistryForTest = Installed<MemoryRegistry, RegistrySeam, installRegistry>;

private slots:
    void initTestCase()
    {
        applyLook();
        joinDesktop();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), u"Újra"_s);
    }

    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        drive = root->filePath(u"drive"_s);
        QVERIFY(QDir().mkpath(drive + u"/sub/deeper"_s));
    }

    // The program directory is current at first. The directory list opens an entry on a double click or
    // Enter, and a gone path at its nearest ancestor; the path box only follows it. Closing ends the program.
    void directoryChoice()
    {
        Application app;
        indit& start = *app.startWindow();
        DirectoryList& list = *start.Dir1;
        QCOMPARE(volumes().currentDirectory(volumes().currentDrive()), Volumes::programDirectory());
        QSignalSpy changes(&list, &DirectoryList::changed);
        list.setPath(drive + u'/'); // the trailing separator names the same directory
        list.setPath(drive);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list.entryPath(list.highlightedIndex() - 1), root->path());
        // The drive's root shows in full, the other directories by their names.
        QCOMPARE(list.item(0)->text(), list.entryPath(0));
        QCOMPARE(list.item(list.highlightedIndex())->text(), u"drive"_s);
        QTest::keyClicks(start.Text1, u"/etc"_s);
        start.Text1->clear();
        QCOMPARE(start.Text1->text(), drive);
        QListWidgetItem* sub = list.item(list.highlightedIndex() + 1);
        list.scrollToItem(sub);
        const QPoint at = list.visualItemRect(sub).center();
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(start.Text1->text(), drive + u"/sub"_s);
        QTest::keyClick(&list, Qt::Key_Return); // the highlight is on the open directory
        QTest::keyClick(&list, Qt::Key_Down);   // to "deeper", which it does not open
        QCOMPARE(changes.count(), 2);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(start.Text1->text(), drive + u"/sub/deeper"_s);
        list.setPath(drive + u"/gone/too"_s);
        QCOMPARE(list.path(), drive);
        QCOMPARE(list.entryPath(1), drive.section(u'/', 0, 1)); // under "/", the path's first directory
        QSignalSpy finished(&app, &Application::finished);
        start.close();
        QCOMPARE(finished.count(), 1);
    }

    // A drive or directory that cannot be read brings the "Fájlhiba" box; Retry tries again, Cancel goes
    // back to the previous drive in its current directory, or opens the directory with no files. A directory
    // given to the program ("argument", on another drive) opens at once, or the start window after Cancel.
    void fileErrors_data()
    {
        QTest::addColumn<QString>("target");     // "mount": the directory shown is a mount point inside "/"
        QTest::addColumn<QList<int>>("answers"); // 1 = Retry, 0 = Cancel; readable unless Cancel ends them
        const QString drive = u"drive"_s, directory = u"directory"_s;
        QTest::newRow("drive readable at once") << drive << QList<int>{};
        QTest::newRow("drive, retry, then it passes") << drive << QList<int>{1};
        QTest::newRow("drive, retry, retry, cancel") << drive << QList<int>{1, 1, 0};
        QTest::newRow("drive, cancel from a mount point") << u"mount"_s << QList<int>{0};
        QTest::newRow("directory, retry after it is back") << directory << QList<int>{1};
        QTest::newRow("directory, cancel") << directory << QList<int>{0};
        QTest::newRow("argument there") << u"argument"_s << QList<int>{};
        QTest::newRow("argument, retry after it is back") << u"argument"_s << QList<int>{1};
        QTest::newRow("argument, cancel") << u"argument"_s << QList<int>{0};
    }
    void fileErrors()
    {
        QFETCH(QString, target);
        QFETCH(QList<int>, answers);
        const bool readable = answers.isEmpty() || answers.back();
        const bool argument = target == u"argument"_s;
        const bool onDrive = target == u"drive"_s || target == u"mount"_s;
        const QString removable = root->filePath(u"media"_s);
        const QString directory = argument ? removable + u"/deeper"_s : drive + u"/sub/deeper"_s;
        const auto arrive = [&] {
            QDir().mkpath(onDrive ? removable : directory);
            makeTree(directory, "file .hidden;file a.txt;file b.txt");
        };
        if (answers.isEmpty())
            arrive();
        std::vector<ScriptedMessageBox::Step> steps;
        for (int answer : answers) // what is to be readable arrives before the first answer
            steps.push_back({answer ? MsgAnswer::Retry : MsgAnswer::Cancel,
                             readable ? std::function<void()>(arrive) : [] {}});
        DrivesForTest drives(target == u"mount"_s ? QStringList{u"/"_s, removable, drive}
                                                  : QStringList{u"/"_s, removable});
        MessageBoxScript boxes(steps);
        Application app(argument ? directory : QString());
        indit& start = *app.startWindow();
        cserel& main = app.mainWindow();
        const QString currentOfRoot = volumes().currentDirectory(u"/"_s);
        main.Text1->setText(u" "_s); // a blank is a search text
        if (!argument) {
            main.enableReplaceButtons();
            start.Dir1->setPath(onDrive ? drive : directory); // on "/", but not the current directory of "/"
        }
        if (onDrive) {
            start.Drive1->setCurrentIndex(start.Drive1->findText(removable)); // the user picks it
        } else if (!argument) {
            QVERIFY(QDir(directory).removeRecursively()); // gone before it is opened
            QTest::mouseClick(start.Command1, Qt::LeftButton);
        }
        QCOMPARE(boxes->requests.size(), size_t(answers.size()));
        for (const MsgRequest& request : boxes->requests) // 53: Retry and Cancel, with the exclamation mark
            QCOMPARE(request.title + u' ' + QString::number(request.style()) + u' ' + request.message,
                     u"Fájlhiba 53 Az útvonal nem létezik."_s + (onDrive ? QString() : u'\n' + directory));
        if (onDrive) {
            QCOMPARE(start.Drive1->drive(), readable ? removable : u"/"_s);
            // After a cancel, the previous drive checked again, in its current directory (browsing kept it).
            QCOMPARE(start.Dir1->path(), readable ? removable : currentOfRoot);
            QCOMPARE(start.Dir1->entryPath(0), start.Drive1->drive()); // the tree of the drive listed
            return;
        }
        if (argument && !readable) {
            QVERIFY(start.isVisible() && !main.isVisible());
            return;
        }
        QVERIFY(main.isVisible() && !start.isVisible());
        QCOMPARE(main.File1->files().directoryPath(), directory);
        QCOMPARE(main.Label7->text(), readable ? u" 2  db file"_s : u" 0  db file"_s);
        QVERIFY(main.Command1->isEnabled() && main.Command6->isEnabled());
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }

    void windows_data()
    {
        QTest::addColumn<QString>("button"); // one whose click opens no modal box, in the window to check
        QTest::addColumn<int>("key");
        for (const QString& button : {u"Command1"_s, u"Command8"_s, u"cmdOK"_s})
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::newRow(qPrintable(u"%1, key %2"_s.arg(button).arg(int(key), 0, 16)))
                    << button << int(key);
    }
    void windows()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        Application app;
        if (button == u"cmdOK")
            app.quit(); // shows the About window
        QWidget* shown = button == u"Command1"   ? app.startWindow()
                         : button == u"Command8" ? static_cast<QWidget*>(&app.mainWindow())
                                                 : app.aboutWindow();
        int checked = 0;
        for (const QWidget* control : shown->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(control);
            const auto* box = qobject_cast<const QAbstractButton*>(control);
            QString caption = label ? label->text() : box ? box->text() : QString();
            if (caption.remove(u'&').isEmpty())
                continue;
            ++checked;
            // A paragraph wraps at its width; other captions need the hinted width (with a box's indicator).
            QSize needed(control->sizeHint().width(), control->fontMetrics().height());
            if (label && label->wordWrap())
                needed = {0, label->heightForWidth(control->width())};
            QVERIFY2(needed.width() <= control->width() && needed.height() <= control->height(),
                     qPrintable(control->objectName() + u' ' + caption));
        }
        QVERIFY(checked > 0);
        auto* pressed = shown->findChild<QPushButton*>(button);
        QSignalSpy clicked(pressed, &QPushButton::clicked);
        const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        QKeyEvent held(QEvent::KeyPress, key, modifiers, QString(), true); // a key held down repeats
        QCoreApplication::sendEvent(pressed, &held);
        QTest::keyClick(pressed, Qt::Key(key), modifiers);
        QCOMPARE(clicked.count(), 1);
    }

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

    // t: tick, c: left click, r: right click, o: left press released off the label; a last tick shows it.
    void banner_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("caption");
        const char* cycle[] = {"   M",    "  Mor",  " Morve", "Morveli", "orvelin ", "rvelin   ", "velin   ",
                               "elin   ", "lin   ", "in   ",  "n   ",    "   ",      "",          "   M"};
        for (int ticks = 0; ticks < 14; ++ticks)
            QTest::addRow("%d ticks", ticks) << QString(ticks, u't') << cycle[ticks];
        QTest::newRow("two clicks between steps") << u"tttcc"_s << "Morveli";
        QTest::newRow("click at the end of a cycle") << QString(13, u't') + u'c' << u"   Morvelin ™   "_s;
        QTest::newRow("resumes where it stood") << u"tttttcttc"_s << "rvelin   ";
        QTest::newRow("right click") << u"tttr"_s << "Morveli";
        QTest::newRow("released off the label") << u"ttto"_s << "Morveli";
    }

    void banner()
    {
        QFETCH(QString, script);
        QFETCH(QString, caption);
        Installed<ScriptedRandom, RandomSource, installRandomSource> random;
        QLabel label;
        label.resize(100, 20);
        label.setToolTip(u"Rákattintva megállítható..."_s);
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        for (const QChar c : script + u't')
            if (c == u't')
                banner.tick();
            else
                QTest::mouseClick(&label, c == u'r' ? Qt::RightButton : Qt::LeftButton, {},
                                  {c == u'o' ? 500 : 5, 5});
        QCOMPARE(label.text(), caption);
        const QColor colour = caption.contains(u'™') ? QColor(0, 0, 255) : QColor(0, 1, 254);
        QCOMPARE(label.palette().color(QPalette::WindowText), colour);
        QCOMPARE(label.toolTip().isEmpty(), script.contains(u'c'));
        // The banner watches the label's clicks and leaves all its events to it: the caption is painted.
        const QImage painted = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto* pixel = reinterpret_cast<const QRgb*>(painted.constBits());
        QCOMPARE(std::all_of(pixel, pixel + painted.width() * painted.height(),
                             [&](QRgb p) { return p == *pixel; }),
                 caption.trimmed().isEmpty());
    }

    // The first place names the program (no data: no key); the second, %1, holds scripts (plain, hardinfo2
    // not executable) and MSINFO32.EXE: tool, plain, a directory or none. The message shows unless one ran.
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
        QTest::newRow("arguments") << RegSz << B("/bin/sh \"%1/tool\"") << "" << true
                                   << "/bin/sh \"%1/tool\"";
        QTest::newRow("one zero goes") << RegSz << B("a\0\0", 3) << "" << false << u"a"_s + QChar(0);
        QTest::newRow("number") << RegDword << B("\x01\xef\0\0", 4) << "" << false << "&h00EF01";
        QTest::newRow("expandable") << RegExpandSz << tool << "tool" << false << "";
        QTest::newRow("1024 bytes") << RegSz << B(1023, 'x') + '\0' << "" << false << QString(1023, u'x');
        QTest::newRow("1025 bytes") << RegSz << B(1024, 'x') + '\0' << "tool" << true << "%1/MSINFO32.EXE";
        QTest::newRow("not executable") << RegSz << B("%1/plain") << "tool" << false << "%1/plain";
        QTest::newRow("error") << Broken << tool << "tool" << false << "-";
        QTest::newRow("no key") << RegSz << none << "plain" << false << "%1/MSINFO32.EXE";
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
        const QString place = root->filePath(u"with blank"_s);
        QVERIFY(QDir().mkdir(place));
        const auto script = [&](const QString& name, bool executable) { // leaves NAME.ran when it runs
            writeFile(place + u'/' + name, "#!/bin/sh\n: >\"$0.ran\"\n");
            QVERIFY(!executable ||
                    QFile::setPermissions(place + u'/' + name, QFile::ReadOwner | QFile::ExeOwner));
        };
        for (const QString& name : u"tool hardinfo kinfocenter plain hardinfo2"_s.split(u' '))
            script(name, name != u"plain" && name != u"hardinfo2");
        if (msinfo == u"dir")
            QVERIFY(QDir(place).mkdir(u"MSINFO32.EXE"_s));
        else if (!msinfo.isEmpty())
            script(u"MSINFO32.EXE"_s, msinfo == u"tool");
        data.replace("%1", place.toUtf8());
        RegistryForTest registry;
        auto& keys = registry->keys;
        if (!data.isEmpty())
            keys["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"] = {"PATH", type, data};
        keys["SOFTWARE\\Microsoft\\Shared Tools Location"] = {"MSINFO", RegSz, place.toUtf8()};
        const auto restorePath = qScopeGuard([path = qgetenv("PATH")] { qputenv("PATH", path); });
        if (type == OnPath) {
            installRegistry(nullptr); // the Linux registry
            qputenv("PATH", data);
        }
        Installed<RecordingLauncher, LauncherSeam, installLauncher> launcher;
        MessageBoxScript boxes;
        StartSysInfo();
        started.replace(u"%1"_s, place);
        QCOMPARE(launcher->started, started == u"-" ? QStringList() : QStringList{started});
        QCOMPARE(int(boxes->requests.size()), ran ? 0 : 1);
        QTRY_COMPARE(QDir(place).entryList({u"*.ran"_s}).size(), ran ? 1 : 0);
    }

    // Every way to close ends the program; the system-information button (Alt+R, Tab+Return) shows a message.
    void buttonsAndKeys_data()
    {
        QTest::addColumn<bool>("closes");
        for (const char* way : {"Return", "Esc", "window frame"})
            QTest::newRow(way) << true;
        for (const char* way : {"Alt+R", "Tab, Return"})
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
        QCOMPARE(about->picIcon->pixmap().size(), QSize(32, 32)); // the icon resource is linked in
        QTest::mouseClick(about->Label1, Qt::LeftButton);
        QTRY_COMPARE(about->Label1->text(), u"   Morvelin ™   "_s); // the banner runs
        QSignalSpy finished(&app, &Application::finished);
        if (way == "window frame")
            about->close();
        else
            QTest::keySequence(about->windowHandle(), QKeySequence(QString::fromLatin1(way)));
        QTRY_COMPARE(int(boxes->requests.size()), closes ? 0 : 1); // an access key works a moment later
        QCOMPARE(finished.count(), closes ? 1 : 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(about.isNull(), closes);
    }
};

QTEST_MAIN(AppTest)
#include "tst_app.moc"
