#include "sysinfo.h"

#include "io/directory.h"
#include "launcher.h"
#include "text/pathcodec.h"
#include "widgets/messagebox.h"

#include <algorithm>
#include <array>
#include <sys/stat.h>

namespace kelvara {

namespace {

constexpr std::uint32_t BufferSize = 1024;

// The bytes from last to first, as two upper-case hexadecimal digits each: a little-endian number
// written most significant byte first.
QString hexLiteral(const QByteArray& bytes)
{
    QString literal = QStringLiteral("&h");
    for (auto byte = bytes.crbegin(); byte != bytes.crend(); ++byte)
        literal += QStringLiteral("%1").arg(uint(std::uint8_t(*byte)), 2, 16, QLatin1Char('0')).toUpper();
    return literal;
}

// True for a regular file (or a link to one), not a directory or a device.
bool isOrdinaryFile(const QString& path)
{
    struct stat status;
    return ::stat(pathToBytes(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

bool GetKeyValue(RegKey KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal)
{
    RegistrySeam& reg = registry();
    RegKey hKey = 0;
    std::array<char, BufferSize> buffer{};
    std::uint32_t size = BufferSize;
    std::uint32_t type = 0;
    // Read rights only: asking for write rights too fails for a restricted user for no gain. A value
    // longer than the buffer fails too.
    bool read = reg.openKey(KeyRoot, pathToBytes(KeyName), KeyRead, hKey) == ErrorSuccess;
    if (read) {
        read = reg.queryValue(hKey, pathToBytes(SubKeyRef), type, buffer.data(), size) == ErrorSuccess;
        reg.closeKey(hKey);
    }
    if (!read) {
        KeyVal.clear();
        return false;
    }
    // Strings carry a terminating zero byte; drop it.
    QByteArray bytes(buffer.data(), qsizetype(std::min(size, BufferSize)));
    if (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    if (type == RegSz)
        KeyVal = pathFromBytes(bytes);
    else if (type == RegDword)
        KeyVal = hexLiteral(bytes);
    return true;
}

void StartSysInfo()
{
    // Whatever goes wrong on the way ends in the message.
    try {
        QString toolPath;
        // The path is started as it is.
        if (GetKeyValue(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                        QStringLiteral("PATH"), toolPath)) {
            if (launcher().start(toolPath))
                return;
        }
        // The second place names the directory of the program.
        else if (GetKeyValue(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                             QStringLiteral("MSINFO"), toolPath)) {
            // Only an ordinary file will do.
            const QString program = joinPath(toolPath, QStringLiteral("MSINFO32.EXE"));
            if (isOrdinaryFile(program) && launcher().start(program))
                return;
        }
    } catch (...) {
    }
    messageBox(QStringLiteral("System Information Is Unavailable At This Time"), MsgIcon::None,
               MsgButtons::Ok, QStringLiteral("Kelvara"));
}

} // namespace kelvara
