// kelvara-cli: the search and the replace commands of the main window, run from a shell on one
// directory.

#include "io/fileselection.h"
#include "io/volumes.h"
#include "replace/replacecommands.h"
#include "search/searchcommands.h"
#include "text/countdisplay.h"
#include "text/pathcodec.h"

#include <QHash>
#include <QStringDecoder>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace kelvara;

namespace {

constexpr std::string_view Usage =
    "Használat: kelvara-cli search [-i|--ignore-case] [--line-start] [--selected NÉV]... [--threads N] "
    "KÖNYVTÁR SZÖVEG\n"
    "           kelvara-cli replace [-i|--ignore-case] [--selected NÉV]... [--line SOR] [--threads N] "
    "KÖNYVTÁR SZÖVEG CSERE\n"
    "           kelvara-cli --help | --version\n";

constexpr std::string_view Help =
    "\n"
    "search: a KÖNYVTÁR file-jaiban keresi a SZÖVEG-et, és kiírja a találati lista sorait, ahogy az\n"
    "ablak \"Keres az összes file-ban\" parancsa mutatja őket: minden találatos file előtt egy fejlécet\n"
    "(150 csillag, \"**  \" + a file teljes útvonala + \"  **\", 150 csillag), utána a file minden sorát,\n"
    "amelyben a szöveg előfordul, pontosan úgy, ahogy a file-ban áll (UTF-8-ban). Az utolsó sor a\n"
    "találatok száma (\" 2 db sor\"). Egy sor CR-rel vagy CR LF-fel végződik; a magában álló LF a sor\n"
    "része, így kiírva új sort kezd.\n"
    "\n"
    "replace: a KÖNYVTÁR minden file-járól másolatot ír a KÖNYVTÁR/uj alkönyvtárba (ha nincs, létrehozza),\n"
    "ugyanazon a néven, ahogy az ablak \"Cserél az összes file-ban\" parancsa: minden sorban a SZÖVEG\n"
    "első előfordulását a CSERE-re cseréli, pontosan úgy, ahogy megadták, és minden sort CR LF-fel zár.\n"
    "Az eredeti file-ok nem változnak. Kiírja a sorokat, amelyeket a találati lista kapna: file-onként a\n"
    "fejlécet (a kimeneti file útvonalával), utána a file minden átírt sorát az új alakjában.\n"
    "A --line SOR az ablak \"Cserél a kiválasztott sorban\" parancsa, a SOR-ral mint kiválasztott\n"
    "találati sorral: csak a SOR-ral pontosan egyező sorokat írja át.\n"
    "\n"
    "  -i, --ignore-case   kis- és nagybetűk között nem tesz különbséget\n"
    "  --line-start        csak a szöveggel kezdődő sorok (\"Így kezdődik\"; csak a search-nél)\n"
    "  --selected NÉV      csak ez a file (többször is megadható); a file-ok a lista sorrendjében\n"
    "  --line SOR          csak a SOR-ral egyező sorok cseréje (csak a replace-nél)\n"
    "  --threads N         egyszerre ennyi file-t olvas (alapesetben a processzormagok száma, legfeljebb\n"
    "                      8; 1: egyszerre csak egyet)\n"
    "  --                  ezután nincs több kapcsoló (ha egy szöveg \"-\"-lel kezdődik)\n"
    "  -h, --help          ez a leírás\n"
    "  --version           a program változata\n"
    "\n"
    "Kilépési kód: 0, ha volt találat (replace: ha legalább egy sort átírt); 1, ha nem volt; 2, ha egy\n"
    "file nem olvasható vagy nem írható, az uj könyvtár nem használható, vagy hibásak a paraméterek. A\n"
    "hibát a szabványos hibakimenet írja ki (\"kelvara-cli: ÚTVONAL: ok\"); a többi file-lal folytatja.\n";

void write(std::FILE* stream, QByteArrayView bytes)
{
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream);
}

