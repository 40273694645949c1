// The main window on real files, and kelvara-cli beside it. cleanup() holds every test to two things: the
// files of the working directory are as they were, and no message box came up that the test did not expect.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/indit.h"
#include "io/tempfiles.h"
#include "io/textlines.h"
#include "main/cserel.h"
#include "main/progresswindow.h"
#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"
#include "widgets/directorylist.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstring>
#include <optional>
#include <unistd.h>

using namespace kelvara;
using namespace kelvara::test;
using namespace Qt::StringLiterals;

namespace {

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

const QString Cli = QStringLiteral(KELVARA_CLI);

// Runs to the end; stdout and stderr are read apart.
struct Run : QProcess
{
    Run(const QStringList& args, const QString& program = Cli)
    {
        start(program, args);
        waitForFinished();
        out = QString::fromUtf8(readAllStandardOutput());
        err = QString::fromUtf8(readAllStandardError());
    }
    QString out, err;
};

// Holds the opening of one file until released, as a drive that stalls there would; a command's
// workers run into it while the window's thread goes on.
struct Stall
{
    static inline QByteArray name;
    static inline std::atomic<bool> released;

    explicit Stall(const QByteArray& file)
    {
        name = file;
        released = false;
        runBeforeOpening(&opening);
    }
    ~Stall()
    {
        release();
        runBeforeOpening(nullptr);
    }
    static void opening(const char* file)
    {
        for (int ms = 0; name == file && !released && ms < 20000; ++ms) // at most 20 s: a failure, not a hang
            ::usleep(1000);
    }
    static void release()
    {
        released = true;
        released.notify_all();
    }
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::optional<QByteArray> sources;
    std::optional<MessageBoxScript> boxes; // answers Cancel to every box
    size_t expectedBoxes = 0;

    QString path(QAnyStringView name) const { return dir.filePath(name.toString()); }
    QString copy(QAnyStringView name) const { return path(u"uj/"_s + name.toString()); }
    void rememberSources() { sources = fingerprint(dir.path()); }
    // f<k>.txt, which holds one line: the word and k.
    static QString name(int k) { return u"f%1.txt"_s.arg(k); }
    static QByteArray lines(const char* word, int k) { return word + (' ' + QByteArray::number(k)) + "\r\n"; }
    // One file as fingerprint() gives it.
    static QByteArray entry(QAnyStringView name, const QByteArray& bytes)
    {
        return name.toString().toUtf8() + '\0' + bytes + '\0';
    }

    // Opens the directory as "Könyvtárnyitás" does, with these texts typed.
    cserel& open(Application& app, const char* search = "", const char* replacement = "")
    {
        rememberSources();
        app.startWindow()->Dir1->setPath(dir.path());
        app.startWindow()->Command1->click();
        cserel& main = app.mainWindow();
        main.Text1->setText(text(search));
        main.Text2->setText(text(replacement));
        return main;
    }

private slots:
    void init()
    {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        sources.reset();
        boxes.emplace();
        expectedBoxes = 0;
        allowUnnamedFiles(true);
    }

    void cleanup()
    {
        const size_t shown = boxes->seam->requests.size();
        boxes.reset();
        QCOMPARE(shown, expectedBoxes);
        if (sources)
            QCOMPARE(fingerprint(dir.path()), *sources);
    }

