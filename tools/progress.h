// A progress line on standard error for work on large files: one line, rewritten
// in place, shown only when standard error is a terminal and the work has taken
// more than a second. Redirected, or quick, it prints nothing at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace ase2sgl::tools {

// "normalize scene.ase: 45% (45 of 100 MiB)"; without a known total (a pipe),
// "normalize scene.ase: 45 MiB".
std::string FormatProgress(std::string_view what, std::uint64_t done, std::uint64_t total);

bool StandardErrorIsTerminal();

class ProgressLine {
  public:
    using Clock = std::chrono::steady_clock;

    // `terminal`: whether to print at all (standard error is a terminal).
    ProgressLine(std::string what, std::uint64_t total, bool terminal = StandardErrorIsTerminal());
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    // Clears the line, if one was shown, so that what follows starts on a clean line.
    ~ProgressLine();

    void Update(std::uint64_t done) { Update(done, Clock::now()); }
    // The text to show at `now` (already written to standard error), or empty when
    // nothing is shown: before a second has passed, between redraws, or not on a terminal.
    std::string Update(std::uint64_t done, Clock::time_point now);

  private:
    std::string what_;
    std::uint64_t total_;
    bool terminal_;
    Clock::time_point start_, lastShown_;
    std::size_t shownWidth_ = 0;
};

}  // namespace ase2sgl::tools
