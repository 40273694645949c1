#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>

namespace kelvara {

// The system registry as the About window reads it: open a key below a root, query a value into a
// caller's buffer, close the key. Names are 8-bit text; results are the registry's error codes.
using RegKey = std::uint32_t;
using RegResult = long;

constexpr RegKey HkeyLocalMachine = 0x80000002;

constexpr std::uint32_t KeySetValue = 0x0002;
constexpr std::uint32_t KeyCreateSubKey = 0x0004;
constexpr std::uint32_t KeyCreateLink = 0x0020;
constexpr std::uint32_t KeyRead = 0x20019;

constexpr std::uint32_t RegSz = 1;
constexpr std::uint32_t RegExpandSz = 2;
constexpr std::uint32_t RegDword = 4;

constexpr RegResult ErrorSuccess = 0;
constexpr RegResult ErrorFileNotFound = 2;
constexpr RegResult ErrorAccessDenied = 5;
constexpr RegResult ErrorMoreData = 234;

class RegistrySeam
{
public:
    virtual ~RegistrySeam() = default;
    // ErrorSuccess when the key `path` below `root` is open with `access`; `key` is then valid.
    virtual RegResult openKey(RegKey root, const QByteArray& path, std::uint32_t access, RegKey& key) = 0;
    // Reads the value `name` into `buffer`, which holds `size` bytes. On ErrorSuccess `size` is the
    // number of bytes used and `type` the data type; a value larger than the buffer gives
    // ErrorMoreData.
    virtual RegResult queryValue(RegKey key, const QByteArray& name, std::uint32_t& type, char* buffer,
                                 std::uint32_t& size) = 0;
    virtual RegResult closeKey(RegKey key) = 0;
};

// Linux has no registry. This read-only one holds the one value the About window asks for: under
// HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Shared Tools\MSINFO", "PATH" is the full path of the first
// system-information program found on PATH, a string with its terminator. Every other key is
// missing, and asking for write rights is denied.
class LinuxRegistry : public RegistrySeam
{
public:
    RegResult openKey(RegKey root, const QByteArray& path, std::uint32_t access, RegKey& key) override;
    RegResult queryValue(RegKey key, const QByteArray& name, std::uint32_t& type, char* buffer,
                         std::uint32_t& size) override;
    RegResult closeKey(RegKey key) override;
};

RegistrySeam& registry();
// Installs `seam` for every later registry call; nullptr goes back to the real one.
void installRegistry(std::unique_ptr<RegistrySeam> seam);

} // namespace kelvara
