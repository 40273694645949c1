#pragma once

// What the libFuzzer harnesses share besides the plain models of support/rows.h.

#include "support/rows.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>

// The oracles' checks stay on in every build type.
#undef NDEBUG
#include <cassert>

namespace kelvara::fuzz {

// A directory of its own under $TMPDIR for the whole run, removed when the process ends normally.
inline std::string tempDir()
{
    static const QTemporaryDir dir(QDir::tempPath() + QLatin1String("/kelvara-fuzz-XXXXXX"));
    return QFile::encodeName(dir.path()).toStdString();
}

inline void writeFile(const std::string& path, std::string_view bytes)
{
    assert(std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())).flush());
}

inline std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file ? std::optional(std::string(std::istreambuf_iterator<char>(file), {})) : std::nullopt;
}

// When the input asks, a short unit of it repeated up to `limit` bytes: long lines, block borders anywhere.
inline std::string filler(FuzzedDataProvider& provider, size_t limit)
{
    if (!provider.ConsumeBool())
        return {};
    const size_t length = provider.ConsumeIntegralInRange<size_t>(0, limit);
    std::string run, unit = provider.ConsumeRandomLengthString(8);
    while (run.size() < length)
        run += unit.empty() ? std::string("x") : unit;
    return run.substr(0, length);
}

} // namespace kelvara::fuzz