    // Only the search text enables the search buttons, "Új könyvtár" goes back to the start window keeping
    // texts and switches, and "Kilépés" or the frame leave only the About window.
    void lifecycle_data()
    {
        QTest::addColumn<bool>("byFrame");
        QTest::newRow("Kilépés") << false;
        QTest::newRow("window frame") << true;
    }
    void lifecycle()
    {
        writeFile(path("a.txt"), "alma\r\n");
        writeFile(path("b.txt"), "ALMA\r\n");
        Application app;
        QPointer<cserel> main = &open(app);
        QVERIFY(!main->Command1->isEnabled() && !main->Label6->isVisible() && !main->List2->isVisible());
        QTest::keyClicks(main->Text1, u" "_s);
        QVERIFY(main->Command1->isEnabled() && main->Command6->isEnabled() && !main->Command3->isEnabled());
        main->Text1->clear();
        QTest::keyClicks(main->Text2, u"korte"_s);
        QVERIFY(!main->Command1->isEnabled() && !main->Command6->isEnabled());
        clickRow(*main->File1, 1);
        QCOMPARE(main->Label7->text(), u" 1  db file"_s); // a click recounts the selected files
        main->Text1->setText(u"alma"_s);
        main->Option2->setChecked(true);
        main->Check1->setCheckState(Qt::PartiallyChecked); // a greyed switch: case ignored
        main->Command6->click();
        main->Command8->click();
        QVERIFY(!main->isVisible() && app.startWindow()->isVisible() && main->List1->count() == 0);
        app.startWindow()->Command1->click();
        QCOMPARE(main->Text1->text() + main->Text2->text(), u"almakorte"_s);
        QVERIFY(main->Option2->isChecked() && main->Check1->checkState() == Qt::PartiallyChecked);
        QCOMPARE(main->Label6->text(), u" 2 db sor"_s);
        QVERIFY(main->Label3->isVisible() && main->Label6->isVisible() && main->Command1->isEnabled() &&
                !main->Command2->isEnabled());

        QFETCH(bool, byFrame);
        QPointer<QTimer> banner = main->Timer1;
        QVERIFY(banner->isActive());
        QSignalSpy finished(&app, &Application::finished);
        if (byFrame)
            main->close();
        else
            main->Command5->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(main.isNull() && banner.isNull() && !app.startWindow());
        QPointer<frmAbout> about = app.aboutWindow();
        QVERIFY(about && about->isVisible() && !about->isModal() && finished.count() == 0);
        QCOMPARE(QApplication::topLevelWidgets(), QWidgetList{about});
    }

    // Which files each command visits and how it leaves the file list. Files f0.txt.. are selected as
    // `selected`, then the commands run; after the first one f<files>.txt appears, which the list shows
    // only if a command reads the directory again. The last command's hit list holds the blocks of `visited`.
    // A key in the file list, leaving the selection as it is, shows its count.
    void commands_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QList<int>>("visited");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<bool>("reread");
        using L = QList<int>;
        QTest::newRow("search all") << 2 << L{} << u"6"_s << L{0, 1} << L{0, 1} << false;
        QTest::newRow("all, then selected: the first") << 3 << L{} << u"6 1"_s << L{0} << L{0} << true;
        QTest::newRow("selected as left") << 3 << L{0, 2} << u"1"_s << L{0, 2} << L{0, 2} << false;
        QTest::newRow("selected, empty list") << 0 << L{} << u"1"_s << L{} << L{} << false;
        QTest::newRow("replace 1, 3 of 5") << 5 << L{1, 3} << u"1 4"_s << L{1, 3} << L{1, 3} << false;
        QTest::newRow("replace 0, 2 of 3") << 3 << L{0, 2} << u"1 4"_s << L{0} << L{0} << true;
        QTest::newRow("replace 0 of 1") << 1 << L{0} << u"1 4"_s << L{0} << L{0} << false;
        QTest::newRow("replace none") << 3 << L{} << u"1 4"_s << L{} << L{} << false;
        QTest::newRow("replace all") << 3 << L{0, 2} << u"1 3"_s << L{0, 1, 2, 3} << L{0, 1, 2, 3} << true;
        QTest::newRow("whole file, after searching all")
            << 3 << L{} << u"6 2"_s << L{2} << L{0, 1, 2} << false;
        QTest::newRow("whole file, no current entry") << 3 << L{} << u"1 2"_s << L{} << L{} << false;
    }
    void commands()
    {
        QFETCH(int, files);
        QFETCH(QList<int>, selected);
        QFETCH(QString, commands);
        QFETCH(QList<int>, visited);
        for (int k = 0; k < files; ++k)
            writeFile(path(name(k)), lines("alma", k));
        Application app;
        cserel& main = open(app, "alma", "szilva");
        for (const int k : selected)
            main.File1->files().setEntrySelected(k, true);
        for (const QString& step : commands.split(u' ')) {
            main.findChild<QPushButton*>(u"Command"_s + step)->click();
            if (!QFile::exists(path(name(files))))
                writeFile(path(name(files)), lines("alma", files));
            rememberSources();
        }
        const bool searched = commands.endsWith(u'6') || commands.endsWith(u'1');
        QStringList rows;
        QByteArray copies; // what uj holds, as fingerprint() gives it
        for (const int k : visited) {
            rows += block(searched ? path(name(k)) : copy(name(k))) +
                    QStringList{text(searched ? "alma %1" : "szilva %1").arg(k)};
            copies += entry(name(k), lines("szilva", k));
        }
        QCOMPARE(fingerprint(path("uj")), searched ? QByteArray() : copies);
        QCOMPARE(rowsOf(*main.List1), rows);
        QCOMPARE(main.List1->model()->rowCount(), rows.size()); // the view shows them all
        QTEST(selectedEntries(*main.File1), "selectedAfter");
        QFETCH(bool, reread);
        QCOMPARE(main.File1->files().entryCount(), reread ? files + 1 : files);
        QTest::keyClick(main.File1, Qt::Key_Shift);
        QCOMPARE(main.Label7->text(), u" %1  db file"_s.arg(selectedEntries(*main.File1).size()));
        QCOMPARE(main.Label6->isVisible() ? main.Label6->text() : QString(),
                 searched ? u" %1 db sor"_s.arg(visited.size()) : QString());
    }

