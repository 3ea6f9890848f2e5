// Mapped input on Windows: not used. A view of a file that another program cuts
// shorter raises an exception the reader would have to catch around every access,
// so the input is read into the line buffer instead, as before.
#include "platform/mapped_input.h"

#include <utility>

namespace ase2sgl::platform {

MappedInput::MappedInput(MappedInput&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      slot_(std::exchange(other.slot_, -1))
{
}

MappedInput& MappedInput::operator=(MappedInput&& other) noexcept
{
    if (this != &other) {
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

bool MappedInput::Map(const InputFile&, std::uint64_t)
{
    return false;
}

void MappedInput::Release(std::uint64_t, std::uint64_t) const {}
void MappedInput::ReleaseFromBlockStart(std::uint64_t, std::uint64_t) const {}

bool MappedInput::Cut() const
{
    return false;
}

void MappedInput::Unmap() noexcept {}

}  // namespace ase2sgl::platform
