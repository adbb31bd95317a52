#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

// The owned, zero-terminated text behind ICString and ICWString. An empty buffer holds no
// allocation; Text() then hands out a shared empty string, so it is never null. The length is
// cached and recomputed (up to the first terminator) after the text was written through
// Buffer().
template <typename CharT>
class ICTextBuffer {
public:
    ICTextBuffer() = default;
    ICTextBuffer(const ICTextBuffer& other) { Assign(other.Text(), other.Length()); }
    ICTextBuffer(ICTextBuffer&& other) noexcept
        : data(std::exchange(other.data, nullptr)),
          length(std::exchange(other.length, 0)),
          capacity(std::exchange(other.capacity, 0)) {}
    ICTextBuffer& operator=(const ICTextBuffer& other) {
        if (this != &other) {
            Assign(other.Text(), other.Length());
        }
        return *this;
    }
    ICTextBuffer& operator=(ICTextBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data);
            data = std::exchange(other.data, nullptr);
            length = std::exchange(other.length, 0);
            capacity = std::exchange(other.capacity, 0);
        }
        return *this;
    }
    ~ICTextBuffer() { std::free(data); }

    const CharT* Text() const { return data != nullptr ? data : kEmpty; }

    size_t Length() const {
        if (length == kUnknownLength) {
            length = data != nullptr ? std::char_traits<CharT>::length(data) : 0;
        }
        return length;
    }

    void Clear() {
        std::free(data);
        data = nullptr;
        length = 0;
        capacity = 0;
    }

    void Assign(const CharT* text, size_t count) {
        if (text == nullptr || count == 0) {
            Clear();
            return;
        }
        if (Overlaps(text)) {
            // Assigning a part of the text itself: shift it down in place.
            std::memmove(data, text, count * sizeof(CharT));
            data[count] = 0;
            length = count;
            return;
        }
        if (count > capacity) {
            Clear();
            Allocate(count);
        }
        std::memcpy(data, text, count * sizeof(CharT));
        data[count] = 0;
        length = count;
    }

    void Append(const CharT* text, size_t count) { Insert(Length(), text, count); }

    void Insert(size_t position, const CharT* text, size_t count) {
        if (text == nullptr || count == 0) {
            return;
        }
        size_t oldLength = Length();
        if (position > oldLength) {
            position = oldLength;
        }
        if (Overlaps(text)) {
            // Inserting a part of the text itself: take a copy before the buffer moves.
            std::basic_string<CharT> copy(text, count);
            Insert(position, copy.data(), count);
            return;
        }
        Reserve(oldLength + count, true);
        CharT* gap = data + position;
        std::memmove(gap + count, gap, (oldLength - position + 1) * sizeof(CharT));
        std::memcpy(gap, text, count * sizeof(CharT));
        length = oldLength + count;
    }

    // Removes `count` characters at `position` (both clamped to the text).
    void Erase(size_t position, size_t count) {
        size_t oldLength = Length();
        if (position >= oldLength || count == 0) {
            return;
        }
        if (count > oldLength - position) {
            count = oldLength - position;
        }
        if (count == oldLength) {
            Clear();
            return;
        }
        std::memmove(data + position, data + position + count,
                     (oldLength - position - count + 1) * sizeof(CharT));
        length = oldLength - count;
    }

    // A buffer of `count` characters plus terminator, zero-filled beyond the kept text.
    void SetLength(long count) {
        if (count <= 0) {
            Clear();
            return;
        }
        size_t wanted = static_cast<size_t>(count);
        size_t kept = Length() < wanted ? Length() : wanted;
        Reserve(wanted, false);
        std::memset(data + kept, 0, (capacity + 1 - kept) * sizeof(CharT));
        length = kept;
    }

    // Writable access to the text (allocating an empty one if needed). The length is recounted
    // on the next read.
    CharT* Buffer() {
        if (data == nullptr) {
            Allocate(0);
            data[0] = 0;
        }
        length = kUnknownLength;
        return data;
    }

    size_t Capacity() const { return capacity; }

    // Makes room for `count` characters plus terminator, keeping the text.
    void Reserve(size_t count, bool geometric) {
        if (data != nullptr && count <= capacity) {
            return;
        }
        size_t newCapacity = count;
        if (geometric && data != nullptr && newCapacity < capacity + capacity / 2) {
            newCapacity = capacity + capacity / 2;
        }
        size_t oldLength = Length();
        void* grown = std::realloc(data, (newCapacity + 1) * sizeof(CharT));
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        data = static_cast<CharT*>(grown);
        if (oldLength == 0) {
            data[0] = 0;
        }
        capacity = newCapacity;
        length = oldLength;
    }

private:
    static constexpr size_t kUnknownLength = static_cast<size_t>(-1);
    static constexpr CharT kEmpty[1] = {0};

    bool Overlaps(const CharT* text) const {
        return data != nullptr && text >= data && text <= data + capacity;
    }

    void Allocate(size_t count) {
        data = static_cast<CharT*>(std::malloc((count + 1) * sizeof(CharT)));
        if (data == nullptr) {
            throw std::bad_alloc();
        }
        capacity = count;
        length = 0;
    }

    CharT* data = nullptr;
    mutable size_t length = 0;
    size_t capacity = 0;
};
