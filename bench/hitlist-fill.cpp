// Times filling the hit list with a million rows: appending, showing them (flush, layout, paint), and
// scrolling to the end and back. Prints microseconds per row. Runs on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
//
//   kelvara_bench_hitlist [ROWS] [REPEATS]

#include "widgets/hitlist.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using kelvara::HitList;

namespace {

// Rows as a search produces them: per file a header block (150 stars, "**  path  **", 150 stars)
// and then its hit lines, about 60 bytes each, some with Hungarian letters.
std::vector<std::string> makeRows(int count)
{
    static const char* const words[] = {"return",       "buffer",   "count",     "index",     "árvíztűrő",
                                        "tükörfúrógép", "value",    "state",     "if",        "(row",
                                        "offset);",     "// TODO:", "Győr",      "= 0;",      "const",
                                        "std::size_t",  "érték",    "ÁRVÍZTŰRŐ", "node->next"};
    std::mt19937 rng(20240611);
    std::vector<std::string> rows;
    rows.reserve(size_t(count));
    const std::string stars(150, '*');
    int file = 0;
    while (int(rows.size()) < count) {
        rows.push_back(stars);
        rows.push_back("**  /home/user/projects/kelvara/src/module" + std::to_string(file++) +
                       "/source.cpp  **");
        rows.push_back(stars);
        const int hits = 1 + int(rng() % 40);
        for (int h = 0; h < hits && int(rows.size()) < count; ++h) {
            std::string line(size_t(rng() % 4) * 4, ' ');
            while (line.size() < 50 + rng() % 20) {
                line += words[rng() % std::size(words)];
                line += ' ';
            }
            rows.push_back(std::move(line));
        }
    }
    rows.resize(size_t(count));
    return rows;
}

void paintNow(HitList& list)
{
    QApplication::processEvents();
    list.viewport()->repaint();
}

bool isShown(const HitList& list, int row)
{
    return list.viewport()->rect().intersects(list.visualRect(list.model()->index(row, 0)));
}

struct Figures
{
    double append = 0, show = 0, scroll = 0, clear = 0;
};

Figures fillOnce(HitList& list, const std::vector<std::string>& rows)
{
    Figures f;
    QElapsedTimer timer;

    timer.start();
    for (const std::string& row : rows)
        list.rows().appendRow(row);
    f.append = double(timer.nsecsElapsed()) / 1000.0;

    timer.start();
    list.flush();
    paintNow(list);
    f.show = double(timer.nsecsElapsed()) / 1000.0;

    timer.start();
    list.scrollToBottom();
    paintNow(list);
    const bool lastShown = isShown(list, int(rows.size()) - 1);
    list.scrollToTop();
    paintNow(list);
    const bool firstShown = isShown(list, 0);
    f.scroll = double(timer.nsecsElapsed()) / 1000.0;
    if (!lastShown || !firstShown) {
        std::fprintf(stderr, "kelvara_bench_hitlist: scrolling did not show the %s row\n",
                     lastShown ? "first" : "last");
        std::exit(2);
    }

    if (list.count() != int(rows.size()) || list.model()->rowCount() != int(rows.size())) {
        std::fprintf(stderr, "kelvara_bench_hitlist: the list holds %d rows, not %zu\n", list.count(),
                     rows.size());
        std::exit(2);
    }

    timer.start();
    list.clear();
    paintNow(list);
    f.clear = double(timer.nsecsElapsed()) / 1000.0;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1'000'000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::vector<std::string> rows = makeRows(count);
    size_t bytes = 0;
    for (const std::string& row : rows)
        bytes += row.size();

    HitList list;
    list.resize(900, 600);
    list.show();
    paintNow(list);

    std::printf("hit list: %d rows (%.1f MB of text), platform %s, %d fills\n", count, double(bytes) / 1e6,
                qPrintable(QApplication::platformName()), repeats);
    std::printf("%-6s %14s %18s %14s %14s %16s\n", "fill", "append µs/row", "flush+paint µs/row",
                "total µs/row", "scroll ms", "clear+paint ms");
    std::vector<double> totals;
    for (int r = 1; r <= repeats; ++r) {
        const Figures f = fillOnce(list, rows);
        const double total = (f.append + f.show) / count;
        totals.push_back(total);
        std::printf("%-6d %14.3f %18.3f %14.3f %14.1f %16.1f\n", r, f.append / count, f.show / count, total,
                    f.scroll / 1000.0, f.clear / 1000.0);
    }
    std::sort(totals.begin(), totals.end());
    const double median = totals[totals.size() / 2];
    std::printf("median total %.3f µs/row; target <= 1 µs/row %s\n", median,
                median <= 1.0 ? "met" : "MISSED");
    return 0;
}
