// The four replace commands in the real main window, and kelvara-cli replace beside them, on real
// files. cleanup() holds every test to two things: the files of the working directory are as they
// were, and no message box came up that the test did not expect.

#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"
#include "support/windows.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
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

Run run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished())
        return {};
    return {process.exitStatus(), process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString Cli = QStringLiteral(KELVARA_CLI);

} // namespace

class ReplaceTest : public QObject
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

    cserel& open(Application& app, const char* search, const char* replacement)
    {
        rememberSources();
        cserel& main = openInMainWindow(app, dir.path());
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

    // Which files each file-wide command processes and how it leaves the file list. The user selects
    // `selected` and searches them (or searches all files); then f<files>.txt appears on disk, which
    // the list shows only if the command reads the directory again.
    void fileWideCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("files");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("searchAll");
        QTest::addColumn<QList<int>>("processed");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<bool>("reread");
        using L = QList<int>;
        const QString c2 = text("Command2"), c3 = text("Command3"), c4 = text("Command4");
        QTest::newRow("selected: 1 and 3 of five")
            << c4 << 5 << L{1, 3} << false << L{1, 3} << L{1, 3} << false;
        QTest::newRow("selected: 0 and 2 of three") << c4 << 3 << L{0, 2} << false << L{0} << L{0} << true;
        QTest::newRow("selected: 0 of one") << c4 << 1 << L{0} << false << L{0} << L{0} << false;
        QTest::newRow("selected: none") << c4 << 3 << L{} << false << L{} << L{} << false;
        QTest::newRow("all, after two selected")
            << c3 << 3 << L{0, 2} << false << L{0, 1, 2, 3} << L{0, 1, 2, 3} << true;
        QTest::newRow("whole file, after searching all")
            << c2 << 3 << L{} << true << L{2} << L{0, 1, 2} << false;
        QTest::newRow("whole file, no current entry") << c2 << 3 << L{} << false << L{} << L{} << false;
    }
    void fileWideCommands()
    {
        QFETCH(QString, command);
        QFETCH(int, files);
        QFETCH(QList<int>, selected);
        QFETCH(bool, searchAll);
        QFETCH(QList<int>, processed);
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
        (searchAll ? main.Command6 : main.Command1)->click();
        writeFile(path(name(files)), lines("alma", files));
        rememberSources();

        main.findChild<QPushButton*>(command)->click();
        QStringList rows, written;
        for (const int k : processed) {
            rows += block(copy(name(k))) + QStringList{QStringLiteral("szilva %1").arg(k)};
            written.append(name(k));
            QCOMPARE(readFile(copy(name(k))), lines("szilva", k));
        }
        QCOMPARE(rowsOf(*main.List1), rows);
        QVERIFY(QFileInfo(path("uj")).isDir()); // also when no file was processed
        QCOMPARE(QDir(path("uj")).entryList(QDir::Files | QDir::Hidden), written);
        QTEST(selectedEntries(*main.File1), "selectedAfter");
        QCOMPARE(main.File1->count(), reread ? files + 1 : files);
        QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible());

        main.Command6->click();
        QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
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
        QFETCH(QString, message);
        QVERIFY2(box.message.startsWith(message), qPrintable(box.message));
        if (obstacle != QLatin1String("empty"))
            QVERIFY2(box.message.endsWith(QLatin1Char('\n') + uj), qPrintable(box.message));
        if (obstacle == QLatin1String("file"))
            QCOMPARE(readFile(uj), QByteArray("nem könyvtár\r\n"));
        if (obstacle == QLatin1String("empty")) {
            QCOMPARE(rowsOf(*main.List1), searched);
            QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
            QVERIFY(!QFileInfo::exists(uj));
        }
        for (const QString& row : rowsOf(*main.List1))
            QVERIFY2(!row.contains(QLatin1String("/uj/")), qPrintable(row));
    }

    // kelvara-cli replace prints the rows that the window's hit list gets from the same command,
    // and writes the same copies.
    void commandLineAgreesWithTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("all files") << QStringList{};
        QTest::newRow("ignore case") << QStringList{text("-i")};
        QTest::newRow("named files, in list order")
            << QStringList{text("--selected"), text("utf8.txt"), text("--selected"), text("lf.txt")};
        QTest::newRow("one line") << QStringList{text("--line"), text("alma a fa alatt")};
    }
    void commandLineAgreesWithTheWindow()
    {
        QFETCH(QStringList, options);
        writeFile(path("1250.txt"), "\xC1rv\xEDzt\xFBr\xF5 alma\r\nALMA\r\n");
        writeFile(path("lf.txt"), "alma\nkörte alma\n");
        writeFile(path("star.txt"), "*alma\r\nalma a fa alatt\r\nnincs");
        writeFile(path("utf8.txt"), "Alma\r\nárvíztűrő alma alma\r\n");
        Application app;
        cserel& main = open(app, "alma", "körte");
        main.Check1->setChecked(!options.contains(text("-i")));
        main.Command6->click();
        const QStringList searched = rowsOf(*main.List1);
        const bool oneLine = options.contains(text("--line"));
        if (options.contains(text("--selected"))) {
            main.File1->clearSelection();
            main.File1->setEntrySelected(1, true);
            main.File1->setEntrySelected(3, true);
            main.Command4->click();
        } else if (oneLine) {
            clickRow(*main.List1, int(searched.indexOf(options.last())));
            main.Command7->click();
        } else {
            main.Command3->click();
        }
        const QStringList rows = rowsOf(*main.List1).mid(oneLine ? searched.size() : 0);
        const QStringList copies = filesIn(path("uj"));
        QVERIFY(QDir(path("uj")).removeRecursively());

        const Run cli = run(Cli, QStringList{text("replace")} + options +
                                     QStringList{dir.path(), text("alma"), text("körte")});
        QCOMPARE(cli.err, QString());
        QCOMPARE(cli.code, 0);
        QCOMPARE(cli.out, rows.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QCOMPARE(filesIn(path("uj")), copies);
    }

    void commandLineStatus_data()
    {
        QTest::addColumn<QStringList>("args"); // DIR stands for the directory
        QTest::addColumn<bool>("ujIsAFile");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // the whole output when it ends in a line feed, else a part
        QTest::addColumn<QString>("err"); // a part of stderr; when empty, stderr must be
        const QString d = text("DIR"), replace = text("replace");
        QTest::newRow("no occurrence: header rows only")
            << QStringList{replace, d, text("alma"), text("szilva")} << false << 1
            << block(copy("a.txt")).join(QLatin1Char('\n')) + QLatin1Char('\n') << QString();
        QTest::newRow("empty search text") << QStringList{replace, d, QString(), text("szilva")} << false << 2
                                           << QString() << text("Nincs megadva keresett szöveg.");
        QTest::newRow("plain file uj") << QStringList{replace, d, text("körte"), text("szilva")} << true << 2
                                       << QString() << path("uj") + text(": ");
        QTest::newRow("unknown option") << QStringList{replace, text("--nope"), d, text("a"), text("b")}
                                        << false << 2 << QString() << text("ismeretlen kapcsoló: --nope");
        QTest::newRow("help") << QStringList{replace, text("--help")} << false << 0 << text("replace")
                              << QString();
    }
    void commandLineStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ujIsAFile);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        writeFile(path("a.txt"), "körte\r\n");
        if (ujIsAFile)
            writeFile(path("uj"), "nem könyvtár\r\n");
        rememberSources();
        for (QString& arg : args)
            if (arg == QLatin1String("DIR"))
                arg = dir.path();

        const Run cli = run(Cli, args);
        QCOMPARE(cli.status, QProcess::NormalExit);
        QCOMPARE(cli.code, status);
        if (out.endsWith(QLatin1Char('\n')))
            QCOMPARE(cli.out, out);
        else
            QVERIFY2(cli.out.contains(out), qPrintable(cli.out));
        QVERIFY2(err.isEmpty() ? cli.err.isEmpty() : cli.err.contains(err), qPrintable(cli.err));
        // Only a run that got as far as its files has written a copy.
        if (ujIsAFile)
            QCOMPARE(readFile(path("uj")), QByteArray("nem könyvtár\r\n"));
        else
            QCOMPARE(readFile(copy("a.txt")), status == 1 ? QByteArray("körte\r\n") : QByteArray("<none>"));
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
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished());
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
        QVERIFY(!QFile::exists(copy("big.txt")));
        QCOMPARE(temporaries().size(), signal == SIGKILL ? 1 : 0);
        QCOMPARE(run(Cli, QStringList{args[0], text("--selected"), text("a.txt")} + args.mid(1)).code, 0);
        QCOMPARE(temporaries(), QStringList{});
    }

    // A copy that cannot be written whole (past a file size limit of 512 bytes: dash counts
    // 512-byte blocks) is reported and leaves the earlier copy as it was; the other files are still
    // written, and the limit's signal does not end the program.
    void commandLineWriteFailure()
    {
        writeFile(path("big.txt"), QByteArray("alma fa\r\n").repeated(300));
        writeFile(path("small.txt"), "alma\r\n");
        QVERIFY(QDir().mkpath(path("uj")));
        writeFile(copy("big.txt"), "korábbi\r\n");
        rememberSources();

        const Run cli = run(text("/bin/sh"), {text("-c"), text("ulimit -f 1; exec \"$0\" \"$@\""), Cli,
                                              text("replace"), dir.path(), text("alma"), text("szilva")});
        QCOMPARE(cli.status, QProcess::NormalExit);
        QCOMPARE(cli.code, 2);
        QVERIFY2(cli.err.contains(copy("big.txt") + text(": A lemez megtelt.")), qPrintable(cli.err));
        QCOMPARE(readFile(copy("small.txt")), QByteArray("szilva\r\n"));
        QCOMPARE(readFile(copy("big.txt")), QByteArray("korábbi\r\n"));
        QCOMPARE(QDir(path("uj")).entryList({text(".kelvara-*")}, QDir::Files | QDir::Hidden), QStringList{});
    }
};

QTEST_MAIN(ReplaceTest)
#include "tst_replace.moc"
