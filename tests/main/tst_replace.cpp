// The four replace commands in the real main window, and kelvara-cli replace beside them, on real
// files. Whatever a test does, the files of the working directory must stay as they were: cleanup()
// holds every test to that.

#include "platform/filelist.h"
#include "platform/hitlist.h"
#include "support/files.h"
#include "support/seams.h"
#include "support/windows.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

using namespace kelvara;
using kelvara::test::writeFile;

namespace {

const QString Stars = QString(150, QLatin1Char('*'));

QStringList rowsOf(const HitList& list)
{
    QStringList rows;
    for (int k = 0; k < list.count(); ++k)
        rows.append(list.text(k));
    return rows;
}

QStringList block(const QString& path)
{
    return {Stars, QStringLiteral("**  ") + path + QStringLiteral("  **"), Stars};
}

QList<int> selectedEntries(const FileList& files)
{
    QList<int> selected;
    for (int k = 0; k < files.count(); ++k)
        if (files.isEntrySelected(k))
            selected.append(k);
    return selected;
}

void clickRow(HitList& list, int row)
{
    const QRect rect = list.visualRect(list.model()->index(row, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// The regular files of a directory, uj left out, by name and a hash of their bytes.
QStringList filesIn(const QString& directory)
{
    QStringList files;
    const QDir dir(directory);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        if (name != QLatin1String("uj"))
            files.append(name + QLatin1Char(' ') +
                         QString::fromLatin1(
                             QCryptographicHash::hash(readFile(dir.filePath(name)), QCryptographicHash::Sha1)
                                 .toHex()));
    return files;
}

struct Run
{
    QProcess::ExitStatus status;
    int code;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished())
        return {QProcess::CrashExit, -1, {}, process.errorString()};
    return {process.exitStatus(), process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class ReplaceTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::optional<QStringList> sources;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString copy(const QString& name) const { return dir.filePath(QStringLiteral("uj/") + name); }
    void rememberSources() { sources = filesIn(dir.path()); }

    cserel& open(Application& app, const QString& search, const QString& replacement)
    {
        rememberSources();
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(search);
        main.Text2->setText(replacement);
        return main;
    }

private slots:
    void init()
    {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        sources.reset();
    }

    void cleanup()
    {
        if (sources)
            QCOMPARE(filesIn(dir.path()), *sources);
    }

    // Which files each file-wide command processes and how it leaves the file list. The user selects
    // `selected` and searches them (or searches all files); then f<files>.txt appears on disk, so
    // only a command that reads the directory again lists it.
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
        const QString c2 = QStringLiteral("Command2"), c3 = QStringLiteral("Command3"),
                      c4 = QStringLiteral("Command4");
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
        QFETCH(QList<int>, selectedAfter);
        QFETCH(bool, reread);
        const auto name = [](int k) { return QStringLiteral("f%1.txt").arg(k); };
        const auto write = [&](int k) {
            writeFile(path(name(k)), "alma " + QByteArray::number(k) + "\r\nkörte\r\n");
        };
        for (int k = 0; k < files; ++k)
            write(k);
        Application app;
        cserel& main = open(app, QStringLiteral("alma"), QStringLiteral("szilva"));
        for (const int k : selected)
            main.File1->setEntrySelected(k, true);
        (searchAll ? main.Command6 : main.Command1)->click();
        write(files);
        rememberSources();

        main.findChild<QPushButton*>(command)->click();
        QStringList rows;
        QStringList written;
        for (const int k : processed) {
            rows += block(copy(name(k))) + QStringList{QStringLiteral("szilva %1").arg(k)};
            written.append(name(k));
            QCOMPARE(readFile(copy(name(k))), "szilva " + QByteArray::number(k) + "\r\nkörte\r\n");
        }
        QCOMPARE(rowsOf(*main.List1), rows);
        QCOMPARE(QDir(path(QStringLiteral("uj"))).entryList(QDir::Files | QDir::Hidden), written);
        QCOMPARE(selectedEntries(*main.File1), selectedAfter);
        QCOMPARE(main.File1->count(), reread ? files + 1 : files);
        QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible());

        main.Command6->click();
        QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
    }

    // "Cserél a kiválasztott sorban" with b.txt and c.txt selected (a.txt not), all three holding `lines`.
    void selectedLine_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("row"); // the hit row the user selects; none when empty
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<QStringList>("rewritten"); // under each file's header block
        const QByteArray twoAbc("abc x abc\r\nabc\r\n");
        QTest::newRow("first occurrence, in lines equal to the row")
            << true << QStringLiteral("abc") << twoAbc << QStringLiteral("abc x abc")
            << QByteArray("Q x abc\r\nabc\r\n") << QStringList{QStringLiteral("Q x abc")};
        QTest::newRow("case ignored in the search, not in the row")
            << false << QStringLiteral("ABC") << QByteArray("abc def\r\nABC DEF\r\n")
            << QStringLiteral("abc def") << QByteArray("Q def\r\nABC DEF\r\n")
            << QStringList{QStringLiteral("Q def")};
        QTest::newRow("no row selected")
            << true << QStringLiteral("abc") << twoAbc << QString() << twoAbc << QStringList{};
    }
    void selectedLine()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(QString, search);
        QFETCH(QByteArray, lines);
        QFETCH(QString, row);
        QFETCH(QByteArray, copy);
        QFETCH(QStringList, rewritten);
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(QLatin1String(name)), lines);
        Application app;
        cserel& main = open(app, search, QStringLiteral("Q"));
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
            gained += block(this->copy(QLatin1String(name))) + rewritten;
            QCOMPARE(readFile(this->copy(QLatin1String(name))), copy);
        }
        QVERIFY(!QFile::exists(this->copy(QStringLiteral("a.txt"))));
        QCOMPARE(rowsOf(*main.List1), searched + gained);
        QCOMPARE(main.List1->selectedIndex(), selectedRow);
        QCOMPARE(selectedEntries(*main.File1), (QList<int>{1, 2}));
        QCOMPARE(main.modeMarker, QStringLiteral("ujak"));
        QVERIFY(!main.Label3->isVisible() && !main.Label6->isVisible());
    }

    // A command that cannot start or has nowhere to write says why once and writes nothing.
    void refusals_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message"); // how the box's text begins
        const QString kelvara = QStringLiteral("Kelvara");
        const QString none = QStringLiteral("Nincs megadva keresett szöveg.");
        for (const char* command : {"Command2", "Command3", "Command4", "Command7"})
            QTest::addRow("empty search text, %s", command)
                << QString::fromLatin1(command) << QStringLiteral("empty") << kelvara << none;
        for (const char* command : {"Command3", "Command7"})
            QTest::addRow("plain file uj, %s", command)
                << QString::fromLatin1(command) << QStringLiteral("file") << QStringLiteral("Fájlhiba")
                << QString();
        for (const char* command : {"Command2", "Command4"})
            QTest::addRow("uj leads back, %s", command)
                << QString::fromLatin1(command) << QStringLiteral("link") << kelvara
                << QStringLiteral("Az uj könyvtár azonos a megnyitott könyvtárral");
    }
    void refusals()
    {
        QFETCH(QString, command);
        QFETCH(QString, obstacle);
        QFETCH(QString, title);
        QFETCH(QString, message);
        writeFile(path(QStringLiteral("a.txt")), "alma\r\n");
        writeFile(path(QStringLiteral("b.txt")), "alma fa\r\n");
        const QString uj = path(QStringLiteral("uj"));
        if (obstacle == QLatin1String("file"))
            writeFile(uj, "nem könyvtár\r\n");
        if (obstacle == QLatin1String("link"))
            QVERIFY(QFile::link(QStringLiteral("."), uj));
        Application app;
        cserel& main = open(app, QStringLiteral("alma"), QStringLiteral("szilva"));
        main.Command6->click();
        if (obstacle == QLatin1String("empty"))
            main.Text1->clear();
        const QStringList searched = rowsOf(*main.List1);

        test::MessageBoxScript script({{MsgAnswer::Cancel}});
        main.findChild<QPushButton*>(command)->click();
        QCOMPARE(script.requests().size(), size_t(1));
        const MsgRequest& box = script.requests()[0];
        QCOMPARE(box.title, title);
        QVERIFY2(box.message.startsWith(message), qPrintable(box.message));
        if (obstacle == QLatin1String("file")) {
            QVERIFY2(box.message.endsWith(QLatin1Char('\n') + uj), qPrintable(box.message));
            QCOMPARE(readFile(uj), QByteArray("nem könyvtár\r\n"));
        }
        if (obstacle == QLatin1String("empty")) {
            QCOMPARE(rowsOf(*main.List1), searched);
            QVERIFY(main.Label3->isVisible() && main.Label6->isVisible());
            QVERIFY(!QFileInfo::exists(uj));
        }
        for (const QString& row : rowsOf(*main.List1))
            QVERIFY2(!row.contains(QLatin1String("/uj/")), qPrintable(row));
    }

    // kelvara-cli replace prints the rows the window's hit list gets from the same command, and
    // writes the same copies.
    void commandLineAgreesWithTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("all files") << QStringList{};
        QTest::newRow("ignore case") << QStringList{QStringLiteral("-i")};
        QTest::newRow("named files, in list order")
            << QStringList{QStringLiteral("--selected"), QStringLiteral("utf8.txt"),
                           QStringLiteral("--selected"), QStringLiteral("lf.txt")};
        QTest::newRow("one line") << QStringList{QStringLiteral("--line"), QStringLiteral("alma a fa alatt")};
    }
    void commandLineAgreesWithTheWindow()
    {
        QFETCH(QStringList, options);
        writeFile(path(QStringLiteral("1250.txt")), "\xC1rv\xEDzt\xFBr\xF5 alma\r\nALMA\r\n");
        writeFile(path(QStringLiteral("lf.txt")), "alma\nkörte alma\n");
        writeFile(path(QStringLiteral("star.txt")), "*alma\r\nalma a fa alatt\r\nnincs");
        writeFile(path(QStringLiteral("utf8.txt")), "Alma\r\nárvíztűrő alma alma\r\n");
        Application app;
        cserel& main = open(app, QStringLiteral("alma"), QStringLiteral("körte"));
        main.Check1->setChecked(!options.contains(QStringLiteral("-i")));
        main.Command6->click();
        const QStringList searched = rowsOf(*main.List1);
        if (options.contains(QStringLiteral("--selected"))) {
            main.File1->clearSelection();
            main.File1->setEntrySelected(1, true);
            main.File1->setEntrySelected(3, true);
            main.Command4->click();
        } else if (options.contains(QStringLiteral("--line"))) {
            clickRow(*main.List1, int(searched.indexOf(options.last())));
            main.Command7->click();
        } else {
            main.Command3->click();
        }
        const QStringList rows =
            rowsOf(*main.List1).mid(options.contains(QStringLiteral("--line")) ? searched.size() : 0);
        const QString uj = path(QStringLiteral("uj"));
        const QStringList copies = filesIn(uj);
        QVERIFY(QDir(uj).removeRecursively());

        const Run cli = run(QStringLiteral(KELVARA_CLI),
                            QStringList{QStringLiteral("replace")} + options +
                                QStringList{dir.path(), QStringLiteral("alma"), QStringLiteral("körte")});
        QCOMPARE(cli.err, QString());
        QCOMPARE(cli.code, 0);
        QCOMPARE(cli.out, rows.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QCOMPARE(filesIn(uj), copies);
    }

    void commandLineStatus_data()
    {
        QTest::addColumn<QStringList>("args"); // DIR stands for the directory
        QTest::addColumn<bool>("ujIsAFile");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");     // the whole output when it ends in a line feed, else a part
        QTest::addColumn<QString>("err");     // a part of stderr; when empty, stderr must be
        QTest::addColumn<QByteArray>("copy"); // of a.txt in uj, null when none must exist
        const QString d = QStringLiteral("DIR");
        const QString replace = QStringLiteral("replace");
        QTest::newRow("no occurrence: header rows only")
            << QStringList{replace, d, QStringLiteral("alma"), QStringLiteral("szilva")} << false << 1
            << block(copy(QStringLiteral("a.txt"))).join(QLatin1Char('\n')) + QLatin1Char('\n') << QString()
            << QByteArray("körte\r\n");
        QTest::newRow("empty search text")
            << QStringList{replace, d, QString(), QStringLiteral("szilva")} << false << 2 << QString()
            << QStringLiteral("Nincs megadva keresett szöveg.") << QByteArray();
        QTest::newRow("plain file uj")
            << QStringList{replace, d, QStringLiteral("körte"), QStringLiteral("szilva")} << true << 2
            << QString() << path(QStringLiteral("uj")) + QStringLiteral(": ") << QByteArray();
        QTest::newRow("unknown option")
            << QStringList{replace, QStringLiteral("--nope"), d, QStringLiteral("a"), QStringLiteral("b")}
            << false << 2 << QString() << QStringLiteral("ismeretlen kapcsoló: --nope") << QByteArray();
        QTest::newRow("help") << QStringList{replace, QStringLiteral("--help")} << false << 0
                              << QStringLiteral("replace") << QString() << QByteArray();
    }
    void commandLineStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ujIsAFile);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QByteArray, copy);
        writeFile(path(QStringLiteral("a.txt")), "körte\r\n");
        if (ujIsAFile)
            writeFile(path(QStringLiteral("uj")), "nem könyvtár\r\n");
        rememberSources();
        for (QString& arg : args)
            if (arg == QLatin1String("DIR"))
                arg = dir.path();

        const Run cli = run(QStringLiteral(KELVARA_CLI), args);
        QCOMPARE(cli.status, QProcess::NormalExit);
        QCOMPARE(cli.code, status);
        if (out.endsWith(QLatin1Char('\n')))
            QCOMPARE(cli.out, out);
        else
            QVERIFY2(cli.out.contains(out), qPrintable(cli.out));
        QVERIFY2(err.isEmpty() ? cli.err.isEmpty() : cli.err.contains(err), qPrintable(cli.err));
        if (ujIsAFile)
            QCOMPARE(readFile(path(QStringLiteral("uj"))), QByteArray("nem könyvtár\r\n"));
        else
            QCOMPARE(QFileInfo::exists(path(QStringLiteral("uj"))), !copy.isNull());
        if (!copy.isNull())
            QCOMPARE(readFile(this->copy(QStringLiteral("a.txt"))), copy);
    }

    // A copy that cannot be written whole (past a file size limit of 512 bytes) is reported and
    // leaves the earlier copy as it was; the other files are still written, and the limit's signal
    // does not end the program.
    void commandLineWriteFailure()
    {
        writeFile(path(QStringLiteral("big.txt")), QByteArray("alma fa\r\n").repeated(300));
        writeFile(path(QStringLiteral("small.txt")), "alma\r\n");
        QVERIFY(QDir().mkpath(path(QStringLiteral("uj"))));
        writeFile(copy(QStringLiteral("big.txt")), "korábbi\r\n");
        rememberSources();

        const Run cli = run(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), QStringLiteral("ulimit -f 1; exec \"$0\" \"$@\""),
                             QStringLiteral(KELVARA_CLI), QStringLiteral("replace"), dir.path(),
                             QStringLiteral("alma"), QStringLiteral("szilva")});
        QCOMPARE(cli.status, QProcess::NormalExit);
        QCOMPARE(cli.code, 2);
        QVERIFY2(cli.err.contains(copy(QStringLiteral("big.txt")) + QStringLiteral(": A lemez megtelt.")),
                 qPrintable(cli.err));
        QCOMPARE(readFile(copy(QStringLiteral("small.txt"))), QByteArray("szilva\r\n"));
        QCOMPARE(readFile(copy(QStringLiteral("big.txt"))), QByteArray("korábbi\r\n"));
        QCOMPARE(QDir(path(QStringLiteral("uj")))
                     .entryList({QStringLiteral(".kelvara-*")}, QDir::Files | QDir::Hidden),
                 QStringList{});
    }
};

QTEST_MAIN(ReplaceTest)
#include "tst_replace.moc"
