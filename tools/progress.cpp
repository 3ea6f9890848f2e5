// Progress on standard error: "\r" and the line again, padded over the one before.
#include "tools/progress.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ase2sgl::tools {

namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string Mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes >> 20);
}

}  // namespace

std::string FormatProgress(std::string_view what, std::uint64_t done, std::uint64_t total)
{
    std::string line(what);
    line += ": ";
    if (total == 0)
        return line + Mebibytes(done) + " MiB";
    const std::uint64_t shown = done < total ? done : total;
    // In whole percent, rounded down: 100% only once everything is done.
    auto percent = static_cast<unsigned>(static_cast<double>(shown) * 100.0 / static_cast<double>(total));
    if (shown < total && percent > 99)
        percent = 99;
    return line + std::to_string(percent) + "% (" + Mebibytes(shown) + " of " + Mebibytes(total) + " MiB)";
}

std::FILE* TerminalStandardError()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0 ? stderr : nullptr;
#else
    return isatty(fileno(stderr)) != 0 ? stderr : nullptr;
#endif
}

ProgressLine::ProgressLine(std::string what, std::uint64_t total, std::FILE* terminal)
    : what_(std::move(what)), total_(total), terminal_(terminal), start_(Clock::now()), lastShown_(start_)
{
}

void ProgressLine::Clear()
{
    if (shownWidth_ > 0) {
        std::fprintf(terminal_, "\r%*s\r", static_cast<int>(shownWidth_), "");
        std::fflush(terminal_);
    }
    shownWidth_ = 0;
    terminal_ = nullptr;
}

std::string ProgressLine::Update(std::uint64_t done, Clock::time_point now)
{
    if (terminal_ == nullptr || now - start_ < kQuietFor || (shownWidth_ > 0 && now - lastShown_ < kRedrawEvery))
        return {};
    lastShown_ = now;
    std::string line = FormatProgress(what_, done, total_);
    const std::size_t width = line.size();
    if (width < shownWidth_)
        line.append(shownWidth_ - width, ' ');  // over the end of a longer line before
    shownWidth_ = std::max(shownWidth_, width);
    std::fprintf(terminal_, "\r%s", line.c_str());
    std::fflush(terminal_);
    return line;
}

}  // namespace ase2sgl::tools
