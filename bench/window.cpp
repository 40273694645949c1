// Times the main window's commands through their buttons, offscreen, on directories of many small
// files, beside kelvara-cli on the same directories. Prints medians in seconds and the growth
// exponent between the last two directories (1.0: linear in the number of files).
//
//   kelvara_bench_window [--runs N] [--cli PATH] TEXT DIR...
//   kelvara_bench_window --slow MS TEXT DIR
//
// Each run opens the directory through the start window, then: "Keres az összes file-ban"
// (Command6), "Keres a kiválasztott file-okban" right after it (Command1: every file selected, so it
// reads the list again and searches the first file), Command6 again, a Ctrl+click on the second
// entry of File1 (the recount), Command1 over the files left selected, "Cserél az összes
// file-ban" (Command3), a Ctrl+click on the first entry, "Cserél a kiválasztott file-okban"
// (Command4) over the rest, "Cserél a kiválasztott sorban" (Command7, no row chosen: no line
// rewritten, every selected file copied) and "Cserél a teljes file-ban" (Command2). Each time runs
// from the click until the events it left are processed. The uj folder is removed before every
// replace, outside the timing.
//
// With --slow, every file's opening and every listing take MS milliseconds longer, as on a slow
// network drive, and "Keres az összes file-ban" and "Cserél az összes file-ban" run twice each: to
// their end, and with Escape pressed in the progress window 1.5 s after the click. Printed for
// each: the longest gap between two ticks of a 10 ms timer of the window (how long it answered
// nothing), when the progress window showed, and the time from the Escape to the end of the command.

#include "app/application.h"
#include "app/indit.h"
#include "io/textlines.h"
#include "main/cserel.h"
#include "main/progresswindow.h"
#include "widgets/directorylist.h"
#include "widgets/filelist.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <unistd.h>
#include <vector>

using namespace kelvara;