    // "Cserél a kiválasztott sorban", case ignored, with b.txt and c.txt selected (a.txt not), all three
    // holding `lines`: the first occurrence in each line equal to the selected row, matched with its case.
    void selectedLine_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("row");          // the hit row the user clicks
        QTest::addColumn<QByteArray>("rewritten"); // each copy, line 1 the new hit row; none: as its file
        QTest::newRow("first occurrence")
            << QByteArray("abc x abc\r\nabc\r\n") << u"abc x abc"_s << QByteArray("Q x abc\r\nabc\r\n");
        // A header row cannot be chosen, so no row is, and no line equals an empty one.
        QTest::newRow("a row beginning with *") << QByteArray("*abc\r\n") << u"*abc"_s << QByteArray();
    }
    void selectedLine()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, row);
        QFETCH(QByteArray, rewritten);
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(name), lines);
        Application app;
        cserel& main = open(app, "ABC", "Q");
        main.Check1->setChecked(false);
        main.File1->files().setEntrySelected(1, true);
        main.File1->files().setEntrySelected(2, true);
        main.Command1->click();
        const QStringList searched = rowsOf(*main.List1);
        clickRow(*main.List1, int(searched.indexOf(row)));
        main.Command7->click();
        const QByteArray written = rewritten.isEmpty() ? lines : rewritten;
        QCOMPARE(fingerprint(path("uj")), entry("b.txt", written) + entry("c.txt", written)); // not a.txt
        const QStringList hit =
            rewritten.isEmpty() ? QStringList{} : QStringList{QString::fromUtf8(written.split('\r')[0])};
        QCOMPARE(rowsOf(*main.List1), searched + block(copy("b.txt")) + hit + block(copy("c.txt")) + hit);
        QCOMPARE(main.List1->selectedIndex(), rewritten.isEmpty() ? -1 : int(searched.indexOf(row)));
        QCOMPARE(selectedEntries(*main.File1), (QList<int>{1, 2}));
        QCOMPARE(main.modeMarker, u"ujak"_s);
    }

    // A command that cannot start, or has nowhere to write, says why once and writes nothing.
    void refusals_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("uj");   // how makeTree() makes uj; without one the search text is empty
        QTest::addColumn<QString>("message"); // the box's title and how its text begins
        for (const char* command : {"Command2", "Command3", "Command4", "Command7"})
            QTest::addRow("empty search text, %s", command)
                << text(command) << QByteArray() << u"Kelvara Nincs megadva keresett szöveg."_s;
        QTest::newRow("uj leads back")
            << u"Command4"_s << QByteArray("ln . uj") << u"Kelvara Az uj nem könyvtár, hanem hivatkozás"_s;
        QTest::newRow("uj is a file")
            << u"Command3"_s << QByteArray("file uj") << u"Kelvara Az uj nem könyvtár, hanem fájl"_s;
    }
    void refusals()
    {
        QFETCH(QByteArray, uj);
        const bool started = !uj.isEmpty(); // the command starts, then finds no uj to write into
        writeFile(path("a.txt"), "alma\r\n");
        if (started)
            makeTree(dir.path(), uj);
        Application app;
        cserel& main = open(app, "alma", "szilva");
        main.Command6->click();
        if (!started)
            main.Text1->clear();
        const QStringList searched = rowsOf(*main.List1);
        // The old count is gone while the box is open, and comes back when the command refused to start.
        bool countDuringBox = true;
        const auto during = [&] { countDuringBox = main.Label3->isVisible() || main.Label6->isVisible(); };
        boxes.emplace(std::vector<ScriptedMessageBox::Step>{{MsgAnswer::Cancel, during}});
        QFETCH(QString, command);
        main.findChild<QPushButton*>(command)->click();
        QCOMPARE(std::tuple(countDuringBox, main.Label3->isVisible(), main.Label6->isVisible()),
                 std::tuple(false, !started, !started));
        expectedBoxes = 1;
        QCOMPARE(boxes->seam->requests.size(), expectedBoxes);
        const QString box = boxes->seam->requests[0].title + u' ' + boxes->seam->requests[0].message;
        QFETCH(QString, message);
        QVERIFY2(box.startsWith(message) && (!started || box.endsWith(u'\n' + path("uj"))), qPrintable(box));
        QCOMPARE(rowsOf(*main.List1), started ? QStringList{} : searched);
        QCOMPARE(QFileInfo::exists(path("uj")), started);
    }

    // The window program takes one directory at most.
    void windowCommandLine()
    {
        const Run two({dir.path(), dir.path()}, QStringLiteral(KELVARA_APP));
        QVERIFY2(two.exitCode() == 2 && two.err.contains(u"csak egy könyvtár adható meg: "_s + dir.path()),
                 qPrintable(two.err));
    }

    // A command whose file `stall` of f0.txt.. (-1: the listing) stalls, with `selected` selected: once the
    // progress window shows that the files before it are done, the user acts (`how`): stops it with
    // Escape or "Mégse", closes the main window, or, when the file was removed, answers the
    // "Fájlhiba" question that comes over the progress window (Retry puts it back first). What stands
    // after it: the rows, copies and selection of exactly the files `kept`, nothing else in uj, the
    // search rows as kelvara-cli gives them for those files, and no box but that question.
    void longCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("stall");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<int>>("kept");
        using L = QList<int>;
        QTest::newRow("search all, Escape") << u"6"_s << L{} << 2 << u"Escape"_s << L{0, 1};
        QTest::newRow("search selected, Mégse") << u"1"_s << L{1, 3, 4} << 3 << u"Mégse"_s << L{1};
        QTest::newRow("replace all, Escape") << u"3"_s << L{} << 2 << u"Escape"_s << L{0, 1};
        QTest::newRow("replace all, listing, Escape") << u"3"_s << L{} << -1 << u"Escape"_s << L{};
        QTest::newRow("replace one file, Escape") << u"2"_s << L{2} << 2 << u"Escape"_s << L{};
        QTest::newRow("replace all, window closed") << u"3"_s << L{} << 2 << u"close"_s << L{0, 1};
        QTest::newRow("search selected, question, Cancel")
            << u"1"_s << L{1, 2, 3} << 2 << u"Cancel"_s << L{1, 3};
        QTest::newRow("replace selected, closed during the question, Retry")
            << u"4"_s << L{1, 2, 3} << 2 << u"close, Retry"_s << L{1};
        QTest::newRow("replace selected, question, Retry")
            << u"4"_s << L{1, 2, 3} << 2 << u"Retry"_s << L{1, 2, 3};
    }
    void longCommand()
    {
        QFETCH(QString, command);
        QFETCH(QList<int>, selected);
        QFETCH(int, stall);
        QFETCH(QString, how);
        QFETCH(QList<int>, kept);
        for (int k = 0; k < 5; ++k)
            writeFile(path(name(k)), lines("alma", k));
        const bool question = how.endsWith(u"Retry"_s) || how == u"Cancel"_s;
        const bool closed = how.startsWith(u"close"_s);
        // Copies that are written under a temporary name until they stand, where one could stay behind.
        allowUnnamedFiles(false);
        Application app;
        QPointer<cserel> main = &open(app, "alma", "szilva");
        main->enableReplaceButtons();
        for (const int k : selected)
            main->File1->files().setEntrySelected(k, true);
        const Stall stalled(stall < 0 ? QFile::encodeName(dir.path()) : name(stall).toUtf8());
        bool progressUnderQuestion = false;
        if (question) {
            QFile::remove(path(name(stall)));
            expectedBoxes = 1;
            boxes.emplace(std::vector<ScriptedMessageBox::Step>{
                {how.endsWith(u"Retry"_s) ? MsgAnswer::Retry : MsgAnswer::Cancel, [&] {
                     progressUnderQuestion = main->findChild<ProgressWindow*>()->isVisible();
                     if (closed) // the stop leaves no second question about the file
                         main->close();
                     else if (how == u"Retry"_s)
                         writeFile(path(name(stall)), lines("alma", stall));
                 }}});
        }
        const QString doneBeforeStall =
            stall < 0            ? u"0 / 0 file"_s
            : selected.isEmpty() ? u"%1 / 5 file"_s.arg(stall)
                                 : u"%1 / %2 file"_s.arg(selected.indexOf(stall)).arg(selected.size());
        QTimer user;
        QElapsedTimer clock;
        clock.start();
        int rowsSoFar = -1; // of the files done, while it still runs; -1 until the user acts
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (clock.elapsed() > 20000) // a failure, not a hang
                Stall::release();
            auto* progress = main ? main->findChild<ProgressWindow*>() : nullptr;
            if (!progress || !progress->isVisible() || progress->counts->text() != doneBeforeStall)
                return;
            user.stop();
            rowsSoFar = main->List1->count();
            if (how == u"Escape"_s)
                QTest::keyClick(progress, Qt::Key_Escape);
            else if (how == u"Mégse"_s)
                progress->cancel->click();
            else if (how == u"close"_s)
                main->close();
            Stall::release();
        });
        user.start(5);
        main->findChild<QPushButton*>(u"Command"_s + command)->click();
        QVERIFY(rowsSoFar >= 0);
        rememberSources();
        QCOMPARE(progressUnderQuestion, question);
        if (question)
            QVERIFY(boxes->seam->requests[0].title == u"Fájlhiba"_s &&
                    boxes->seam->requests[0].message.endsWith(u'\n' + path(name(stall))));
        const bool searched = command == u"6"_s || command == u"1"_s;
        QStringList rows, named;
        QByteArray copies; // what uj holds, as fingerprint() gives it
        for (const int k : kept) {
            rows += block(searched ? path(name(k)) : copy(name(k))) +
                    QStringList{text(searched ? "alma %1" : "szilva %1").arg(k)};
            copies += entry(name(k), lines("szilva", k));
            named += {u"--selected"_s, name(k)};
        }
        QCOMPARE(fingerprint(path("uj")), searched ? QByteArray() : copies);
        if (closed) {
            QCoreApplication::sendPostedEvents(nullptr, 0);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(main.isNull() && app.aboutWindow() && app.aboutWindow()->isVisible());
            return;
        }
        QCOMPARE(rowsOf(*main->List1), rows);
        if (!question)
            QCOMPARE(rowsSoFar, rows.size());
        const bool all = command == u"6"_s || command == u"3"_s; // selects each file at its turn
        QCOMPARE(selectedEntries(*main->File1), all ? kept : selected);
        if (searched) // the rows and the hit count that kelvara-cli shows for the files kept
            QCOMPARE(Run(QStringList{u"search"_s} + named + QStringList{dir.path(), u"alma"_s}).out,
                     (rows + QStringList{main->Label6->text()}).join(u'\n') + u'\n');
    }

    // Exit statuses and what reaches stdout and stderr. In `args`, '|' parts the arguments, DIR stands for
    // the directory, and a first one with a blank is run by a shell before the program. A copy that cannot
    // be written whole (past a file size limit of 512 bytes: dash counts 512-byte blocks) is reported,
    // leaves the earlier copy as it was and the other copies written, and the limit's signal does not end
    // the program.
    void commandLineStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // the whole output when it ends in a line feed, else a part
        QTest::addColumn<QString>("err"); // a part of stderr; when empty, stderr must be
        const auto row = [](const char* tag, const char* args, int status, const QString& out,
                            const QString& err = {}) {
            QTest::newRow(tag) << text(args).split(u'|') << status << out << err;
        };
        const auto lines = [](const QStringList& header, const char* rows) {
            return (header + text(rows).split(u'|', Qt::SkipEmptyParts)).join(u'\n') + u'\n';
        };
        const QStringList both = block(copy("a.txt")) + block(copy("b.txt"));
        row("no occurrence: header rows only", "replace|DIR|barack|szilva", 1, lines(both, ""));
        row("search, case ignored, at line starts", "search|-i|--line-start|DIR|alma", 0,
            lines(block(path("b.txt")), "Alma|alma a fa| 2 db sor"));
        row("replace named files, in list order",
            "replace|--selected=b.txt|--threads|1|--selected|a.txt|DIR|alma|körte", 0,
            lines(both, "  körte x|körte a fa|*körte"));
        row("replace the lines equal to one", "replace|--line|alma a fa|DIR|alma|körte", 0,
            lines(both, "körte a fa"));
        row("empty search text", "replace|DIR||szilva", 2, {}, u"Nincs megadva keresett szöveg."_s);
        row("DIR is a file", "search|DIR/a.txt|körte", 2, {},
            path("a.txt") + u": Az útvonal nem könyvtár."_s);
        // Run in DIR, where an empty DIR taken for "." would write a uj.
        const QString noDirectory = u"kelvara-cli: üres a KÖNYVTÁR: Az útvonal nem létezik."_s;
        row("replace, empty DIR", "cd DIR &&|replace||körte|szilva", 2, {}, noDirectory);
        row("search, empty DIR", "cd DIR &&|search||körte", 2, {}, noDirectory);
        // Only descriptors 0 to 3 at hand, whatever the test inherited: 3 loads the libraries.
        row("too many open files", "exec 3>&-; ulimit -n 4;|replace|DIR|barack|szilva", 2, {},
            u"Túl sok a megnyitott fájl."_s);
        row("unknown option", "replace|--nope|DIR|a|b", 2, {}, u"ismeretlen kapcsoló: --nope"_s);
        row("a command without its operands", "search", 2, {}, u"a KÖNYVTÁR és a SZÖVEG kell"_s);
        row("unknown command", "keres", 2, {}, u"ismeretlen parancs: keres"_s);
        row("no thread", "search|--threads=0|DIR|a", 2, {}, u"a --threads értéke"_s);
        row("help", "replace|--help", 0, u"replace"_s);
        // Also a search without a hit.
        row("search, a byte-order mark is a character", "search|DIR|\uFEFFalma", 1, u" 0 db sor"_s);
        row("search, an operand after --", "search|DIR|--|-körte", 0, u" 1 db sor"_s);
        row("write failure", "ulimit -f 1;|replace|DIR|körte|szilva", 2, {},
            copy("big.txt") + u": A lemez megtelt."_s);
    }
    void commandLineStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QFETCH(QString, err);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // Their runtime tests memory through a pipe, which it cannot make then, and reports an error.
        if (args[0].contains(u"ulimit -n"_s))
            QSKIP("the sanitizers need descriptors of their own");
