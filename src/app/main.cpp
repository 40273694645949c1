#include "app/application.h"
#include "app/desktop.h"
#include "platform/look.h"
#include "platform/tempfiles.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* Help =
    "Használat: kelvara [--help | --version]\n"
    "\n"
    "A Kelvara ablakos program: egy könyvtár szöveges file-jaiban keres egy szövegrészt, file-onként\n"
    "kilistázza a sorokat, amelyekben előfordul, és a cserélt másolatokat a könyvtár uj alkönyvtárába\n"
    "írja; az eredeti file-ok nem változnak. Paramétert nem vár: a könyvtárat az indító ablakban kell\n"
    "kiválasztani. A parancssori társa a kelvara-cli.\n"
    "\n"
    "  -h, --help     ez a leírás\n"
    "  --version      a program változata\n";

// --help and --version answer without a display; any other argument, once Qt has taken its own
// options (-platform and the like), is an error. Returns the exit status when the program is
// not to start.
int answerArguments(int argc, char* argv[], bool qtHasTakenItsOwn)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(Help, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("kelvara " KELVARA_VERSION "\n", stdout);
            return 0;
        }
        if (qtHasTakenItsOwn) {
            std::fprintf(stderr, "kelvara: ismeretlen paraméter: %s\n%s", argv[i],
                         "Használat: kelvara [--help | --version]\n");
            return 2;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const int status = answerArguments(argc, argv, false); status >= 0)
        return status;
    // A copy that reaches the file size limit fails with EFBIG and goes to the "Fájlhiba" dialog,
    // instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    kelvara::removeTemporaryOnSignals();
    QApplication app(argc, argv);
    if (const int status = answerArguments(argc, argv, true); status >= 0)
        return status;
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    // Hidden windows keep the program alive; it ends when its windows are discarded.
    QApplication::setQuitOnLastWindowClosed(false);
    kelvara::applyLook();
    kelvara::joinDesktop();
    kelvara::Application kelvara;
    return app.exec();
}
