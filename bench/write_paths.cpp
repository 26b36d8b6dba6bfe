// Ways of getting a large file's bytes into a new file, for bench/extract.sh
// (PROFILE=1): shows what the time of `servicepack /e` depends on.
//
//   write_paths MODE INPUT OUTPUT
//
// The input is mapped privately and read-only, as the executable's image
// holding the package is. MODE is one of
//   write          one write() of the whole mapping (what /e does)
//   pieces-64k     write() in 64 KiB pieces from the mapping
//   pieces-1m      write() in 1 MiB pieces from the mapping
//   populate       madvise(MADV_POPULATE_READ) on the mapping, then one write()
//   bounce-128k    read() into one 128 KiB buffer and write() it, over and over
//   copy-range     copy_file_range() from the input file (what cp does)
// Prints the milliseconds from opening the output to closing it.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace {

bool WriteAll(int fd, const char* data, std::size_t size, std::size_t piece) {
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = size - done < piece ? size - done : piece;
        const ssize_t written = ::write(fd, data + done, n);
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool Copy(const std::string& mode, int in, const char* mapped, std::size_t size, int out) {
    if (mode == "write") return WriteAll(out, mapped, size, size);
    if (mode == "pieces-64k") return WriteAll(out, mapped, size, 64 << 10);
    if (mode == "pieces-1m") return WriteAll(out, mapped, size, 1 << 20);
    if (mode == "populate") {
        if (::madvise(const_cast<char*>(mapped), size, MADV_POPULATE_READ) != 0) return false;
        return WriteAll(out, mapped, size, size);
    }
    if (mode == "bounce-128k") {
        std::vector<char> buffer(128 << 10);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0) return false;
            if (n == 0) return true;
            if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n), buffer.size()))
                return false;
        }
    }
    if (mode == "copy-range") {
        loff_t offset = 0;
        while (static_cast<std::size_t>(offset) < size) {
            if (::copy_file_range(in, &offset, out, nullptr, size - offset, 0) <= 0) return false;
        }
        return true;
    }
    std::fprintf(stderr, "write_paths: unknown mode %s\n", mode.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: write_paths MODE INPUT OUTPUT\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int in = ::open(argv[2], O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0 || status.st_size == 0) {
        std::perror(argv[2]);
        return 1;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in, 0);
    if (mapped == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        std::perror(argv[3]);
        return 1;
    }
    const bool copied = Copy(mode, in, static_cast<const char*>(mapped), size, out);
    if (::close(out) != 0 || !copied) {
        std::fprintf(stderr, "write_paths: %s failed: %s\n", mode.c_str(), std::strerror(errno));
        return 1;
    }
    const std::chrono::duration<double, std::milli> spent =
        std::chrono::steady_clock::now() - start;
    std::printf("%.1f\n", spent.count());
    return 0;
}
