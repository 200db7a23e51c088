#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

// Vectors of any element types that a sort carries along with its keys: every
// exchange of two keys is made at the same two positions in each of them, so
// that row i of every vector still belongs together afterwards. Null
// pointers are skipped. Holds pointers only; the vectors must outlive it.
class ParallelArrays {
public:
    static constexpr size_t kCapacity = 6;

    ParallelArrays() = default;

    template <class T>
    void add(std::vector<T>* v) {
        if (!v || count_ == kCapacity) return;
        entries_[count_++] = Entry{v, v->size(), &swapIn<T>};
    }
    void add(std::nullptr_t) {}

    // True when every carried vector has exactly `rows` entries.
    bool hasRows(size_t rows) const {
        return std::all_of(entries_.begin(), entries_.begin() + count_,
                           [rows](const Entry& e) { return e.size == rows; });
    }

    void swap(size_t i, size_t j) const {
        for (size_t k = 0; k < count_; ++k) entries_[k].swapFn(entries_[k].vector, i, j);
    }

    size_t count() const { return count_; }

private:
    struct Entry {
        void* vector = nullptr;
        size_t size = 0;
        void (*swapFn)(void*, size_t, size_t) = nullptr;
    };

    template <class T>
    static void swapIn(void* v, size_t i, size_t j) {
        auto& vec = *static_cast<std::vector<T>*>(v);
        std::iter_swap(vec.begin() + static_cast<std::ptrdiff_t>(i), vec.begin() + static_cast<std::ptrdiff_t>(j));
    }

    std::array<Entry, kCapacity> entries_{};
    size_t count_ = 0;
};
