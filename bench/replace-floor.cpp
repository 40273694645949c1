// The least a replace into DIR/uj can cost: each regular file of DIR copied to a temporary file in
// uj and renamed over its name, with no line handling, no rows printed and no checks. Called like
// kelvara-cli, so that compare-replace times it in place of the real program:
//
//   KELVARA_CLI=build/bin/kelvara_bench_replace_floor KELVARA_FLOOR=MODE bench/compare-replace DIR S R
//
// MODE: `kernel` copies with copy_file_range (what cp does), `read` reads into a buffer and writes it,
// `scan` (the default) also looks for S in each buffer with memmem, as any replace must read its bytes.
// The copies are the sources' bytes, so compare-replace reports the outputs as different.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 6 || std::strcmp(argv[1], "replace") != 0 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: %s replace -- DIR SEARCH REPLACEMENT\n", argv[0]);
        return 2;
    }
    const char* mode = std::getenv("KELVARA_FLOOR") ? std::getenv("KELVARA_FLOOR") : "scan";
    const std::string needle = argv[4];
    const bool scan = std::strcmp(mode, "scan") == 0 && !needle.empty();
    const int source = ::open(argv[3], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::mkdirat(source, "uj", 0777);
    const int output = ::openat(source, "uj", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = ::fdopendir(::dup(source));
    if (source < 0 || output < 0 || !listing)
        return 2;
    static char buffer[128 * 1024];
    long hits = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const int in = entry->d_name[0] == '.' ? -1 : ::openat(source, entry->d_name, O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (in < 0 || ::fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
            if (in >= 0)
                ::close(in);
            continue;
        }
        const int out = ::openat(output, ".floor", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (std::strcmp(mode, "kernel") == 0) {
            for (off_t left = status.st_size; left > 0;) {
                const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
                if (n <= 0)
                    break;
                left -= n;
            }
        } else {
            for (ssize_t n; (n = ::read(in, buffer, sizeof buffer)) > 0;) {
                const char* const end = buffer + n;
                for (const char* p = buffer; scan && (p = static_cast<const char*>(::memmem(
                                                          p, size_t(end - p), needle.data(), needle.size())));
                     p += needle.size())
                    ++hits;
                if (::write(out, buffer, size_t(n)) != n)
                    return 2;
            }
        }
        ::close(in);
        if (::close(out) != 0 || ::renameat(output, ".floor", output, entry->d_name) != 0)
            return 2;
    }
    ::closedir(listing);
    return hits > 0 || !scan ? 0 : 1;
}