#endif
        const bool limited = args[0].startsWith(u"ulimit -f"_s);
        writeFile(path("a.txt"), "-körte\r\n");
        writeFile(path("b.txt"), "Alma\r\n  alma x\r\nalma a fa\r\n*alma\r\n");
        if (limited) {
            writeFile(path("big.txt"), QByteArray("körte fa\r\n").repeated(300));
            QVERIFY(QDir().mkpath(path("uj")));
            writeFile(copy("big.txt"), "korábbi\r\n");
        }
        rememberSources();
        args.replaceInStrings(QRegularExpression(u"\\bDIR\\b"_s), dir.path());
        const bool shell = args[0].contains(u' ');
        if (shell)
            args = QStringList{u"-c"_s, args[0] + u" exec \"$0\" \"$@\""_s, Cli} + args.mid(1);
        const Run cli(args, shell ? u"/bin/sh"_s : Cli);
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QTEST(cli.exitCode(), "status");
        QVERIFY2(out.endsWith(u'\n') ? cli.out == out : cli.out.contains(out), qPrintable(cli.out));
        QVERIFY2(err.isEmpty() ? cli.err.isEmpty() : cli.err.contains(err), qPrintable(cli.err));
        if (limited) // b.txt, without a hit, is copied as it is; nothing is left under a temporary name
            QCOMPARE(fingerprint(path("uj")), entry("a.txt", "-szilva\r\n") +
                                                  entry("b.txt", readFile(path("b.txt"))) +
                                                  entry("big.txt", "korábbi\r\n"));
        else // a copy is written exactly when its header block is printed
            QCOMPARE(readFile(copy("a.txt")), cli.out.contains(copy("a.txt")) ? "-körte\r\n" : "<none>");
    }

    // A replace makes its copies safe from a power loss before it reports: one flush of uj's file system.
    void commandLineFlushes()
    {
        writeFile(path("a.txt"), "alma\r\n");
        rememberSources();
        // Without the leak check of a sanitizer build, which cannot run under a tracer.
        const Run cli({u"ASAN_OPTIONS=detect_leaks=0"_s, u"strace"_s, u"-f"_s, u"-qq"_s, u"-e"_s,
                       u"trace=syncfs"_s, Cli, u"replace"_s, dir.path(), u"alma"_s, u"x"_s},
                      u"env"_s);
        QVERIFY2(cli.exitCode() == 0 && cli.err.count(u"syncfs("_s) == 1, qPrintable(cli.err));
    }

    // kelvara-cli ended by a signal halfway through a copy, even outright, leaves nothing of it.
    void commandLineKilled_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignored"); // as under nohup: the run goes on to its end
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL})
            QTest::addRow("%s", sigabbrev_np(signal)) << signal << false;
        QTest::addRow("HUP, ignored") << SIGHUP << true;
    }
    void commandLineKilled()
    {
        QFETCH(int, signal);
        QFETCH(bool, ignored);
        writeFile(path("big.txt"), QByteArray("alma fa\r\n").repeated(2 << 20));
        rememberSources();
        QProcess cli;
        const QStringList args{u"replace"_s, dir.path(), u"alma"_s, u"szilva"_s};
        if (ignored)
            cli.start(u"/bin/sh"_s, QStringList{u"-c"_s, u"trap '' HUP; exec \"$0\" \"$@\""_s, Cli} + args);
        else
            cli.start(Cli, args);
        QVERIFY(cli.waitForStarted());
        const auto writing = [&] {
            for (const QFileInfo& fd :
                 QDir(u"/proc/%1/fd"_s.arg(cli.processId())).entryInfoList(QDir::AllEntries | QDir::System))
                if (fd.symLinkTarget().startsWith(path("uj") + u'/'))
                    return true;
            return false;
        };
        while (!writing() && !cli.waitForFinished(0))
            ::usleep(200);
        QCOMPARE(cli.state(), QProcess::Running); // a pid of 0 would signal this test's own group
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished());
        QCOMPARE(cli.exitStatus(), ignored ? QProcess::NormalExit : QProcess::CrashExit);
        QCOMPARE(QDir(path("uj")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 ignored ? QStringList{u"big.txt"_s} : QStringList{});
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