void writeText(std::FILE* stream, const QString& text)
{
    write(stream, text.toUtf8());
}

// "kelvara-cli: PATH: reason". The path goes out as the bytes the file system holds.
void printError(const QString& path, const QString& reason)
{
    write(stderr, "kelvara-cli: ");
    write(stderr, pathToBytes(path));
    writeText(stderr, QStringLiteral(": ") + reason + QLatin1Char('\n'));
}

// A text argument, as UTF-8, all of it: a byte-order mark at its start is a character to look for,
// not a marker to drop.
QString textFromArgument(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

int usageError(const QString& problem)
{
    writeText(stderr, QStringLiteral("kelvara-cli: ") + problem + QLatin1Char('\n'));
    write(stderr, Usage);
    return 2;
}

class StandardOutput : public RowSink
{
public:
    void clear() override {}
    // One thread writes, so the stream is not locked for every row.
    void appendRow(std::string_view utf8) override
    {
        ::fwrite_unlocked(utf8.data(), 1, utf8.size(), stdout);
        ::fputc_unlocked('\n', stdout);
    }
    // The rows with their LFs are what goes out, in one piece.
    void appendRows(std::string_view utf8, std::span<const std::pair<size_t, size_t>>) override
    {
        ::fwrite_unlocked(utf8.data(), 1, utf8.size(), stdout);
    }
};

// The one line of progress a command shows on a terminal after a second: the files done out of the
// files to do, and the file it is at; only while the rows go elsewhere, which they would mix with.
class TerminalProgress
{
public:
    explicit TerminalProgress(PassControl& control) : control_(control)
    {
        if (::isatty(STDERR_FILENO) && !::isatty(STDOUT_FILENO))
            control.pulse = [this] { pulse(); };
    }
    ~TerminalProgress() { clear(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Takes the line away, before anything else is written to the terminal.
    void clear()
    {
        if (std::exchange(shown_, false))
            write(stderr, "\r\033[K");
    }

private:
    using Clock = std::chrono::steady_clock;

    void pulse()
    {
        const Clock::time_point now = Clock::now();
        if (now - start_ < std::chrono::seconds(1) || now - shownAt_ < std::chrono::milliseconds(200))
            return;
        shownAt_ = now;
        const qint64 done = control_.filesCommitted.load(std::memory_order_relaxed);
        const qint64 toDo = control_.filesToDo.load(std::memory_order_relaxed);
        QString line =
            groupedCount(done) + QStringLiteral(" / ") + groupedCount(toDo) + QStringLiteral(" file");
        if (control_.pathOf && done < toDo)
            line += QStringLiteral("  ") +
                    displayPath(control_.pathOf(size_t(done))).section(QLatin1Char('/'), -1);
        struct winsize size = {};
        const int columns =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        writeText(stderr, QLatin1Char('\r') + line.left(columns - 1) + QStringLiteral("\033[K"));
        shown_ = true;
    }

    PassControl& control_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point shownAt_;
    bool shown_ = false;
};

// A file that cannot be read or written is reported and skipped, and so is any other problem: no one
// is there to be asked.
class ReportAndSkip : public ReplaceErrors
{
public:
    explicit ReportAndSkip(TerminalProgress& progress) : progress_(progress) {}
    void tell(const QString& message) override
    {
        progress_.clear();
        QString line = message;
        writeText(stderr, QStringLiteral("kelvara-cli: ") +
                              line.replace(QLatin1Char('\n'), QLatin1Char(' ')) + QLatin1Char('\n'));
        failed = true;
    }
    bool failed = false;

protected:
    void report(const FileError& error, const QString& path) override
    {
        progress_.clear();
        printError(path, error.message());
        failed = true;
    }

private:
    TerminalProgress& progress_;
};

enum class Command { Search, Replace };

struct Arguments
{
    bool caseSensitive = true;
    MatchMode mode = MatchMode::Anywhere;
    std::vector<QString> selected;
    int threads = defaultThreadCount();
    std::optional<QString> line;
    std::vector<QByteArray> operands;
    bool help = false;
};

// Reads the options of `command`; the problem with them, if any.
std::optional<QString> parse(Command command, const std::vector<QByteArray>& args, Arguments& out)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& arg = args[i];
        // The value of an option that takes one: "--name VALUE" or "--name=VALUE".
        const auto value = [&](const char* name, QByteArray& v) {
            const QByteArray option(name);
            if (arg == option && i + 1 < args.size()) {
                v = args[++i];
                return true;
            }
            if (arg.startsWith(option + '=')) {
                v = arg.mid(option.size() + 1);
                return true;
            }
            return false;
        };
        QByteArray v;
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            out.operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-i" || arg == "--ignore-case") {
            out.caseSensitive = false;
        } else if (command == Command::Search && arg == "--line-start") {
            out.mode = MatchMode::LineStart;
        } else if (value("--selected", v)) {
            out.selected.push_back(pathFromBytes(v));
        } else if (command == Command::Replace && value("--line", v)) {
            out.line = textFromArgument(v);
        } else if (value("--threads", v)) {
            bool number = false;
            out.threads = v.toInt(&number);
            if (!number || out.threads < 1 || out.threads > 64)
                return QStringLiteral("a --threads értéke 1 és 64 közötti egész szám legyen: ") +
                       QString::fromUtf8(v);
        } else if (arg == "--selected" || arg == "--threads" ||
                   (command == Command::Replace && arg == "--line")) {
            return QStringLiteral("a ") + QString::fromUtf8(arg) + QStringLiteral(" után hiányzik az értéke");
        } else if (arg == "-h" || arg == "--help") {
            out.help = true;
            return std::nullopt;
        } else {
            return QStringLiteral("ismeretlen kapcsoló: ") + QString::fromUtf8(arg);
        }
    }
    const size_t wanted = command == Command::Search ? 2 : 3;
    if (out.operands.size() != wanted)
        return command == Command::Search ? QStringLiteral("a KÖNYVTÁR és a SZÖVEG kell, más nem")
                                          : QStringLiteral("a KÖNYVTÁR, a SZÖVEG és a CSERE kell, más nem");
    return std::nullopt;
}

