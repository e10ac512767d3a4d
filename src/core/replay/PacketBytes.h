#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace corvane {

// The bytes of one compressed packet: immutable, and shared with whatever holds their memory
// (a block of a PacketArena, or a vector of their own).
class PacketBytes {
public:
    PacketBytes() = default;
    // Bytes in memory of their own, for packets made one at a time.
    PacketBytes(std::vector<uint8_t> bytes) {  // NOLINT: implicit, a vector is a packet's bytes
        auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
        data_ = owned->data();
        size_ = owned->size();
        owner_ = std::move(owned);
    }
    PacketBytes(std::initializer_list<uint8_t> bytes) : PacketBytes(std::vector<uint8_t>(bytes)) {}
    // `size` bytes at `data`, kept alive by `owner`.
    PacketBytes(std::shared_ptr<const void> owner, const uint8_t* data, size_t size)
        : owner_(std::move(owner)), data_(data), size_(size) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t* begin() const { return data_; }
    const uint8_t* end() const { return data_ + size_; }
    uint8_t operator[](size_t i) const { return data_[i]; }

    bool operator==(const PacketBytes& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }
    bool operator==(const std::vector<uint8_t>& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

private:
    std::shared_ptr<const void> owner_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace corvane
