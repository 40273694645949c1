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
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <optional>
#include <unistd.h>

using namespace kelvara;
using namespace kelvara::test;
using namespace Qt::StringLiterals;

const QString Cli = QStringLiteral(KELVARA_CLI);
const QString App = QStringLiteral(KELVARA_APP);

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
    static QString text(const char* utf8) { return QString::fromUtf8(utf8); }
    static QString name(int k) { return u"f%1.txt"_s.arg(k); }
    static QByteArray lines(const char* word, int k) { return word + (' ' + QByteArray::number(k)) + "\r\n"; }
    // One file as fingerprint() gives it.
    static QByteArray entry(QAnyStringView name, const QByteArray& bytes)
    {
        return name.toString().toUtf8() + '\0' + bytes + '\0';
    }

    // Opens the directory as "Könyvtárnyitás" does, with these texts typed and these files selected.
    cserel& open(Application& app, const char* search = "", const char* replacement = "",
                 const QList<int>& selected = {})
    {
        rememberSources();
        app.startWindow()->Dir1->setPath(dir.path());
        app.startWindow()->Command1->click();
        cserel& main = app.mainWindow();
        main.Text1->setText(text(search));
        main.Text2->setText(text(replacement));
        for (const int k : selected)
            main.File1->files().setEntrySelected(k, true);
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
    // texts and switches, and closing the window leaves only the About window ("Kilépés": e2e_smoke).
    void lifecycle()
    {
        writeFile(path("a.txt"), "alma\r\nx alma\r\n");
        writeFile(path("b.txt"), "ALMA\r\n");
        Application app;
        QPointer<cserel> main = &open(app);
        QVERIFY(!main->Command1->isEnabled() && !main->Label6->isVisible() && !main->List2->isVisible());
        QVERIFY(main->Option1->isChecked() && main->Check1->isChecked()); // anywhere, case-sensitive
        QTest::keyClicks(main->Text1, u" "_s);
        QVERIFY(main->Command1->isEnabled() && main->Command6->isEnabled() && !main->Command3->isEnabled());
        main->Text1->clear();
        QTest::keyClicks(main->Text2, u"korte"_s);
        QVERIFY(!main->Command1->isEnabled() && !main->Command6->isEnabled());
        main->Text1->setText(u"alma"_s);
        main->Option2->setChecked(true);
        main->Check1->setCheckState(Qt::PartiallyChecked); // a greyed switch: case ignored
        main->Command6->click();
        main->Command8->click();
        QVERIFY(!main->isVisible() && app.startWindow()->isVisible() && main->List1->count() == 0);
        app.startWindow()->Command1->click();
        QCOMPARE(main->Text1->text() + main->Text2->text(), u"almakorte"_s);
        QVERIFY(main->Option2->isChecked() && main->Check1->checkState() == Qt::PartiallyChecked);
        QCOMPARE(main->Label6->text(), u" 2 db sor"_s); // "x alma" does not begin with the text
        QVERIFY(main->Label3->isVisible() && main->Label6->isVisible()); // the buttons: AppTest::fileErrors
        QVERIFY(main->Label6->font().bold() && main->Label7->font().bold()); // the counters

        QVERIFY(main->Timer1->isActive()); // the banner runs
        QSignalSpy finished(&app, &Application::finished);
        main->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QPointer<frmAbout> about = app.aboutWindow();
        QVERIFY(about && about->isVisible() && !about->isModal() && finished.count() == 0);
        QCOMPARE(QApplication::topLevelWidgets(), QWidgetList{about});
        for (const QLabel* label : {about->lblTitle, about->Label1, about->lblDescription, about->Label2})
            QVERIFY2(label->font().bold(), qPrintable(label->objectName()));
    }

    // Which files each command visits and what it leaves. Files f0.txt.. are selected as `selected`, the
    // commands run, and f<files>.txt appears after the first, shown only if a later one lists again. With a
    // `how`, file `stall` (-1: the listing) stalls until the progress window shows the files before it done;
    // then the user stops with Escape or "Mégse", closes the main window, or answers the "Fájlhiba" question
    // about the removed file over it (Retry puts it back first). After it: the rows and copies of exactly
    // the files `visited`, nothing else in uj, the selection `after`, and no box but that question.
    void commands_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("visited");
        QTest::addColumn<QList<int>>("after");
        QTest::addColumn<bool>("reread");
        QTest::addColumn<int>("stall");
        QTest::addColumn<QString>("how");
        using L = QList<int>;
        const auto row = [](const char* tag, int files, const L& selected, const char* commands,
                            const L& visited, const L& after, bool reread = false, int stall = 0,
                            const char* how = "") {
            QTest::newRow(tag) << files << selected << text(commands).split(u' ') << visited << after
                               << reread << stall << text(how);
        };
        row("all, then selected: the first", 3, {}, "6 1", {0}, {0}, true);
        row("replace 1, 3 of 5", 5, {1, 3}, "1 4", {1, 3}, {1, 3});
        row("replace 0, 2 of 3", 3, {0, 2}, "1 4", {0}, {0}, true);
        row("replace 0 of 1", 1, {0}, "1 4", {0}, {0});
        row("replace all", 3, {0, 2}, "1 3", {0, 1, 2, 3}, {0, 1, 2, 3}, true);
        row("whole file, after searching all", 3, {}, "6 2", {2}, {0, 1, 2});
        row("whole file, no current entry", 3, {}, "1 2", {}, {});
        row("search all, Escape", 5, {}, "6", {0, 1}, {0, 1}, false, 2, "Escape");
        row("search selected, Mégse", 5, {1, 3, 4}, "1", {1}, {1, 3, 4}, false, 3, "Mégse");
        row("replace all, listing, Escape", 5, {}, "3", {}, {}, false, -1, "Escape");
        row("replace one file, Escape", 5, {2}, "2", {}, {2}, false, 2, "Escape");
        row("replace all, window closed", 5, {}, "3", {0, 1}, {}, false, 2, "close");
        row("search selected, question, Cancel", 5, {1, 2, 3}, "1", {1, 3}, {1, 2, 3}, false, 2, "Cancel");
        row("replace selected, closed during the question, Retry", 5, {1, 2, 3}, "4", {1}, {}, false, 2,
            "close, Retry");
        row("replace selected, question, Retry", 5, {1, 2, 3}, "4", {1, 2, 3}, {1, 2, 3}, false, 2, "Retry");
    }
    void commands()
    {
        QFETCH(int, files);
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, visited);
        QFETCH(int, stall);
        QFETCH(QString, how);
        for (int k = 0; k < files; ++k)
            writeFile(path(name(k)), lines("alma", k));
        const bool question = how.endsWith(u"Retry"_s) || how == u"Cancel"_s;
        const bool closed = how.startsWith(u"close"_s);
        // Copies that are written under a temporary name until they stand, where one could stay behind.
        allowUnnamedFiles(false);
        Application app;
        QPointer<cserel> main = &open(app, "alma", "szilva", selected);
        const auto search = [](const QString& step) { return step == u"1"_s || step == u"6"_s; };
        if (!search(steps[0]))
            main->enableReplaceButtons(); // as a search before would
        if (question) {
            QFile::remove(path(name(stall)));
            expectedBoxes = 1;
            boxes.emplace(std::vector<ScriptedMessageBox::Step>{
                {how.endsWith(u"Retry"_s) ? MsgAnswer::Retry : MsgAnswer::Cancel, [&] {
                     const MsgRequest& box = boxes->seam->requests[0];
                     QVERIFY(box.title == u"Fájlhiba"_s && box.message.endsWith(u'\n' + path(name(stall))));
                     QVERIFY(main->findChild<ProgressWindow*>()->isVisible()); // over the progress window
                     if (closed) // the stop leaves no second question about the file
                         main->close();
                     else if (how == u"Retry"_s)
                         writeFile(path(name(stall)), lines("alma", stall));
                 }}});
        }
        // The opening of file `stall` is held until released, as a drive stalling there would.
        static QByteArray stalled;
        static std::atomic<bool> released;
        stalled = stall < 0 ? QFile::encodeName(dir.path()) : name(stall).toUtf8();
        released = how.isEmpty();
        runBeforeOpening([](const char* file) {
            for (int ms = 0; stalled == file && !released && ms < 20000; ++ms) // at most 20 s: a failure
                ::usleep(1000);
        });
        const auto resume = qScopeGuard([] { released = true, runBeforeOpening(nullptr); });
        // The files done before the stalled one, each with a block and a hit row, and the files to do.
        const int before = stall < 0 ? 0 : selected.isEmpty() ? stall : int(selected.indexOf(stall));
        const qsizetype toDo = stall < 0 ? 0 : selected.isEmpty() ? files : selected.size();
        QTimer user;
        int rowsSoFar = -1; // of the files done, while it still runs; -1 until the user acts
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* progress = main ? main->findChild<ProgressWindow*>() : nullptr;
            if (!progress || !progress->isVisible() ||
                progress->counts->text() != u"%1 / %2 file"_s.arg(before).arg(toDo))
                return;
            user.stop();
            rowsSoFar = main->List1->count();
            if (how == u"Escape"_s)
                QTest::keyClick(progress, Qt::Key_Escape);
            else if (how == u"Mégse"_s)
                progress->cancel->click();
            else if (how == u"close"_s)
                main->close();
            released = true;
        });
        if (!how.isEmpty())
            user.start(5);
        for (const QString& step : steps) {
            main->findChild<QPushButton*>(u"Command"_s + step)->click();
            writeFile(path(name(files)), lines("alma", files));
            rememberSources();
        }
        if (!how.isEmpty())
            QCOMPARE(rowsSoFar, 4 * before);
        const bool searched = search(steps.last());
        QStringList rows;
        QByteArray copies; // what uj holds, as fingerprint() gives it
        for (const int k : visited) {
            rows += block(searched ? path(name(k)) : copy(name(k))) +
                    QStringList{text(searched ? "alma %1" : "szilva %1").arg(k)};
            copies += entry(name(k), lines("szilva", k));
        }
        QCOMPARE(fingerprint(path("uj")), searched ? QByteArray() : copies);
        if (closed) {
            QCoreApplication::sendPostedEvents(nullptr, 0);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(main.isNull() && app.aboutWindow() && app.aboutWindow()->isVisible());
            return;
        }
        QCOMPARE(rowsOf(*main->List1), rows);
        QCOMPARE(main->List1->model()->rowCount(), rows.size()); // the view shows them all
        QTEST(selectedEntries(*main->File1), "after");
        QFETCH(bool, reread);
        QCOMPARE(main->File1->files().entryCount(), reread ? files + 1 : files);
        QTest::keyClick(main->File1, Qt::Key_Shift); // leaves the selection as it is and shows its count
        QCOMPARE(main->Label7->text(), u" %1  db file"_s.arg(selectedEntries(*main->File1).size()));
        QCOMPARE(main->Label6->isVisible() ? main->Label6->text() : QString(),
                 searched ? u" %1 db sor"_s.arg(visited.size()) : QString());
    }

    // The progress window's words: the counts, the name of the file the pass waits for (none once all are
    // done, or once the pass has ended) and a bar without a percentage.
    void progressFigures_data()
    {
        QTest::addColumn<int>("done");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("shown");
        QTest::newRow("at file 2 of 3") << 1 << true << u"1 / 3 file, b.txt"_s;
        QTest::newRow("all done") << 3 << true << u"3 / 3 file, "_s;
        QTest::newRow("pass ended") << 1 << false << u"1 / 3 file, "_s;
    }
    void progressFigures()
    {
        QFETCH(int, done);
        QFETCH(bool, running);
        PassControl control;
        control.filesToDo = 3;
        control.filesCommitted = done;
        if (running)
            control.pathOf = [](size_t k) {
                return u"/d/%1.txt"_s.arg(k < 3 ? QChar(char16_t(u'a' + k)) : QChar(u'?'));
            };
        QWidget owner;
        ProgressWindow progress(&owner, control);
        QTest::qWait(ProgressWindow::ShowAfterMs);
        progress.pulse([] {});
        QVERIFY(progress.isVisible());
        const QProgressBar& bar = *progress.bar;
        QTEST(progress.counts->text() + u", "_s + progress.current->text() +
                  (bar.isTextVisible() ? u", "_s + bar.text() : QString()),
              "shown");
    }

    // "Cserél a kiválasztott sorban", case ignored, in the selected b.txt and c.txt: the first occurrence in
    // each line equal to the hit row chosen, matched with its case. Rows beginning with * cannot be chosen.
    void selectedLine()
    {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(name), "abc x abc\r\nabc\r\n*abc\r\n");
        Application app;
        cserel& main = open(app, "ABC", "Q", {1, 2});
        main.Check1->setChecked(false);
        main.Command1->click();
        const QStringList searched = rowsOf(*main.List1);
        clickRow(*main.List1, int(searched.indexOf(u"*abc"_s)));
        QCOMPARE(main.List1->selectedIndex(), -1);
        const int row = int(searched.indexOf(u"abc x abc"_s));
        clickRow(*main.List1, row);
        main.Command7->click();
        const QByteArray written = "Q x abc\r\nabc\r\n*abc\r\n";
        QCOMPARE(fingerprint(path("uj")), entry("b.txt", written) + entry("c.txt", written)); // not a.txt
        const QStringList hit{u"Q x abc"_s};
        QCOMPARE(rowsOf(*main.List1), searched + block(copy("b.txt")) + hit + block(copy("c.txt")) + hit);
        QCOMPARE(main.List1->selectedIndex(), row);
        QCOMPARE(selectedEntries(*main.File1), (QList<int>{1, 2}));
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
        const auto during = [&] { QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible()); };
        boxes.emplace(std::vector<ScriptedMessageBox::Step>{{MsgAnswer::Cancel, during}});
        QFETCH(QString, command);
        main.findChild<QPushButton*>(command)->click();
        QCOMPARE(std::pair(main.Label3->isVisible(), main.Label6->isVisible()),
                 std::pair(!started, !started));
        expectedBoxes = 1;
        QCOMPARE(boxes->seam->requests.size(), expectedBoxes);
        const QString box = boxes->seam->requests[0].title + u' ' + boxes->seam->requests[0].message;
        QFETCH(QString, message);
        QVERIFY2(box.startsWith(message) && (!started || box.endsWith(u'\n' + path("uj"))), qPrintable(box));
        QCOMPARE(rowsOf(*main.List1), started ? QStringList{} : searched);
        QCOMPARE(QFileInfo::exists(path("uj")), started);
    }

    // Exit statuses and what reaches stdout and stderr. In `args`, '|' parts the arguments, DIR stands for
    // the directory, a first one "kelvara" runs the window program instead, and a first one with a blank
    // is a shell command that the program and its arguments follow.
    void commandLineStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // the whole output when it ends in a line feed, else a part
        QTest::addColumn<QString>("err"); // said once on stderr; when empty, stderr must be
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
        // Run in DIR, where an empty DIR taken for "." would write a uj; search and replace share the check.
        row("empty DIR", "cd DIR && exec|replace||körte|szilva", 2, {},
            u"kelvara-cli: üres a KÖNYVTÁR: Az útvonal nem létezik."_s);
        // Only descriptors 0 to 3 at hand, whatever the test inherited: 3 loads the libraries.
        row("too many open files", "exec 3>&-; ulimit -n 4; exec|replace|DIR|barack|szilva", 2, {},
            u"Túl sok a megnyitott fájl."_s);
        row("unknown option", "replace|--nope|DIR|a|b", 2, {}, u"ismeretlen kapcsoló: --nope"_s);
        row("a command without its operands", "search", 2, {}, u"a KÖNYVTÁR és a SZÖVEG kell"_s);
        row("unknown command", "keres", 2, {}, u"ismeretlen parancs: keres"_s);
        row("no thread", "search|--threads=0|DIR|a", 2, {}, u"a --threads értéke"_s);
        row("an option without its value", "search|DIR|a|--threads", 2, {}, u"hiányzik az értéke"_s);
        row("help", "replace|--help", 0, u"replace"_s);
        row("search, a byte-order mark is a character", "search|DIR|\uFEFFalma", 1, u" 0 db sor"_s);
        row("search a named file, an operand after --", "search|--selected=a.txt|DIR|--|-körte", 0,
            lines(block(path("a.txt")), "-körte| 1 db sor"));
        // Past a file size limit of 512 bytes (dash counts blocks): reported, the signal does not end it.
        row("write failure", "ulimit -f 1; exec|replace|DIR|fa|szilva", 2, {},
            copy("big.txt") + u": A lemez megtelt."_s);
        // One flush of uj's file system makes the copies safe before it reports; no leak check under strace.
        row("replace flushes uj once",
            "exec env ASAN_OPTIONS=detect_leaks=0 strace -fqq -e syncfs|replace|DIR|fa|x", 0,
            lines(both, "alma a x"), u"syncfs("_s);
        row("the window program, two directories", "kelvara|DIR|DIR", 2, {},
            u"csak egy könyvtár adható meg: "_s + dir.path());
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
        writeFile(path("a.txt"), "-körte\r\n");
        writeFile(path("b.txt"), "Alma\r\n  alma x\r\nalma a fa\r\n*alma\r\n-körte x\r\n");
        if (args[0].startsWith(u"ulimit -f"_s))
            writeFile(path("big.txt"), QByteArray("körte fa\r\n").repeated(300));
        rememberSources();
        args.replaceInStrings(QRegularExpression(u"\\bDIR\\b"_s), dir.path());
        const bool shell = args[0].contains(u' ');
        if (shell)
            args = QStringList{u"-c"_s, args[0] + u" \"$0\" \"$@\""_s, Cli} + args.mid(1);
        const bool window = args[0] == u"kelvara"_s;
        QProcess cli;
        cli.start(shell ? u"/bin/sh"_s : window ? App : Cli, window ? args.mid(1) : args);
        QVERIFY(cli.waitForFinished());
        const QString said = QString::fromUtf8(cli.readAllStandardOutput());
        const QString complaint = QString::fromUtf8(cli.readAllStandardError());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QTEST(cli.exitCode(), "status");
        QVERIFY2(out.endsWith(u'\n') ? said == out : said.contains(out), qPrintable(said));
        QVERIFY2(err.isEmpty() ? complaint.isEmpty() : complaint.count(err) == 1, qPrintable(complaint));
        // A copy is written exactly when its header block is printed.
        QCOMPARE(readFile(copy("a.txt")), said.contains(copy("a.txt")) ? "-körte\r\n" : "<none>");
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
        QProcess cli; // the shell becomes kelvara-cli
        cli.start(u"/bin/sh"_s,
                  {u"-c"_s, (ignored ? u"trap '' HUP; "_s : QString()) + u"exec \"$0\" \"$@\""_s, Cli,
                   u"replace"_s, dir.path(), u"alma"_s, u"szilva"_s});
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
