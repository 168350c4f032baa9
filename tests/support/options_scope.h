// This thread's library options set for one scope, the previous ones put
// back at its end.
#pragma once

#include "vellix.h"

struct options_scope {
    unsigned prev;
    explicit options_scope(unsigned bits) : prev(vellix_set_options(bits)) {}
    ~options_scope() { vellix_set_options(prev); }
    options_scope(const options_scope&) = delete;
    options_scope& operator=(const options_scope&) = delete;
};
