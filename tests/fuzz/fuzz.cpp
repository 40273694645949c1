#include "fuzz.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace kelvara::fuzz {

namespace {

struct TempDir
{
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvara-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

} // namespace

const std::string& tempDir()
{
    static const TempDir dir;
    return dir.path;
}

void writeFile(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
    ::close(fd);
}

bool readFile(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, size_t(n));
    ::close(fd);
    return n == 0;
}

std::vector<std::string> listDir(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    FUZZ_CHECK(dir != nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void emptyDir(const std::string& path)
{
    for (const std::string& name : listDir(path))
        FUZZ_CHECK(::unlink((path + '/' + name).c_str()) == 0);
}

} // namespace kelvara::fuzz
