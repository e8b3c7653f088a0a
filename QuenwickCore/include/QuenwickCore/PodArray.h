#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A growable array of trivially copyable values whose large buffers live in their own anonymous
// mappings and grow with mremap, so a tree of millions of nodes never holds an old and a new copy
// of an array at once (peak memory stays near the live size). Small arrays use the heap.
// Owns its storage; not thread-safe; moves leave the source empty.
namespace quenwick {

namespace detail {
void* podAllocate(size_t bytes, bool& mapped);
void* podReallocate(void* data, size_t oldBytes, size_t newBytes, bool& mapped);
void podFree(void* data, size_t bytes, bool mapped);
}  // namespace detail

template <typename T>
class PodArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodArray() = default;
    PodArray(const PodArray& other) { *this = other; }
    PodArray(PodArray&& other) noexcept { swap(other); }
    PodArray& operator=(const PodArray& other) {
        if (this != &other) {
            clear();
            reserve(other.size_);
            if (other.size_ > 0) std::memcpy(data_, other.data_, other.size_ * sizeof(T));
            size_ = other.size_;
        }
        return *this;
    }
    PodArray& operator=(PodArray&& other) noexcept {
        PodArray moved(static_cast<PodArray&&>(other));
        swap(moved);
        return *this;
    }
    ~PodArray() { detail::podFree(data_, capacity_ * sizeof(T), mapped_); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t capacity() const { return capacity_; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& back() { return data_[size_ - 1]; }

    void reserve(size_t n) {
        if (n > capacity_) regrow(n);
    }
    void push_back(const T& value) {
        if (size_ == capacity_) regrow(capacity_ < 16 ? 16 : capacity_ * 2);
        data_[size_++] = value;
    }
    // Appends n bytes-worth of values copied from src.
    void append(const T* src, size_t n) {
        if (n == 0) return;
        if (size_ + n > capacity_) regrow(size_ + n > capacity_ * 2 ? size_ + n : capacity_ * 2);
        std::memcpy(data_ + size_, src, n * sizeof(T));
        size_ += n;
    }
    // Grows or shrinks the logical size; new elements are zero.
    void resize(size_t n) {
        reserve(n);
        if (n > size_) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
        size_ = n;
    }
    void clear() { size_ = 0; }
    void swap(PodArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        std::swap(mapped_, other.mapped_);
    }

private:
    void regrow(size_t n) {
        if (data_ == nullptr) {
            data_ = static_cast<T*>(detail::podAllocate(n * sizeof(T), mapped_));
        } else {
            data_ = static_cast<T*>(
                detail::podReallocate(data_, capacity_ * sizeof(T), n * sizeof(T), mapped_));
        }
        capacity_ = n;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool mapped_ = false;
};

}  // namespace quenwick
