#include "application.h"
#include "desktop.h"
#include "io/tempfiles.h"
#include "io/volumes.h"
#include "text/pathcodec.h"
#include "widgets/look.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr const char* Usage = "Használat: kelvara [--help | --version | KÖNYVTÁR]\n";

constexpr const char* Help =
    "Használat: kelvara [--help | --version | KÖNYVTÁR]\n"
    "\n"
    "A Kelvara ablakos program: egy könyvtár szöveges file-jaiban keres egy szövegrészt, file-onként\n"
    "kilistázza a sorokat, amelyekben előfordul, és a cserélt másolatokat a könyvtár uj alkönyvtárába\n"
    "írja; az eredeti file-ok nem változnak. KÖNYVTÁR nélkül az indító ablakban kell kiválasztani a\n"
    "könyvtárat; KÖNYVTÁRRAL a főablak rögtön azon nyílik meg. A parancssori társa a kelvara-cli.\n"
    "\n"
    "  -h, --help     ez a leírás\n"
    "  --version      a program változata\n";

struct Arguments
{
    int status = -1; // the exit status when the program is not to start
    const char* directory = nullptr;
};

// --help and --version answer without a display. Once Qt has taken its own options (-platform
// and the like), what is left is at most one directory; "--" ends the options.
Arguments readArguments(int argc, char* argv[], bool qtHasTakenItsOwn)
{
    Arguments read;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
            std::fputs(Help, stdout);
            return {0};
        }
        if (options && std::strcmp(arg, "--version") == 0) {
            std::fputs("kelvara " KELVARA_VERSION "\n", stdout);
            return {0};
        }
        if (!qtHasTakenItsOwn)
            continue;
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "kelvara: ismeretlen paraméter: %s\n%s", arg, Usage);
            return {2};
        } else if (arg[0] == '\0') {
            std::fprintf(stderr, "kelvara: üres könyvtárnév\n%s", Usage);
            return {2};
        } else if (read.directory) {
            std::fprintf(stderr, "kelvara: csak egy könyvtár adható meg: %s\n%s", arg, Usage);
            return {2};
        } else {
            read.directory = arg;
        }
    }
    return read;
}

// While Qt starts, its messages are held back. When no window system can be reached (no display,
// or a Wayland session without Qt's Wayland plugin) Qt would abort with a page of English text;
// the user gets one line and status 2 instead. Otherwise what was held goes out as usual.
struct HeldMessage
{
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> held;
QtMessageHandler usualHandler = nullptr;

void holdWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fputs("kelvara: nincs elérhető kijelző (DISPLAY, WAYLAND_DISPLAY), az ablakos program nem "
                   "indítható; kijelző nélkül a kelvara-cli használható.\n",
                   stderr);
        std::_Exit(2);
    }
    held.push_back({type, context.file, context.function, context.category, context.line, text});
}

void releaseHeldMessages()
{
    qInstallMessageHandler(usualHandler);
    for (const HeldMessage& message : held) {
        const QMessageLogContext context(message.file.constData(), message.line, message.function.constData(),
                                         message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
    held.clear();
}

} // namespace

int main(int argc, char* argv[])
{
    if (const Arguments early = readArguments(argc, argv, false); early.status >= 0)
        return early.status;
    // A copy that reaches the file size limit fails with EFBIG and goes to the "Fájlhiba" dialog,
    // instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    kelvara::removeTemporaryOnSignals();
    usualHandler = qInstallMessageHandler(holdWhileStarting);
    QApplication app(argc, argv);
    releaseHeldMessages();
    const Arguments arguments = readArguments(argc, argv, true);
    if (arguments.status >= 0)
        return arguments.status;
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    // Hidden windows keep the program alive; it ends when its windows are discarded.
    QApplication::setQuitOnLastWindowClosed(false);
    kelvara::applyLook();
    kelvara::joinDesktop();
    // A directory given (a file manager's "Open with") is taken as the shell meant it, against
    // the directory the program was started in, whatever bytes its name holds.
    const QString directory = arguments.directory
                                  ? kelvara::cleanAbsolutePath(kelvara::pathFromBytes(arguments.directory))
                                  : QString();
    kelvara::Application kelvara(directory);
    return app.exec();
}
