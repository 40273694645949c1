#pragma once

// Test stand-ins for the seams of the About window: a scripted random source, an in-memory
// registry and a launcher that records what it is asked to start.

#include "about/launcher.h"
#include "about/random.h"
#include "about/registry.h"

#include <QStringList>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

namespace kelvara::test {

// Yields the given numbers in turn and counts the draws.
class ScriptedRandom : public RandomSource
{
public:
    explicit ScriptedRandom(std::vector<double> numbers) : numbers_(std::move(numbers)) {}
    double next() override { return numbers_.at(draws++ % numbers_.size()); }
    size_t draws = 0;

private:
    std::vector<double> numbers_;
};

// Keys under HKEY_LOCAL_MACHINE by path, each with its values. Records every key it is asked to open and
// counts the keys still open. `restricted` denies write rights, as for an ordinary user.
class MemoryRegistry : public RegistrySeam
{
public:
    struct Value
    {
        std::uint32_t type;
        QByteArray data;
    };
    std::map<QByteArray, std::map<QByteArray, Value>> keys;
    bool restricted = true;
    bool throwOnQuery = false;
    QList<QByteArray> opened;
    int openKeys = 0;

    RegResult openKey(RegKey root, const QByteArray& path, std::uint32_t access, RegKey& key) override
    {
        opened.append(path);
        if (restricted && (access & (KeySetValue | KeyCreateSubKey | KeyCreateLink)))
            return ErrorAccessDenied;
        if (root != HkeyLocalMachine || !keys.count(path))
            return ErrorFileNotFound;
        handles_.push_back(path);
        key = RegKey(handles_.size());
        ++openKeys;
        return ErrorSuccess;
    }
    RegResult queryValue(RegKey key, const QByteArray& name, std::uint32_t& type, char* buffer,
                         std::uint32_t& size) override
    {
        const QByteArray& path = handles_.at(key - 1);
        if (throwOnQuery)
            throw std::runtime_error("registry gone");
        const auto& values = keys.at(path);
        const auto value = values.find(name);
        if (value == values.end())
            return ErrorFileNotFound;
        if (std::uint32_t(value->second.data.size()) > size)
            return ErrorMoreData;
        std::memcpy(buffer, value->second.data.constData(), value->second.data.size());
        size = std::uint32_t(value->second.data.size());
        type = value->second.type;
        return ErrorSuccess;
    }
    RegResult closeKey(RegKey) override
    {
        --openKeys;
        return ErrorSuccess;
    }

private:
    std::vector<QByteArray> handles_;
};

// Starts nothing; an empty command line fails, as it does for the real one.
class RecordingLauncher : public LauncherSeam
{
public:
    QStringList started;
    bool succeeds = true;
    bool start(const QString& commandLine) override
    {
        started.append(commandLine);
        return succeeds && !commandLine.isEmpty();
    }
};

// Installs a seam for the lifetime of this object and gives access to it.
template <class Seam, class Base, void (*install)(std::unique_ptr<Base>)> class Installed
{
public:
    template <class... Args> explicit Installed(Args&&... args)
    {
        auto seam = std::make_unique<Seam>(std::forward<Args>(args)...);
        seam_ = seam.get();
        install(std::move(seam));
    }
    ~Installed() { install(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
    Seam* operator->() const { return seam_; }
    Seam& operator*() const { return *seam_; }

private:
    Seam* seam_;
};

using RandomForTest = Installed<ScriptedRandom, RandomSource, installRandomSource>;
using RegistryForTest = Installed<MemoryRegistry, RegistrySeam, installRegistry>;
using LauncherForTest = Installed<RecordingLauncher, LauncherSeam, installLauncher>;

} // namespace kelvara::test
