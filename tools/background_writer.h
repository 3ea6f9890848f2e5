// Text written to a file on a thread of its own: the system's copy of each piece
// into the file runs beside the making of the next piece.
#pragma once

#include "common/text_buffer.h"

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
    // The same, taking `piece`'s buffer instead of a copy when the piece goes to the
    // thread; `piece` is left with a buffer written before (or none), empty.
    void Put(TextBuffer& piece);
    // Waits until everything is written; throws what `write` threw.
    void Finish();
    bool Threaded() const { return thread_.joinable(); }

  private:
    // Writes `piece` here when there is no thread for it (and starts the thread
    // when the piece is the first one long enough); false when it is for the thread.
    bool WrittenHere(std::string_view piece);
    // Waits until the piece waiting before has been taken by the thread.
    std::unique_lock<std::mutex> WaitForRoom();
    void Handed(std::unique_lock<std::mutex>& lock);
    void Run();
    void ThrowIfFailed();

    WriteFunction write_;
    bool mayStart_;
    std::mutex mutex_;
    std::condition_variable changed_;
    TextBuffer waiting_;  // the next piece to write; once taken, the one written before
    bool hasWaiting_ = false;
    bool writing_ = false;
    bool stop_ = false;
    bool failed_ = false;
    std::exception_ptr error_;  // what `write` threw, until it is thrown to the caller
    std::thread thread_;
};

}  // namespace ase2sgl::tools
