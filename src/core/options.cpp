#include "core/options.h"

namespace {
thread_local unsigned t_options = 0;
}

unsigned options_get() noexcept { return t_options; }

void options_set(unsigned bits) noexcept { t_options = bits; }
