// The two search commands and the list clicks in the real main window, on real files.

#include "platform/filelist.h"
#include "platform/hitlist.h"
#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"
#include "support/windows.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using namespace kelvara::test;

namespace {

QStringList texts(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* text : list)
        result.append(QString::fromUtf8(text));
    return result;
}

} // namespace

class SearchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    // a.txt, b.txt and c.txt, each with one line "alma", open in the main window with "alma" to search.
    cserel& threeFilesReadyToSearch(Application& app)
    {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(name), "alma\r\n");
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        return main;
    }

private slots:
    void init()
    {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    void twoFilesHitsAtLinesThreeAndSeven()
    {
        writeFile(path("a.txt"), "nothing\r\nhere\r\n");
        writeFile(path("b.txt"), "1\r\n2\r\nalma 3\r\n4\r\n5\r\n6\r\nalma 7\r\n8\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        main.Command6->click();
        QCOMPARE(rowsOf(*main.List1), block(path("b.txt")) + texts({"alma 3", "alma 7"}));
        QCOMPARE(main.Label6->text(), QStringLiteral(" 2 db sor"));
        QVERIFY(main.Label6->isVisible() && main.Label3->isVisible());
        QVERIFY(main.Command2->isEnabled() && main.Command7->isEnabled());
        QCOMPARE(selectedEntries(*main.File1), (QList<int>{0, 1}));
        QCOMPARE(main.modeMarker, QStringLiteral("ak"));
        QCOMPARE(main.List1->model()->rowCount(), 5); // the view shows them all
    }

    void noHitsStillEnablesReplacing()
    {
        writeFile(path("a.txt"), "körte\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        QVERIFY(!main.Command3->isEnabled());
        main.Command6->click();
        QCOMPARE(main.List1->count(), 0);
        QCOMPARE(main.Label6->text(), QStringLiteral(" 0 db sor"));
        QVERIFY(main.Command3->isEnabled() && main.Command4->isEnabled());
    }

    // The case switch (checked, unchecked, greyed) and the two match modes as the window reads them.
    void options_data()
    {
        QTest::addColumn<int>("check");
        QTest::addColumn<bool>("lineStart");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("checked, anywhere") << int(Qt::Checked) << false << texts({"  alma"});
        QTest::newRow("unchecked, anywhere")
            << int(Qt::Unchecked) << false << texts({"ALMA", "Alma a fa alatt", "  alma"});
        QTest::newRow("greyed counts as unchecked")
            << int(Qt::PartiallyChecked) << false << texts({"ALMA", "Alma a fa alatt", "  alma"});
        QTest::newRow("checked, line start") << int(Qt::Checked) << true << QStringList{};
        QTest::newRow("unchecked, line start")
            << int(Qt::Unchecked) << true << texts({"ALMA", "Alma a fa alatt"});
    }
    void options()
    {
        QFETCH(int, check);
        QFETCH(bool, lineStart);
        QFETCH(QStringList, hits);
        writeFile(path("a.txt"), "ALMA\r\nAlma a fa alatt\r\n  alma\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        main.Check1->setCheckState(Qt::CheckState(check));
        (lineStart ? main.Option2 : main.Option1)->setChecked(true);
        main.Command6->click();
        QCOMPARE(rowsOf(*main.List1).mid(3), hits);
        QCOMPARE(main.hitCount, hits.size());
    }

    void searchAllThenSelectedCoversOnlyTheFirstFile()
    {
        Application app;
        cserel& main = threeFilesReadyToSearch(app);
        main.Command6->click();
        QCOMPARE(main.Label6->text(), QStringLiteral(" 3 db sor"));
        main.Command1->click();
        QCOMPARE(rowsOf(*main.List1), block(path("a.txt")) + texts({"alma"}));
        QCOMPARE(main.Label6->text(), QStringLiteral(" 1 db sor"));
        QCOMPARE(selectedEntries(*main.File1), QList<int>{0});
    }

    void selectedFilesAsTheUserLeftThem()
    {
        Application app;
        cserel& main = threeFilesReadyToSearch(app);
        main.File1->setEntrySelected(0, true);
        main.File1->setEntrySelected(2, true);
        main.Command1->click();
        QCOMPARE(rowsOf(*main.List1),
                 block(path("a.txt")) + texts({"alma"}) + block(path("c.txt")) + texts({"alma"}));
    }

    void selectedFilesOnAnEmptyList()
    {
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        main.Command1->click();
        QCOMPARE(main.Label6->text(), QStringLiteral(" 0 db sor"));
        QVERIFY(main.Command2->isEnabled());
    }

    // A file removed after the list was read: "Fájlhiba" with its path; Cancel skips it.
    void vanishedFileGoesToTheDialog()
    {
        Application app;
        cserel& main = threeFilesReadyToSearch(app);
        main.File1->setEntrySelected(1, true); // b alone: the selection stays as it is
        QFile::remove(path("b.txt"));
        test::MessageBoxScript script({{MsgAnswer::Cancel}});
        main.Command1->click();
        QCOMPARE(script.requests().size(), size_t(1));
        QCOMPARE(script.requests()[0].title, QStringLiteral("Fájlhiba"));
        QVERIFY(script.requests()[0].message.endsWith(QLatin1Char('\n') + path("b.txt")));
        QCOMPARE(main.List1->count(), 0);
        QCOMPARE(main.Label6->text(), QStringLiteral(" 0 db sor"));
        QVERIFY(main.Command2->isEnabled());
    }

    // Rows beginning with "*" cannot stay selected, by mouse or by arrow keys; hit rows can.
    void onlyHitRowsStaySelected()
    {
        writeFile(path("a.txt"), "*alma\r\nalma\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
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

    void fileListClickCountsTheSelection()
    {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(path(name), "x\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        QCOMPARE(main.Label7->text(), QStringLiteral(" 3  db file"));
        FileList& files = *main.File1;
        const auto click = [&](int k, Qt::KeyboardModifiers modifiers) {
            QTest::mouseClick(files.viewport(), Qt::LeftButton, modifiers,
                              files.visualRect(files.model()->index(k, 0)).center());
        };
        click(0, {});
        QCOMPARE(main.Label7->text(), QStringLiteral(" 1  db file"));
        click(2, Qt::ControlModifier);
        QCOMPARE(main.Label7->text(), QStringLiteral(" 2  db file"));
        click(2, Qt::ControlModifier);
        click(0, Qt::ControlModifier);
        QCOMPARE(main.Label7->text(), QStringLiteral(" 0  db file"));
    }

    // The command line prints what the window's hit list holds, then the count.
    void commandLineAgreesWithTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("case-sensitive") << QStringList{};
        QTest::newRow("ignore case") << QStringList{QStringLiteral("-i")};
        QTest::newRow("line start") << QStringList{QStringLiteral("--line-start")};
    }
    void commandLineAgreesWithTheWindow()
    {
        QFETCH(QStringList, options);
        writeFile(path("1250.txt"), "\xC1rv\xEDzt\xFBr\xF5 alma\r\nALMA\r\n");
        writeFile(path("lf.txt"), "alma\nkörte\n");
        writeFile(path("star.txt"), "*alma\r\nalma a fa alatt\r\nnincs\r\n");
        writeFile(path("utf8.txt"), "Alma\r\nárvíztűrő alma\r\n");
        Application app;
        cserel& main = test::openInMainWindow(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        main.Check1->setChecked(!options.contains(QStringLiteral("-i")));
        main.Option2->setChecked(options.contains(QStringLiteral("--line-start")));
        main.Command6->click();

        QProcess cli;
        cli.start(QStringLiteral(KELVARA_CLI), QStringList{QStringLiteral("search")} + options +
                                                   QStringList{dir.path(), QStringLiteral("alma")});
        QVERIFY(cli.waitForFinished());
        QCOMPARE(cli.exitCode(), main.hitCount > 0 ? 0 : 1);
        QVERIFY(main.hitCount >= 2);
        const QStringList rows = rowsOf(*main.List1);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
                 rows.join(QLatin1Char('\n')) + QLatin1Char('\n') + main.Label6->text() + QLatin1Char('\n'));
    }
};

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
