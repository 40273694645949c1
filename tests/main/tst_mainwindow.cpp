// The main window on real files: its buttons, the search and replace commands, the list clicks, and
// kelvara-cli beside it. cleanup() holds every test to two things: the files of the working directory
// are as they were, and no message box came up that the test did not expect.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/directorylist.h"
#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <optional>
#include <unistd.h>

using namespace kelvara;
using namespace kelvara::test;

namespace {

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// The regular files of a directory but uj, by name and a hash of their bytes.
QStringList filesIn(const QString& directory)
{
    QStringList files;
    const QDir dir(directory);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        if (name != QLatin1String("uj"))
            files.append(name + QLatin1Char(' ') + QString::number(qHash(readFile(dir.filePath(name)))));
    return files;
}

struct Run
{
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QString out, err;
};

const QString Cli = QStringLiteral(KELVARA_CLI);

Run run(const QStringList& args, const QString& program = Cli)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished())
        return {};
    return {process.exitStatus(), process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::optional<QStringList> sources;
    std::optional<MessageBoxScript> boxes; // answers Cancel to every box
    size_t expectedBoxes = 0;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString path(const char* name) const { return path(text(name)); }
    QString copy(const QString& name) const { return dir.filePath(QStringLiteral("uj/") + name); }
    QString copy(const char* name) const { return copy(text(name)); }
    void rememberSources() { sources = filesIn(dir.path()); }

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
    }

    void cleanup()
    {
        const size_t shown = boxes->requests().size();
        boxes.reset();
        QCOMPARE(shown, expectedBoxes);
        if (sources)
            QCOMPARE(filesIn(dir.path()), *sources);
    }

    // Only the search text enables the search buttons; only a search enables the replace buttons.
    void buttonsFollowTheTexts_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("one character") << text("a") << QString() << true;
        QTest::newRow("blanks only") << text("  ") << QString() << true;
        QTest::newRow("emptied again") << QString() << QString() << false;
        QTest::newRow("replacement only") << QString() << text("abc") << false;
    }
    void buttonsFollowTheTexts()
    {
        QFETCH(QString, search);
        QFETCH(QString, replacement);
        Application app;
        cserel& main = open(app);
        QVERIFY(!main.Command1->isEnabled());
        QTest::keyClicks(main.Text1, QStringLiteral("xy"));
        main.Text1->setText(search);
        QTest::keyClicks(main.Text2, replacement);
        QTEST(main.Command1->isEnabled(), "enabled");
        QTEST(main.Command6->isEnabled(), "enabled");
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }

    void newDirectoryGoesBackAndKeepsTheWindowsState()
    {
        writeFile(path("a.txt"), "alma\r\n");
        Application app;
        cserel& main = open(app, "alma", "körte");
        // Centred to within the window frame, whose size is not known before the window is shown.
        const QPoint offCentre = main.geometry().center() - main.screen()->geometry().center();
        const QSize frame = main.frameGeometry().size() - main.size();
        QVERIFY(qAbs(offCentre.x()) <= frame.width() && qAbs(offCentre.y()) <= frame.height());
        QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible() && !main.List2->isVisible());
        main.Option2->setChecked(true);
        main.Check1->setChecked(false);
        main.Command6->click();

        main.Command8->click();
        QVERIFY(!main.isVisible() && app.startWindow()->isVisible());
        QCOMPARE(main.List1->count(), 0);
        app.startWindow()->Command1->click();
        QVERIFY(main.isVisible());
        QCOMPARE(main.Text1->text() + main.Text2->text(), text("almakörte"));
        QVERIFY(main.Option2->isChecked() && !main.Check1->isChecked());
        QVERIFY(main.Label6->isVisible());
        QCOMPARE(main.Label6->text(), text(" 1 db sor"));
        QVERIFY(main.Command1->isEnabled() && !main.Command2->isEnabled());
    }

    void exitLeavesOnlyTheAboutWindow_data()
    {
        QTest::addColumn<bool>("byFrame");
        QTest::newRow("Kilépés") << false;
        QTest::newRow("window frame") << true;
    }
    void exitLeavesOnlyTheAboutWindow()
    {
        QFETCH(bool, byFrame);
        Application app;
        QPointer<cserel> main = &open(app);
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
        QVERIFY(about && about->isVisible() && !about->isModal());
        QCOMPARE(QApplication::topLevelWidgets(), QWidgetList{about});
        QCOMPARE(finished.count(), 0);
        // "OK" ends the event loop the program runs in, which closing a window alone does not.
        QApplication::setQuitOnLastWindowClosed(false);
        QTimer::singleShot(0, about, [&] { about->cmdOK->click(); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(1); }); // in case it does not
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(finished.count(), 1);
    }

    // Which files each command visits and how it leaves the file list. Files f0.txt.. are selected as
    // `selected`, then the commands run ("-k": f<k>.txt is removed first, and Cancel in its "Fájlhiba"
    // box skips it); after the first one f<files>.txt appears, which the list shows only if a command
    // reads the directory again. The last command's hit list holds the blocks of `visited`.
    void commands_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QList<int>>("visited");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<bool>("reread");
        using L = QList<int>;
        QTest::newRow("search all") << 2 << L{} << text("6") << L{0, 1} << L{0, 1} << false;
        QTest::newRow("all, then selected: the first") << 3 << L{} << text("6 1") << L{0} << L{0} << true;
        QTest::newRow("selected as the user left them")
            << 3 << L{0, 2} << text("1") << L{0, 2} << L{0, 2} << false;
        QTest::newRow("selected, empty list") << 0 << L{} << text("1") << L{} << L{} << false;
        QTest::newRow("selected, one vanished") << 3 << L{1} << text("-1 1") << L{} << L{1} << false;
        QTest::newRow("replace selected: 1 and 3 of five")
            << 5 << L{1, 3} << text("1 4") << L{1, 3} << L{1, 3} << false;
        QTest::newRow("replace selected: 0 and 2 of three")
            << 3 << L{0, 2} << text("1 4") << L{0} << L{0} << true;
        QTest::newRow("replace selected: 0 of one") << 1 << L{0} << text("1 4") << L{0} << L{0} << false;
        QTest::newRow("replace selected: none") << 3 << L{} << text("1 4") << L{} << L{} << false;
        QTest::newRow("replace all, after two selected")
            << 3 << L{0, 2} << text("1 3") << L{0, 1, 2, 3} << L{0, 1, 2, 3} << true;
        QTest::newRow("whole file, after searching all")
            << 3 << L{} << text("6 2") << L{2} << L{0, 1, 2} << false;
        QTest::newRow("whole file, no current entry") << 3 << L{} << text("1 2") << L{} << L{} << false;
    }
    void commands()
    {
        QFETCH(int, files);
        QFETCH(QList<int>, selected);
        QFETCH(QString, commands);
        QFETCH(QList<int>, visited);
        QFETCH(bool, reread);
        const auto name = [](int k) { return QStringLiteral("f%1.txt").arg(k); };
        const auto lines = [](const char* word, int k) {
            return word + (' ' + QByteArray::number(k)) + "\r\nkörte\r\n";
        };
        for (int k = 0; k < files; ++k)
            writeFile(path(name(k)), lines("alma", k));
        Application app;
        cserel& main = open(app, "alma", "szilva");
        for (const int k : selected)
            main.File1->setEntrySelected(k, true);
        const QStringList steps = commands.split(QLatin1Char(' '));
        for (const QString& step : steps) {
            if (step.startsWith(QLatin1Char('-'))) {
                QFile::remove(path(name(-step.toInt())));
                expectedBoxes = 1;
                continue;
            }
            main.findChild<QPushButton*>(QStringLiteral("Command") + step)->click();
            if (!QFile::exists(path(name(files))))
                writeFile(path(name(files)), lines("alma", files));
            rememberSources();
        }
        if (expectedBoxes)
            QVERIFY(boxes->requests()[0].title == text("Fájlhiba") &&
                    boxes->requests()[0].message.endsWith(QLatin1Char('\n') + path(name(1))));
        const bool searched = steps.last() == QLatin1String("6") || steps.last() == QLatin1String("1");
        QStringList rows, written;
        for (const int k : visited) {
            rows += block(searched ? path(name(k)) : copy(name(k))) +
                    QStringList{text(searched ? "alma %1" : "szilva %1").arg(k)};
            written.append(name(k));
            if (!searched)
                QCOMPARE(readFile(copy(name(k))), lines("szilva", k));
        }
        QCOMPARE(rowsOf(*main.List1), rows);
        QCOMPARE(main.List1->model()->rowCount(), rows.size()); // the view shows them all
        QTEST(selectedEntries(*main.File1), "selectedAfter");
        QCOMPARE(main.File1->count(), reread ? files + 1 : files);
        QCOMPARE(main.Label3->isVisible() && main.Label6->isVisible(), searched);
        if (searched) {
            QCOMPARE(main.Label6->text(), QStringLiteral(" %1 db sor").arg(visited.size()));
            QCOMPARE(main.modeMarker, text("ak"));
            for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
                QVERIFY(button->isEnabled());
        } else {
            QCOMPARE(QDir(path("uj")).entryList(QDir::Files | QDir::Hidden), written); // uj even when empty
            main.Command6->click();
            QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
        }
    }

    // Clicks in the file list recount the selection; hit rows beginning with "*" cannot stay
    // selected, by mouse or by arrow keys.
    void listClicks()
    {
        writeFile(path("a.txt"), "*alma\r\nalma\r\n");
        writeFile(path("b.txt"), "x\r\n");
        writeFile(path("c.txt"), "x\r\n");
        Application app;
        cserel& main = open(app, "alma");
        QCOMPARE(main.Label7->text(), text(" 3  db file"));
        FileList& files = *main.File1;
        const auto click = [&](int k, Qt::KeyboardModifiers modifiers) {
            QTest::mouseClick(files.viewport(), Qt::LeftButton, modifiers,
                              files.visualRect(files.model()->index(k, 0)).center());
        };
        click(0, {});
        QCOMPARE(main.Label7->text(), text(" 1  db file"));
        click(2, Qt::ControlModifier);
        QCOMPARE(main.Label7->text(), text(" 2  db file"));
        click(2, Qt::ControlModifier);
        click(0, Qt::ControlModifier);
        QCOMPARE(main.Label7->text(), text(" 0  db file"));

        main.Command6->click();
        HitList& list = *main.List1;
        QCOMPARE(list.count(), 5);
        for (const int row : {0, 1, 2, 3}) {
            clickRow(list, row);
            QCOMPARE(list.selectedIndex(), -1);
        }
        clickRow(list, 4);
        QCOMPARE(list.selectedIndex(), 4);
        list.setFocus();
        QTest::keyClick(list.viewport(), Qt::Key_Up); // onto the hit row "*alma"
        QCOMPARE(list.selectedIndex(), -1);
        QTest::keyClick(list.viewport(), Qt::Key_Down);
        QCOMPARE(list.selectedIndex(), 4);
    }

    // "Cserél a kiválasztott sorban" with b.txt and c.txt selected (a.txt not), all three holding `lines`.
    void selectedLine_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QByteArray>("search");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("row"); // the hit row the user selects; none when empty
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<QStringList>("rewritten"); // under each file's header block
        const QByteArray abc("abc x abc\r\nabc\r\n");
        QTest::newRow("first occurrence, in lines equal to the row")
            << true << QByteArray("abc") << abc << text("abc x abc") << QByteArray("Q x abc\r\nabc\r\n")
            << QStringList{text("Q x abc")};
        QTest::newRow("case ignored in the search, not in the row")
            << false << QByteArray("ABC") << QByteArray("abc def\r\nABC DEF\r\n") << text("abc def")
            << QByteArray("Q def\r\nABC DEF\r\n") << QStringList{text("Q def")};
        QTest::newRow("no row selected")
            << true << QByteArray("abc") << abc << QString() << abc << QStringList{};
    }
    void selectedLine()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(QByteArray, search);
        QFETCH(QByteArray, lines);
        QFETCH(QString, row);
        QFETCH(QStringList, rewritten);
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(name), lines);
        Application app;
        cserel& main = open(app, search.constData(), "Q");
        main.Check1->setChecked(caseSensitive);
        main.File1->setEntrySelected(1, true);
        main.File1->setEntrySelected(2, true);
        main.Command1->click();
        const QStringList searched = rowsOf(*main.List1);
        const int selectedRow = row.isEmpty() ? -1 : int(searched.indexOf(row));
        if (selectedRow >= 0)
            clickRow(*main.List1, selectedRow);
        QCOMPARE(main.List1->selectedIndex(), selectedRow);

        main.Command7->click();
        QStringList gained;
        for (const char* name : {"b.txt", "c.txt"}) {
            gained += block(copy(name)) + rewritten;
            QTEST(readFile(copy(name)), "copy");
        }
        QVERIFY(!QFile::exists(copy("a.txt")));
        QCOMPARE(rowsOf(*main.List1), searched + gained);
        QCOMPARE(main.List1->selectedIndex(), selectedRow);
        QCOMPARE(selectedEntries(*main.File1), (QList<int>{1, 2}));
        QCOMPARE(main.modeMarker, text("ujak"));
        QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible());
    }

    // A command that cannot start, or has nowhere to write, says why once and writes nothing.
    void refusals_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message"); // how the box's text begins
        for (const char* command : {"Command2", "Command3", "Command4", "Command7"})
            QTest::addRow("empty search text, %s", command)
                << text(command) << text("empty") << text("Kelvara")
                << text("Nincs megadva keresett szöveg.");
        for (const char* command : {"Command3", "Command7"})
            QTest::addRow("plain file uj, %s", command)
                << text(command) << text("file") << text("Fájlhiba") << QString();
        for (const char* command : {"Command2", "Command4"})
            QTest::addRow("uj leads back, %s", command) << text(command) << text("link") << text("Kelvara")
                                                        << text("Az uj nem könyvtár, hanem hivatkozás");
    }
    void refusals()
    {
        QFETCH(QString, command);
        QFETCH(QString, obstacle);
        QFETCH(QString, message);
        writeFile(path("a.txt"), "alma\r\n");
        writeFile(path("b.txt"), "alma fa\r\n");
        const QString uj = path("uj");
        if (obstacle == QLatin1String("file"))
            writeFile(uj, "nem könyvtár\r\n");
        if (obstacle == QLatin1String("link"))
            QVERIFY(QFile::link(QStringLiteral("."), uj));
        Application app;
        cserel& main = open(app, "alma", "szilva");
        main.Command6->click();
        if (obstacle == QLatin1String("empty"))
            main.Text1->clear();
        const QStringList searched = rowsOf(*main.List1);

        main.findChild<QPushButton*>(command)->click();
        expectedBoxes = 1;
        QCOMPARE(boxes->requests().size(), expectedBoxes);
        const MsgRequest& box = boxes->requests()[0];
        QTEST(box.title, "title");
        QVERIFY2(box.message.startsWith(message), qPrintable(box.message));
        if (obstacle == QLatin1String("empty")) {
            QCOMPARE(rowsOf(*main.List1), searched);
            QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
            QVERIFY(!QFileInfo::exists(uj));
        } else {
            QVERIFY2(box.message.endsWith(QLatin1Char('\n') + uj), qPrintable(box.message));
        }
        if (obstacle == QLatin1String("file"))
            QCOMPARE(readFile(uj), QByteArray("nem könyvtár\r\n"));
        for (const QString& row : rowsOf(*main.List1))
            QVERIFY2(!row.contains(QLatin1String("/uj/")), qPrintable(row));
    }

    // kelvara-cli prints the rows the window's hit list gets from the same command (a search adds the
    // count) and writes the same copies; the window reads a greyed case switch as unchecked.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args"); // the command's name, then its options
        QTest::addColumn<int>("check");
        const auto row = [](const char* name, QStringList args, Qt::CheckState check) {
            QTest::newRow(name) << args << int(check);
        };
        row("search", {text("search")}, Qt::Checked);
        row("search -i", {text("search"), text("-i")}, Qt::Unchecked);
        row("search, greyed", {text("search"), text("-i")}, Qt::PartiallyChecked);
        row("search --line-start", {text("search"), text("--line-start")}, Qt::Checked);
        row("search -i --line-start", {text("search"), text("-i"), text("--line-start")}, Qt::Unchecked);
        row("replace", {text("replace")}, Qt::Checked);
        row("replace -i", {text("replace"), text("-i")}, Qt::Unchecked);
        row("replace named files, in list order",
            {text("replace"), text("--selected"), text("utf8.txt"), text("--selected"), text("lf.txt")},
            Qt::Checked);
        row("replace one line", {text("replace"), text("--line"), text("alma a fa alatt")}, Qt::Checked);
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, check);
        writeFile(path("1250.txt"), "\xC1rv\xEDzt\xFBr\xF5 alma\r\nALMA\r\n");
        writeFile(path("lf.txt"), "alma\nkörte alma\n");
        writeFile(path("star.txt"), "*alma\r\nalma a fa alatt\r\n  alma\r\nnincs");
        writeFile(path("utf8.txt"), "Alma\r\nárvíztűrő alma alma\r\n");
        Application app;
        cserel& main = open(app, "alma", "körte");
        main.Check1->setCheckState(Qt::CheckState(check));
        main.Option2->setChecked(args.contains(text("--line-start")));
        main.Command6->click();
        QVERIFY(main.hitCount >= 2);
        QStringList rows = rowsOf(*main.List1);
        const bool oneLine = args.contains(text("--line"));
        if (args[0] == QLatin1String("search")) {
            rows.append(main.Label6->text());
        } else {
            if (args.contains(text("--selected"))) {
                main.File1->clearSelection();
                main.File1->setEntrySelected(1, true);
                main.File1->setEntrySelected(3, true);
                main.Command4->click();
            } else if (oneLine) {
                clickRow(*main.List1, int(rows.indexOf(args.last())));
                main.Command7->click();
            } else {
                main.Command3->click();
            }
            rows = rowsOf(*main.List1).mid(oneLine ? rows.size() : 0);
        }
        const QStringList copies = filesIn(path("uj"));
        QDir(path("uj")).removeRecursively();
        const Run cli = run(args + QStringList{dir.path(), text("alma"), text("körte")}.mid(
                                       0, args[0] == QLatin1String("search") ? 2 : 3));
        QCOMPARE(cli.err, QString());
        QCOMPARE(cli.code, 0);
        QCOMPARE(cli.out, rows.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QCOMPARE(filesIn(path("uj")), copies);
    }

    // Exit statuses and what reaches stdout and stderr. A copy that cannot be written whole (past a
    // file size limit of 512 bytes: dash counts 512-byte blocks) is reported, leaves the earlier copy
    // as it was and the other copies written, and the limit's signal does not end the program.
    void commandLineStatus_data()
    {
        QTest::addColumn<QStringList>("args"); // DIR stands for the directory
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // the whole output when it ends in a line feed, else a part
        QTest::addColumn<QString>("err"); // a part of stderr; when empty, stderr must be
        const QString d = text("DIR"), replace = text("replace"), search = text("search");
        QTest::newRow("no occurrence: header rows only")
            << QStringList{replace, d, text("alma"), text("szilva")} << 1
            << block(copy("a.txt")).join(QLatin1Char('\n')) + QLatin1Char('\n') << QString();
        QTest::newRow("empty search text") << QStringList{replace, d, QString(), text("szilva")} << 2
                                           << QString() << text("Nincs megadva keresett szöveg.");
        QTest::newRow("plain file uj") << QStringList{replace, d, text("körte"), text("szilva")} << 2
                                       << QString() << path("uj") + text(": ");
        QTest::newRow("unknown option") << QStringList{replace, text("--nope"), d, text("a"), text("b")} << 2
                                        << QString() << text("ismeretlen kapcsoló: --nope");
        QTest::newRow("help") << QStringList{replace, text("--help")} << 0 << text("replace") << QString();
        QTest::newRow("search, no hit")
            << QStringList{search, d, text("alma")} << 1 << text(" 0 db sor") << QString();
        QTest::newRow("search, an operand after --")
            << QStringList{search, d, text("--"), text("-körte")} << 0 << text(" 1 db sor") << QString();
        QTest::newRow("write failure") << QStringList{text("ulimit -f 1; exec \"$0\" \"$@\""),
                                                      Cli,
                                                      replace,
                                                      d,
                                                      text("körte"),
                                                      text("szilva")}
                                       << 2 << QString() << copy("big.txt") + text(": A lemez megtelt.");
    }
    void commandLineStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const bool limited = args[0].startsWith(QLatin1String("ulimit"));
        const bool ujIsAFile = QByteArray(QTest::currentDataTag()) == "plain file uj";
        writeFile(path("a.txt"), "-körte\r\n");
        if (limited) {
            writeFile(path("big.txt"), QByteArray("körte fa\r\n").repeated(300));
            QVERIFY(QDir().mkpath(path("uj")));
            writeFile(copy("big.txt"), "korábbi\r\n");
        } else if (ujIsAFile) {
            writeFile(path("uj"), "nem könyvtár\r\n");
        }
        rememberSources();
        args.replaceInStrings(QRegularExpression(QStringLiteral("^DIR$")), dir.path());

        const Run cli = limited ? run(QStringList{text("-c")} + args, text("/bin/sh")) : run(args);
        QCOMPARE(cli.status, QProcess::NormalExit);
        QTEST(cli.code, "status");
        QVERIFY2(out.endsWith(QLatin1Char('\n')) ? cli.out == out : cli.out.contains(out),
                 qPrintable(cli.out));
        QVERIFY2(err.isEmpty() ? cli.err.isEmpty() : cli.err.contains(err), qPrintable(cli.err));
        if (limited) {
            QCOMPARE(readFile(copy("a.txt")), QByteArray("-szilva\r\n"));
            QCOMPARE(readFile(copy("big.txt")), QByteArray("korábbi\r\n"));
            QCOMPARE(QDir(path("uj")).entryList({text(".kelvara-*")}, QDir::Files | QDir::Hidden),
                     QStringList{});
        } else if (!ujIsAFile) { // only a run that got as far as its files wrote a copy
            QCOMPARE(readFile(copy("a.txt")), args[0] == QLatin1String("replace") && cli.code == 1
                                                  ? QByteArray("-körte\r\n")
                                                  : QByteArray("<none>"));
        }
    }

    // kelvara-cli ended by a signal halfway through a copy leaves no temporary file behind; one
    // killed outright does, and the next run removes it.
    void commandLineKilled_data()
    {
        QTest::addColumn<int>("signal");
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL})
            QTest::addRow("%s", sigabbrev_np(signal)) << signal;
    }
    void commandLineKilled()
    {
        QFETCH(int, signal);
        writeFile(path("a.txt"), "alma\r\n");
        writeFile(path("big.txt"), QByteArray("alma fa\r\n").repeated(2 << 20));
        rememberSources();
        const QStringList args{text("replace"), dir.path(), text("alma"), text("szilva")};
        const auto temporaries = [this] {
            return QDir(path("uj")).entryList({text(".kelvara-*")}, QDir::Files | QDir::Hidden);
        };
        QProcess cli;
        cli.start(Cli, QStringList{args[0], text("--selected"), text("big.txt")} + args.mid(1));
        QVERIFY(cli.waitForStarted());
        while (temporaries().isEmpty() && !cli.waitForFinished(0))
            ::usleep(200);
        QCOMPARE(cli.state(), QProcess::Running); // a pid of 0 would signal this test's own group
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished());
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
        QVERIFY(!QFile::exists(copy("big.txt")));
        QCOMPARE(temporaries().size(), signal == SIGKILL ? 1 : 0);
        QCOMPARE(run(QStringList{args[0], text("--selected"), text("a.txt")} + args.mid(1)).code, 0);
        QCOMPARE(temporaries(), QStringList{});
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
