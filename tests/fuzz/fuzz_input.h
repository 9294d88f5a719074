#pragma once

// Reads a libFuzzer input front to back; past its end every read yields zeros.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvinta::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - offset_; }

    template <typename T>
    T take() {
        T value{};
        if (remaining() >= sizeof value) {
            std::memcpy(&value, data_ + offset_, sizeof value);
            offset_ += sizeof value;
        } else {
            offset_ = size_;
        }
        return value;
    }

    // Up to `count` bytes, fewer at the end of the input.
    const std::uint8_t* bytes(std::size_t& count) {
        count = count < remaining() ? count : remaining();
        const std::uint8_t* first = data_ + offset_;
        offset_ += count;
        return first;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace orvinta::fuzz
