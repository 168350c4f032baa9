#include "load/number_index.h"

#include <cstdlib>

bool number_index::reset(int32_t high) noexcept {
    size_t n = static_cast<size_t>(high) + 1;
    slots_.reset(static_cast<int32_t*>(std::calloc(n, sizeof(int32_t))));
    size_ = slots_ ? static_cast<int32_t>(n) : 0;
    return slots_ != nullptr;
}
