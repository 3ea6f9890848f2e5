// The reading floor: read() into one reused 1 MiB buffer and memchr for every line
// end. Prints the line count so the work cannot be skipped.
//   floor_read_lines FILE
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const int fd = ::open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    unsigned long long lines = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.get(), kChunk);
        if (n < 0) {
            std::perror(argv[1]);
            return 1;
        }
        if (n == 0)
            break;
        const char* p = buffer.get();
        const char* const end = p + n;
        while (const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
            ++lines;
            p = static_cast<const char*>(found) + 1;
        }
    }
    ::close(fd);
    std::printf("%llu lines\n", lines);
    return 0;
}
