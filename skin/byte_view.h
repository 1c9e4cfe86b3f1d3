#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qj {

// A bounds-checked view of little-endian data: every read names its offset and gives none when
// any byte of it lies outside the view, so no offset taken from the data can lead a read astray.
// Offsets are 64-bit so that sums of two 32-bit fields cannot wrap.
class ByteView {
public:
    ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

    bool Contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    std::optional<std::uint16_t> U16(std::uint64_t offset) const {
        if (!Contains(offset, 2)) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
    }

    std::optional<std::uint32_t> U32(std::uint64_t offset) const {
        if (!Contains(offset, 4)) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(data_[offset]) | static_cast<std::uint32_t>(data_[offset + 1]) << 8 |
               static_cast<std::uint32_t>(data_[offset + 2]) << 16 |
               static_cast<std::uint32_t>(data_[offset + 3]) << 24;
    }

    std::optional<std::uint64_t> U64(std::uint64_t offset) const {
        const std::optional<std::uint32_t> low = U32(offset);
        const std::optional<std::uint32_t> high = Contains(offset, 8) ? U32(offset + 4) : std::nullopt;
        if (!low || !high) {
            return std::nullopt;
        }
        return std::uint64_t{*low} | std::uint64_t{*high} << 32;
    }

    // The zero-terminated string at `offset`, without its terminator; none when the view ends first.
    std::optional<std::string_view> CString(std::uint64_t offset) const {
        if (offset >= size_) {
            return std::nullopt;
        }
        for (std::uint64_t end = offset; end < size_; ++end) {
            if (data_[end] == 0) {
                return std::string_view(reinterpret_cast<const char*>(data_ + offset), end - offset);
            }
        }
        return std::nullopt;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A writable view over a mapped image, with the same bounds rule.
class MutableByteView : public ByteView {
public:
    MutableByteView(std::uint8_t* data, std::size_t size) : ByteView(data, size), mutable_(data) {}

    bool PutU32(std::uint64_t offset, std::uint32_t value) {
        if (!Contains(offset, 4)) {
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            mutable_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return true;
    }

    bool PutU64(std::uint64_t offset, std::uint64_t value) {
        if (!Contains(offset, 8)) {
            return false;
        }
        for (int i = 0; i < 8; ++i) {
            mutable_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return true;
    }

    std::uint8_t* mutable_data() { return mutable_; }

private:
    std::uint8_t* mutable_;
};

}  // namespace qj