// The file list of the directory. The listing made before the command serves as its own first reading
// of the list, which comes right after with nothing selected in between: the directory is listed once.
class CommandFiles : public ListedFiles
{
public:
    using ListedFiles::ListedFiles;

    std::optional<FileError> reread() override
    {
        if (std::exchange(fresh_, false))
            return std::nullopt;
        return ListedFiles::reread();
    }
    void setEntrySelected(int k, bool selected) override
    {
        fresh_ = false;
        ListedFiles::setEntrySelected(k, selected);
    }
    // Lists the directory and selects the named entries. Exit status 2 when that fails, else nothing.
    std::optional<int> listAndSelect(const std::vector<QString>& names)
    {
        if (const std::optional<FileError> error = ListedFiles::reread()) {
            printError(directoryPath(), error->message());
            return 2;
        }
        fresh_ = true;
        QHash<QString, int> index;
        if (!names.empty()) {
            index.reserve(entryCount());
            for (int k = entryCount() - 1; k >= 0; --k)
                index.insert(entryText(k), k);
        }
        for (const QString& name : names) {
            const auto found = index.constFind(name);
            if (found == index.cend()) {
                printError(joinPath(directoryPath(), name),
                           QStringLiteral("nincs ilyen file a könyvtár listájában"));
                return 2;
            }
            setEntrySelected(*found, true);
        }
        return std::nullopt;
    }

private:
    bool fresh_ = false;
};

