// Text written to a file on a thread of its own: the system's copy of each piece
// into the file runs beside the making of the next piece.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace ase2sgl::tools {

class BackgroundWriter {
  public:
    using WriteFunction = std::function<void(std::string_view)>;
    // A piece this long or longer starts the thread (with two cores or more); until
    // then, and for a small output, pieces are written at once.
    static constexpr std::size_t kThreadAfterBytes = std::size_t{1} << 20;

    // `write` runs on the writing thread once it is started; `cores` is how many the
    // process may use (one: everything is written at once, on the caller's thread).
    BackgroundWriter(WriteFunction write, int cores);
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;
    // Stops without writing what is still waiting (after a failure elsewhere).
    ~BackgroundWriter();

    // Takes a copy of `piece`; waits while one piece is being written and another is
    // waiting. What `write` threw for an earlier piece is thrown here.
    void Put(std::string_view piece);
    // Waits until everything is written; throws what `write` threw.
    void Finish();
    bool Threaded() const { return thread_.joinable(); }

  private:
    void Run();
    void ThrowIfFailed();

    WriteFunction write_;
    bool mayStart_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string waiting_;  // the next piece to write, handed over whole
    bool hasWaiting_ = false;
    bool writing_ = false;
    bool stop_ = false;
    bool failed_ = false;
    std::exception_ptr error_;  // what `write` threw, until it is thrown to the caller
    std::thread thread_;
};

}  // namespace ase2sgl::tools
