#pragma once

#include "foundation/ParallelArrays.h"

#include <cstdint>
#include <string>
#include <vector>

// File-name order of the file lists and page lists, and number sorts, each
// carrying up to three parallel vectors along (sizes, dates, records...).
//
// Name order follows one process-wide mode (the "sortMode" setting), read
// once at the start of every sort. Page numbers are stored by position in
// the sorted page list, so these orders must never change.
//   0 "old":          digit runs of up to 8 as numbers, before any other byte
//   1 "natural":      Unicode-aware: NFKC, symbols, then numbers, then letters
//   2 "naturalFast":  bytes: punctuation, numbers, then letters
//   3 plain byte order
// There is no case folding in any mode.
//
// Keys are UTF-8 strings, or (isNSData) raw name bytes held in std::string;
// either way a key ends at its first NUL byte. In mode 1, byte keys are
// ordered as in mode 2.
class ArraySort {
public:
    ArraySort() = delete;

    enum SortMode : int { kOld = 0, kNatural = 1, kNaturalFast = 2, kBytes = 3 };

    static void setSortMode(int mode);
    static int sortMode();

    // Sorts `keys` in place by the current mode, making every exchange in the
    // carried vectors too. Returns false, leaving everything as it was, when a
    // carried vector has a different number of rows than `keys`.
    static bool quickSortArray(std::vector<std::string>& keys, const ParallelArrays& carried, bool isNSData);

    // The same with up to two carried vectors (any element types; nullptr
    // for none).
    template <class A2, class A3>
    static bool quickSortArray(std::vector<std::string>& keys, A2 array2, A3 array3, bool isNSData) {
        ParallelArrays carried;
        carried.add(array2);
        carried.add(array3);
        return quickSortArray(keys, carried, isNSData);
    }
    template <class A2>
    static bool quickSortArray(std::vector<std::string>& keys, A2 array2, bool isNSData) {
        return quickSortArray(keys, array2, nullptr, isNSData);
    }

    template <class A2>
    static bool sortFileListArrayNSString(std::vector<std::string>& keys, A2 array2) {
        return quickSortArray(keys, array2, nullptr, false);
    }
    template <class A2, class A3>
    static bool sortFileListArrayNSString(std::vector<std::string>& keys, A2 array2, A3 array3) {
        return quickSortArray(keys, array2, array3, false);
    }

    // Sorts percent-escaped names (and `array2`) by their decoded form: the
    // UTF-8 text of the unescaped bytes, or the name itself when it does not
    // unescape to UTF-8.
    template <class A2>
    static bool sortFileListArrayNSStringEncoded(std::vector<std::string>& names, A2 array2) {
        ParallelArrays carried;
        carried.add(&names);
        carried.add(array2);
        return sortEncoded(names, carried);
    }

    // Number sorts, ascending or descending, carrying `anyArray` (and
    // `anyArray2` when given). Equal values keep no particular order.
    template <class A2, class A3>
    static bool sortIntegerArray(std::vector<int64_t>& values, A2 anyArray, A3 anyArray2, bool descendingOrder) {
        ParallelArrays carried;
        carried.add(anyArray);
        carried.add(anyArray2);
        return sortIntegers(values, carried, descendingOrder);
    }
    template <class A2, class A3>
    static bool sortDoubleArray(std::vector<double>& values, A2 anyArray, A3 anyArray2, bool descendingOrder) {
        ParallelArrays carried;
        carried.add(anyArray);
        carried.add(anyArray2);
        return sortDoubles(values, carried, descendingOrder);
    }

    // Compares two NUL-terminated names in a mode: < 0 when `a` comes first,
    // 0 when they rank equal, > 0 when `b` comes first. Mode 1 on strings
    // compares the bytes as given; the sorts normalise them to NFKC first.
    static int compare(const char* a, const char* b, int mode, bool isNSData);

    // The NFKC form the natural mode compares.
    static std::string normalizeForNaturalSort(const std::string& key);

private:
    static bool sortEncoded(std::vector<std::string>& names, const ParallelArrays& carried);
    static bool sortIntegers(std::vector<int64_t>& values, const ParallelArrays& carried, bool descending);
    static bool sortDoubles(std::vector<double>& values, const ParallelArrays& carried, bool descending);
};