// Runs `command` on the directory with the named files selected, rows to stdout, problems to stderr.
// Exit status 2 after a problem, else 0 when `command` found or rewrote a line, 1 when not. Arguments
// are bytes: the directory and file names keep every byte (pathcodec.h), the texts are UTF-8.
template <typename Command> int runCommand(const Arguments& args, Command command)
{
    // An empty DIR names no directory. Taken as a relative path it would be the current directory,
    // so a script with an unset variable would write a uj where it stands.
    if (args.operands[0].isEmpty()) {
        writeText(stderr, QStringLiteral("kelvara-cli: üres a KÖNYVTÁR: ") +
                              FileError::fromErrno(ENOENT).message() + QLatin1Char('\n'));
        return 2;
    }
    // The list lives as long as the process: freeing the names of a large directory one by one takes
    // milliseconds once the work is done, and the end of the process gives them back at once.
    static CommandFiles* const list = new CommandFiles(cleanAbsolutePath(pathFromBytes(args.operands[0])));
    CommandFiles& files = *list;
    if (const std::optional<int> status = files.listAndSelect(args.selected))
        return *status;
    MainState state;
    StandardOutput out;
    PassControl control;
    control.threads = args.threads;
    TerminalProgress progress(control);
    ReportAndSkip errors(progress);
    const bool found = command(files, state, out, errors, control);
    progress.clear();
    if (std::fflush(stdout) != 0) {
        printError(QStringLiteral("<stdout>"), QString::fromLocal8Bit(std::strerror(errno)));
        return 2;
    }
    return errors.failed ? 2 : found ? 0 : 1;
}

int search(const Arguments& args)
{
    const SearchText text(textFromArgument(args.operands[1]), args.caseSensitive, args.mode);
    return runCommand(args, [&](auto& files, auto& state, auto& out, auto& errors, auto& control) {
        if (args.selected.empty()) {
            searchAllFiles(files, text, state, out, errors, &control);
        } else {
            state.modeMarker = QStringLiteral("ak");
            searchMarkedFiles(files, text, state, out, errors, &control);
        }
        writeText(stdout, countDisplay(state.hitCount) + QStringLiteral(" db sor\n"));
        return state.hitCount > 0;
    });
}

int replace(const Arguments& args)
{
    const ReplaceText text(textFromArgument(args.operands[1]), textFromArgument(args.operands[2]),
                           args.caseSensitive);
    return runCommand(args, [&](auto& files, auto& state, auto& out, auto& errors, auto& control) {
        ReplaceSummary summary;
        if (args.line) {
            if (args.selected.empty())
                for (int k = 0; k < files.entryCount(); ++k)
                    files.setEntrySelected(k, true);
            summary = replaceInSelectedLine(files, text, *args.line, state, out, errors, &control);
        } else if (args.selected.empty()) {
            summary = replaceInAllFiles(files, text, state, out, errors, &control);
        } else {
            summary = replaceMarkedFiles(files, text, state, out, errors, &control);
        }
        return summary.rewrittenLines > 0;
    });
}

} // namespace

int main(int argc, char** argv)
{
    static char outputBuffer[1 << 20];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    // A write beyond the file size limit then fails with EFBIG and is reported, instead of the
    // signal ending the program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    kelvara::removeTemporaryOnSignals();

    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        write(stdout, Usage);
        write(stdout, Help);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        write(stdout, "kelvara-cli " KELVARA_VERSION "\n");
        return 0;
    }
    const bool isSearch = argc >= 2 && std::strcmp(argv[1], "search") == 0;
    const bool isReplace = argc >= 2 && std::strcmp(argv[1], "replace") == 0;
    if (!isSearch && !isReplace)
        return usageError(argc < 2 ? QStringLiteral("hiányzik a parancs")
                                   : QStringLiteral("ismeretlen parancs: ") + QString::fromUtf8(argv[1]));
    const Command command = isSearch ? Command::Search : Command::Replace;
    const std::vector<QByteArray> rawArgs(argv + 2, argv + argc);
    Arguments args;
    if (const std::optional<QString> problem = parse(command, rawArgs, args))
        return usageError(*problem);
    if (args.help) {
        write(stdout, Usage);
        write(stdout, Help);
        return 0;
    }
    return command == Command::Search ? search(args) : replace(args);
}
