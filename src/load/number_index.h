// Object number -> row of the object table, in constant time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/strbuf.h"

// Holds 1 + a row index per object number 0 .. size() - 1 (0: no row). The
// block is zero-filled on allocation, so the pages of a sparse numbering that
// are never written cost no memory.
class number_index {
public:
    // Makes room for numbers 0 .. high, all without a row; false (index
    // empty) when there is no memory for it.
    bool reset(int32_t high) noexcept;
    // Records `row` for num unless an earlier row was recorded (num <= high).
    void add_first(int32_t num, size_t row) noexcept {
        int32_t& slot = slots_.get()[num];
        if (slot == 0) slot = static_cast<int32_t>(row) + 1;
    }
    // The row recorded for num, or -1.
    int64_t row(int32_t num) const noexcept {
        if (num < 0 || num >= size_) return -1;
        return static_cast<int64_t>(slots_.get()[num]) - 1;
    }
    int32_t size() const noexcept { return size_; }

private:
    std::unique_ptr<int32_t, free_deleter> slots_;
    int32_t size_ = 0;
};
