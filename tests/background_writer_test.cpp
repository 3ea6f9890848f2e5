// The pieces handed to a background writer reach the file whole and in order, on
// one core or more, and a failed write is thrown to the caller, not lost.
#include "tools/background_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ase2sgl::tools {
namespace {

constexpr std::size_t kBig = BackgroundWriter::kThreadAfterBytes;

// A piece of `size` bytes whose content tells it from its neighbours.
std::string Piece(std::size_t index, std::size_t size)
{
    std::string piece(size, static_cast<char>('a' + index % 26));
    if (size > 0)
        piece[size / 2] = static_cast<char>('0' + index % 10);
    return piece;
}

TEST(BackgroundWriter, PiecesArriveWholeAndInOrder)
{
    struct Case {
        std::vector<std::size_t> sizes;
        int cores;
        bool threaded;
    };
    const std::vector<Case> cases = {
        {{}, 2, false},
        {{10, 0, 300}, 2, false},                       // small output: written at once
        {{kBig - 1}, 2, false},
        {{kBig}, 2, true},
        {{5, kBig, 7, kBig + 3, 1, kBig, kBig, 9}, 2, true},  // small pieces before and after
        {{5, kBig, 7, kBig + 3, 1, kBig}, 1, false},    // one core: no thread
        {std::vector<std::size_t>(40, kBig / 4 * 5), 4, true},
    };
    // Each piece given as a view (copied when it goes to the thread) or in a buffer
    // handed over (which the caller then fills again, or the one it got back).
    for (const bool handOver : {false, true}) {
        for (const Case& c : cases) {
            std::string written, expected;
            std::vector<const char*> handedAt, writtenFrom;
            std::size_t calls = 0;
            {
                BackgroundWriter writer(
                    [&](std::string_view piece) {
                        written.append(piece);
                        writtenFrom.push_back(piece.data());
                        ++calls;
                    },
                    c.cores);
                TextBuffer buffer;
                for (std::size_t i = 0; i < c.sizes.size(); ++i) {
                    const std::string piece = Piece(i, c.sizes[i]);
                    expected += piece;
                    if (!handOver) {
                        writer.Put(piece);
                        continue;
                    }
                    if (buffer.capacity < piece.size()) {
                        buffer.bytes = std::make_unique<char[]>(piece.size());
                        buffer.capacity = piece.size();
                    }
                    std::copy(piece.begin(), piece.end(), buffer.bytes.get());
                    buffer.size = piece.size();
                    handedAt.push_back(buffer.bytes.get());
                    writer.Put(buffer);
                    EXPECT_EQ(buffer.size, 0u);
                }
                writer.Finish();
                EXPECT_EQ(writer.Threaded(), c.threaded) << c.sizes.size() << " pieces";
                EXPECT_EQ(written.size(), expected.size());
                EXPECT_TRUE(written == expected)
                    << c.sizes.size() << " pieces on " << c.cores << " cores, handed over: " << handOver;
                // A buffer handed over is written where it lies, not copied.
                if (handOver) {
                    EXPECT_EQ(writtenFrom, handedAt) << c.sizes.size() << " pieces on " << c.cores << " cores";
                }
            }
            EXPECT_EQ(calls, c.sizes.size());
        }
    }
}

TEST(BackgroundWriter, AFailedWriteIsThrownToTheCaller)
{
    // The write that fails: the first, one written on the thread, or the last.
    for (const std::size_t failing : {std::size_t{0}, std::size_t{3}, std::size_t{7}}) {
        for (const int cores : {1, 2}) {
            std::size_t calls = 0;
            BackgroundWriter writer(
                [&](std::string_view) {
                    if (calls++ == failing)
                        throw std::runtime_error("disk full");
                },
                cores);
            bool thrown = false;
            try {
                for (std::size_t i = 0; i < 8; ++i)
                    writer.Put(Piece(i, kBig));
                writer.Finish();
            } catch (const std::runtime_error& error) {
                thrown = true;
                EXPECT_STREQ(error.what(), "disk full");
            }
            EXPECT_TRUE(thrown) << "write " << failing << " on " << cores << " cores";
            // Nothing is written after the failure.
            EXPECT_EQ(calls, failing + 1) << "write " << failing << " on " << cores << " cores";
        }
    }
}

TEST(BackgroundWriter, StopsWithoutFinishing)
{
    // As when the reading fails midway: the writer goes out of scope with pieces
    // handed over, and neither hangs nor writes after it is gone.
    std::size_t calls = 0;
    {
        BackgroundWriter writer([&](std::string_view) { ++calls; }, 2);
        for (std::size_t i = 0; i < 5; ++i)
            writer.Put(Piece(i, kBig));
    }
    EXPECT_GE(calls, 4u);  // every piece taken up before the end is written
    EXPECT_LE(calls, 5u);
}

}  // namespace
}  // namespace ase2sgl::tools
