// kelvara-cli: the search of the main window, run from a shell on one directory.

#include "platform/countdisplay.h"
#include "platform/fileselection.h"
#include "platform/pathcodec.h"
#include "platform/volumes.h"
#include "search/searchcommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

using namespace kelvara;

namespace {

constexpr std::string_view Usage =
    "Használat: kelvara-cli search [-i|--ignore-case] [--line-start] [--selected NÉV]... KÖNYVTÁR SZÖVEG\n";

constexpr std::string_view Help =
    "\n"
    "A KÖNYVTÁR file-jaiban keresi a SZÖVEG-et, és kiírja a találati lista sorait, ahogy az ablak\n"
    "\"Keres az összes file-ban\" parancsa mutatja őket: minden találatos file előtt egy fejlécet (150\n"
    "csillag, \"**  \" + a file teljes útvonala + \"  **\", 150 csillag), utána a file minden sorát, "
    "amelyben\n"
    "a szöveg előfordul, pontosan úgy, ahogy a file-ban áll (UTF-8-ban). Az utolsó sor a találatok\n"
    "száma (\" 2 db sor\"). Egy sor CR-rel vagy CR LF-fel végződik; a magában álló LF a sor része, így\n"
    "kiírva új sort kezd.\n"
    "\n"
    "  -i, --ignore-case   kis- és nagybetűk között nem tesz különbséget\n"
    "  --line-start        csak a szöveggel kezdődő sorok (\"Így kezdődik\")\n"
    "  --selected NÉV      csak ez a file (többször is megadható); a file-ok a lista sorrendjében\n"
    "  --                  ezután nincs több kapcsoló (ha a SZÖVEG \"-\"-lel kezdődik)\n"
    "  -h, --help          ez a leírás\n"
    "\n"
    "Kilépési kód: 0, ha volt találat; 1, ha nem volt; 2, ha egy file nem olvasható (a hibát a\n"
    "szabványos hibakimenet írja ki: \"kelvara-cli: ÚTVONAL: ok\"), vagy hibásak a paraméterek.\n";

void write(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

void writeText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    write(stream, std::string_view(bytes.constData(), size_t(bytes.size())));
}

// "kelvara-cli: PATH: reason". The path goes out as the bytes the file system holds.
void report(const QString& path, const QString& reason)
{
    write(stderr, std::string_view("kelvara-cli: "));
    const QByteArray bytes = pathToBytes(path);
    write(stderr, std::string_view(bytes.constData(), size_t(bytes.size())));
    writeText(stderr, QStringLiteral(": ") + reason + QLatin1Char('\n'));
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
    void appendRow(std::string_view utf8) override
    {
        write(stdout, utf8);
        std::fputc('\n', stdout);
    }
};

// A file that cannot be read is reported and skipped.
class ReportAndSkip : public FileErrorHandler
{
public:
    bool retry(const FileError& error, const QString& path) override
    {
        report(path, error.message());
        failed = true;
        return false;
    }
    bool failed = false;
};

// Arguments are bytes: the directory and file names keep every byte (pathcodec.h), the search text
// is UTF-8.
int search(const std::vector<QByteArray>& args)
{
    bool caseSensitive = true;
    MatchMode mode = MatchMode::Anywhere;
    std::vector<QString> selected;
    std::vector<QByteArray> operands;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& arg = args[i];
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-i" || arg == "--ignore-case") {
            caseSensitive = false;
        } else if (arg == "--line-start") {
            mode = MatchMode::LineStart;
        } else if (arg == "--selected") {
            if (++i == args.size())
                return usageError(QStringLiteral("a --selected után hiányzik a file neve"));
            selected.push_back(pathFromBytes(args[i]));
        } else if (arg.startsWith("--selected=")) {
            selected.push_back(pathFromBytes(arg.mid(11)));
        } else if (arg == "-h" || arg == "--help") {
            write(stdout, Usage);
            write(stdout, Help);
            return 0;
        } else {
            return usageError(QStringLiteral("ismeretlen kapcsoló: ") + QString::fromUtf8(arg));
        }
    }
    if (operands.size() != 2)
        return usageError(QStringLiteral("a KÖNYVTÁR és a SZÖVEG kell, más nem"));

    const QString directory = cleanAbsolutePath(pathFromBytes(operands[0]));
    ListedFiles files(directory);
    if (const std::optional<FileError> error = files.reread()) {
        report(directory, error->message());
        return 2;
    }
    for (const QString& name : selected) {
        int k = 0;
        while (k < files.entryCount() && files.entryText(k) != name)
            ++k;
        if (k == files.entryCount()) {
            report(joinPath(directory, name), QStringLiteral("nincs ilyen file a könyvtár listájában"));
            return 2;
        }
        files.setEntrySelected(k, true);
    }

    const SearchText text(QString::fromUtf8(operands[1]), caseSensitive, mode);
    MainState state;
    StandardOutput out;
    ReportAndSkip errors;
    if (selected.empty()) {
        searchAllFiles(files, text, state, out, errors);
    } else {
        state.modeMarker = QStringLiteral("ak");
        searchMarkedFiles(files, text, state, out, errors);
    }
    writeText(stdout, countDisplay(state.hitCount) + QStringLiteral(" db sor\n"));
    if (std::fflush(stdout) != 0) {
        report(QStringLiteral("<stdout>"), QString::fromLocal8Bit(std::strerror(errno)));
        return 2;
    }
    return errors.failed ? 2 : state.hitCount > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    static char outputBuffer[1 << 20];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    std::vector<QByteArray> args;
    for (int i = 2; i < argc; ++i)
        args.emplace_back(argv[i]);
    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        write(stdout, Usage);
        write(stdout, Help);
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "search") != 0)
        return usageError(argc < 2 ? QStringLiteral("hiányzik a parancs")
                                   : QStringLiteral("ismeretlen parancs: ") + QString::fromUtf8(argv[1]));
    return search(args);
}
