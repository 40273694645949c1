#include "registry.h"

#include "text/pathcodec.h"

#include <QStandardPaths>
#include <cstring>

namespace kelvara {

namespace {

constexpr RegKey SystemInfoKey = 1; // the handle of the one key there is

std::unique_ptr<RegistrySeam>& installed()
{
    static std::unique_ptr<RegistrySeam> seam = std::make_unique<LinuxRegistry>();
    return seam;
}

// The full path of the first of these system-information programs on PATH, empty when there is none.
QString systemInfoProgram()
{
    for (const char* name : {"hardinfo2", "hardinfo", "kinfocenter"})
        if (const QString path = QStandardPaths::findExecutable(QLatin1String(name)); !path.isEmpty())
            return path;
    return {};
}

} // namespace

RegResult LinuxRegistry::openKey(RegKey root, const QByteArray& path, std::uint32_t access, RegKey& key)
{
    // Key names are case-insensitive.
    if (root != HkeyLocalMachine ||
        path.compare("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", Qt::CaseInsensitive) != 0)
        return ErrorFileNotFound;
    if (access & (KeySetValue | KeyCreateSubKey | KeyCreateLink))
        return ErrorAccessDenied;
    key = SystemInfoKey;
    return ErrorSuccess;
}

RegResult LinuxRegistry::queryValue(RegKey key, const QByteArray& name, std::uint32_t& type, char* buffer,
                                    std::uint32_t& size)
{
    if (key != SystemInfoKey || name.compare("PATH", Qt::CaseInsensitive) != 0)
        return ErrorFileNotFound;
    const QString program = systemInfoProgram();
    if (program.isEmpty())
        return ErrorFileNotFound;
    const QByteArray value = pathToBytes(program) + '\0';
    const auto needed = std::uint32_t(value.size());
    if (needed > size) {
        size = needed;
        return ErrorMoreData;
    }
    std::memcpy(buffer, value.constData(), needed);
    size = needed;
    type = RegSz;
    return ErrorSuccess;
}

RegResult LinuxRegistry::closeKey(RegKey)
{
    return ErrorSuccess;
}

RegistrySeam& registry()
{
    return *installed();
}

void installRegistry(std::unique_ptr<RegistrySeam> seam)
{
    installed() = seam ? std::move(seam) : std::make_unique<LinuxRegistry>();
}

} // namespace kelvara
