#include "tools/background_writer.h"

#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

namespace ase2sgl::tools {

BackgroundWriter::BackgroundWriter(WriteFunction write, int cores) : write_(std::move(write)), mayStart_(cores >= 2) {}

BackgroundWriter::~BackgroundWriter()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundWriter::ThrowIfFailed()
{
    if (error_) {
        std::exception_ptr error = std::exchange(error_, nullptr);
        std::rethrow_exception(error);
    }
}

bool BackgroundWriter::WrittenHere(std::string_view piece)
{
    if (thread_.joinable())
        return false;
    if (!mayStart_ || piece.size() < kThreadAfterBytes) {
        write_(piece);
        return true;
    }
    // No thread to be had: the pieces are written at once from here on.
    mayStart_ = false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        write_(piece);
        return true;
    }
    return false;
}

std::unique_lock<std::mutex> BackgroundWriter::WaitForRoom()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !hasWaiting_ || failed_; });
    ThrowIfFailed();
    return lock;
}

void BackgroundWriter::Handed(std::unique_lock<std::mutex>& lock)
{
    hasWaiting_ = true;
    lock.unlock();
    changed_.notify_all();
}

void BackgroundWriter::Put(std::string_view piece)
{
    if (WrittenHere(piece))
        return;
    std::unique_lock lock = WaitForRoom();
    if (waiting_.capacity < piece.size()) {
        waiting_.bytes = std::make_unique_for_overwrite<char[]>(piece.size());
        waiting_.capacity = piece.size();
    }
    if (!piece.empty())
        std::memcpy(waiting_.bytes.get(), piece.data(), piece.size());
    waiting_.size = piece.size();
    Handed(lock);
}

void BackgroundWriter::Put(TextBuffer& piece)
{
    if (WrittenHere(piece.View())) {
        piece.size = 0;
        return;
    }
    std::unique_lock lock = WaitForRoom();
    std::swap(waiting_, piece);
    piece.size = 0;
    Handed(lock);
}

void BackgroundWriter::Finish()
{
    if (!thread_.joinable())
        return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (!hasWaiting_ && !writing_) || failed_; });
    ThrowIfFailed();
}

void BackgroundWriter::Run()
{
    TextBuffer piece;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return hasWaiting_ || stop_; });
        if (stop_)
            return;
        std::swap(piece, waiting_);
        hasWaiting_ = false;
        // After a failure the pieces still handed over are dropped: the caller is
        // told at its next Put or at Finish, and the output is thrown away.
        if (failed_) {
            changed_.notify_all();
            continue;
        }
        writing_ = true;
        lock.unlock();
        changed_.notify_all();
        std::exception_ptr error;
        try {
            write_(piece.View());
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        writing_ = false;
        if (error) {
            failed_ = true;
            error_ = error;
        }
        changed_.notify_all();
    }
}

}  // namespace ase2sgl::tools
