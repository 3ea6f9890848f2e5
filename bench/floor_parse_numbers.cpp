// The parsing floor: reads the file like floor_read_lines and parses every number
// of every line with std::from_chars (as a float), on one thread. Prints a checksum
// and the count so the work cannot be skipped.
//   floor_parse_numbers FILE
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

bool StartsNumber(const char* p, const char* end)
{
    const char c = *p;
    if (c >= '0' && c <= '9')
        return true;
    return (c == '-' || c == '+' || c == '.') && p + 1 < end && p[1] >= '0' && p[1] <= '9';
}

}  // namespace

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
    std::size_t held = 0;  // bytes of an unfinished line kept at the front
    double sum = 0;
    unsigned long long numbers = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.get() + held, kChunk - held);
        if (n < 0) {
            std::perror(argv[1]);
            return 1;
        }
        const char* p = buffer.get();
        const char* const end = p + held + static_cast<std::size_t>(n);
        while (p < end) {
            const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (lineEnd == nullptr) {
                if (n > 0)
                    break;  // the rest of this line comes with the next read
                lineEnd = end;
            }
            while (p < lineEnd) {
                if (!StartsNumber(p, lineEnd)) {
                    ++p;
                    continue;
                }
                const char* start = *p == '+' ? p + 1 : p;
                float value = 0;
                const auto [next, ec] = std::from_chars(start, lineEnd, value);
                if (next == start) {
                    ++p;
                    continue;
                }
                sum += value;
                ++numbers;
                p = next;
            }
            p = lineEnd + 1;
        }
        if (n == 0)
            break;
        held = p < end ? static_cast<std::size_t>(end - p) : 0;
        std::memmove(buffer.get(), p, held);
    }
    ::close(fd);
    std::printf("%llu numbers, sum %.6g\n", numbers, sum);
    return 0;
}
