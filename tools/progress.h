// A progress line on standard error for work on large files: one line, rewritten
// in place, shown only when standard error is a terminal and the work has taken
// more than a second. Redirected, or quick, it prints nothing at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ase2sgl::tools {

// "normalize scene.ase: 45% (45 of 100 MiB)"; without a known total (a pipe),
// "normalize scene.ase: 45 MiB".
std::string FormatProgress(std::string_view what, std::uint64_t done, std::uint64_t total);

// Standard error when it is a terminal, else null.
std::FILE* TerminalStandardError();

class ProgressLine {
  public:
    using Clock = std::chrono::steady_clock;

    // Shown on `terminal`; null, nothing is shown.
    ProgressLine(std::string what, std::uint64_t total, std::FILE* terminal = TerminalStandardError());
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    // Clears the line, if one was shown, so that what follows starts on a clean line.
    ~ProgressLine() { Clear(); }
    // Clears the line now (before the command prints its result); nothing shows after.
    void Clear();

    void Update(std::uint64_t done) { Update(done, Clock::now()); }
    // The text shown at `now` (written to the terminal after a CR), or empty when
    // nothing is shown: before a second has passed, between redraws, or with no terminal.
    std::string Update(std::uint64_t done, Clock::time_point now);

  private:
    std::string what_;
    std::uint64_t total_;
    std::FILE* terminal_;
    Clock::time_point start_, lastShown_;
    std::size_t shownWidth_ = 0;
};

}  // namespace ase2sgl::tools