namespace {

double seconds(const std::function<void()>& step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void removeOutput(const QString& dir)
{
    QDir(dir + QStringLiteral("/uj")).removeRecursively();
}

QRect entryRect(FileList& list, int row)
{
    list.scrollTo(list.model()->index(row, 0));
    QApplication::processEvents();
    return list.visualRect(list.model()->index(row, 0));
}

void ctrlClick(FileList& list, const QRect& rect)
{
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rect.center());
}

int fail(const char* what)
{
    std::fprintf(stderr, "kelvara_bench_window: %s\n", what);
    return 1;
}

const char* const Steps[] = {"open",
                             "Command6 search all",
                             "Command1 after all",
                             "File1 recount",
                             "Command1 n-1 files",
                             "Command3 replace all",
                             "Command4 n-1 files",
                             "Command7 n-1 files",
                             "Command2 one file",
                             "cli search",
                             "cli replace"};

int slowMs = 0;

void slowOpening(const char*)
{
    ::usleep(useconds_t(slowMs) * 1000);
}

// The runs of --slow, in the window of `app` open on a directory with its texts typed.
void slowRuns(cserel& main, const QString& dir)
{
    std::printf("%-32s %9s %13s %11s %13s\n", "command", "seconds", "longest gap", "progress", "Escape->end");
    for (QPushButton* button : {main.Command6, main.Command3}) {
        for (const bool escape : {false, true}) {
            removeOutput(dir);
            QElapsedTimer clock;
            qint64 lastTick = 0, longestGap = 0, shownAt = -1, escapedAt = -1;
            QTimer ticks;
            ticks.setInterval(10);
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                const qint64 now = clock.elapsed();
                longestGap = std::max(longestGap, now - lastTick);
                lastTick = now;
                auto* progress = main.findChild<ProgressWindow*>();
                if (progress && progress->isVisible() && shownAt < 0)
                    shownAt = now;
                if (escape && progress && progress->isVisible() && escapedAt < 0 && now >= 1500) {
                    escapedAt = clock.elapsed();
                    QTest::keyClick(progress, Qt::Key_Escape);
                }
            });
            clock.start();
            ticks.start();
            button->click();
            const qint64 end = clock.elapsed();
            ticks.stop();
            std::printf("%-32s %9.3f %10lld ms %8lld ms %10lld ms\n",
                        qPrintable(button->text() + (escape ? QStringLiteral(", Esc") : QString())),
                        double(end) / 1000, longestGap, shownAt, escapedAt < 0 ? -1 : end - escapedAt);
        }
    }
    removeOutput(dir);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    int runs = 3;
    QString cli = QStringLiteral(KELVARA_CLI);
    QStringList args = QApplication::arguments().mid(1);
    while (args.size() >= 2 && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--runs"))
            runs = std::max(1, value.toInt());
        else if (option == QLatin1String("--cli"))
            cli = value;
        else if (option == QLatin1String("--slow"))
            slowMs = value.toInt();
        else
            return fail("unknown option");
    }
    if (args.size() < 2)
        return fail("usage: kelvara_bench_window [--runs N] [--cli PATH] TEXT DIR...");
    const QString text = args.takeFirst();
    if (slowMs > 0) {
        runBeforeOpening(slowOpening);
        Application app;
        app.startWindow()->Dir1->setPath(args.first());
        app.startWindow()->Command1->click();
        cserel& main = app.mainWindow();
        main.Text1->setText(text);
        main.Text2->setText(text);
        std::printf("%d files, %d ms more per opened file and per listing\n",
                    main.File1->files().entryCount(), slowMs);
        slowRuns(main, args.first());
        return 0;
    }
    const QString sink = QStringLiteral("/dev/shm/kelvara_bench_window.out");

    std::vector<std::map<QString, double>> results;
    std::vector<int> sizes;
    for (const QString& dir : args) {
        std::map<QString, std::vector<double>> times;
        const auto time = [&](const char* step, const std::function<void()>& action) {
            times[QString::fromUtf8(step)].push_back(seconds(action));
        };
        Application app;
        int files = 0;
        for (int run = 0; run < runs; ++run) {
            app.startWindow()->Dir1->setPath(dir);
            time("open", [&] { app.startWindow()->Command1->click(); });
            cserel& main = app.mainWindow();
            files = main.File1->files().entryCount();
            if (files < 2)
                return fail("the directory needs two files at least");
            main.Text1->setText(text);
            main.Text2->setText(text);
            time("Command6 search all", [&] { main.Command6->click(); });
            time("Command1 after all", [&] { main.Command1->click(); });
            main.Command6->click();
            QApplication::processEvents();
            const QRect second = entryRect(*main.File1, 1);
            time("File1 recount", [&] { ctrlClick(*main.File1, second); });
            if (main.Label7->text() !=
                QLatin1Char(' ') + QString::number(files - 1) + QStringLiteral("  db file"))
                return fail("the recount shows a wrong number");
            time("Command1 n-1 files", [&] { main.Command1->click(); });
            removeOutput(dir);
            time("Command3 replace all", [&] { main.Command3->click(); });
            const QRect first = entryRect(*main.File1, 0);
            ctrlClick(*main.File1, first);
            removeOutput(dir);
            time("Command4 n-1 files", [&] { main.Command4->click(); });
            removeOutput(dir);
            time("Command7 n-1 files", [&] { main.Command7->click(); });
            removeOutput(dir);
            time("Command2 one file", [&] { main.Command2->click(); });
            main.Command8->click();
            QApplication::processEvents();

            for (const bool search : {true, false}) {
                removeOutput(dir);
                QProcess process;
                process.setStandardOutputFile(sink);
                const QStringList cliArgs = search ? QStringList{QStringLiteral("search"), dir, text}
                                                   : QStringList{QStringLiteral("replace"), dir, text, text};
                time(search ? "cli search" : "cli replace", [&] {
                    process.start(cli, cliArgs);
                    process.waitForFinished(-1);
                });
                if (process.exitStatus() != QProcess::NormalExit || process.exitCode() == 2)
                    return fail("kelvara-cli failed");
            }
            removeOutput(dir);
        }
        std::map<QString, double> medians;
        for (const auto& [step, values] : times)
            medians[step] = median(values);
        results.push_back(std::move(medians));
        sizes.push_back(files);
    }
    QFile::remove(sink);

    std::printf("%-22s", "files");
    for (const int n : sizes)
        std::printf(" %10d", n);
    const bool growth = sizes.size() >= 2;
    if (growth)
        std::printf("   exponent %d..%d", sizes[sizes.size() - 2], sizes.back());
    std::printf("\n");
    for (const char* step : Steps) {
        std::printf("%-22s", step);
        for (const auto& medians : results)
            std::printf(" %10.4f", medians.at(QString::fromUtf8(step)));
        if (growth) {
            const double a = results[results.size() - 2].at(QString::fromUtf8(step));
            const double b = results.back().at(QString::fromUtf8(step));
            std::printf("   %.2f",
                        std::log(b / a) / std::log(double(sizes.back()) / sizes[sizes.size() - 2]));
        }
        std::printf("\n");
    }
    std::printf("median of %d runs, seconds; TEXT \"%s\"\n", runs, qPrintable(text));
    return 0;
}
