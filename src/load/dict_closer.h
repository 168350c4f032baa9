// Answers dict_close(data, p, len) for many positions of one buffer.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "syntax/lexer.h"

// A walk over bytes no earlier walk covered is a plain dict_close; a walk
// that starts inside covered bytes (a dictionary nested in, or overlapping,
// an earlier one) remembers the close of every "<<" and the end of every
// literal string it passes, so such bytes are walked a bounded number of
// times. Calls in increasing position order keep to the plain search.
class dict_closer {
public:
    dict_closer() = default;
    // Starts over on the buffer data[0, len), forgetting everything.
    void attach(const uint8_t* data, pos len);
    // Same result as dict_close(data, p, len) for a "<<" at p.
    pos close(pos p);
    // Same result as stream_kw_after(data, p, len) for a "<<" at p.
    pos stream_kw(pos p);
    // Forgets what was remembered (the memory goes back).
    void release();

private:
    pos close_remembered(pos p);
    pos string_end(pos p);
    const uint8_t* d_ = nullptr;
    pos len_ = 0;
    pos reach_ = 0;  // bytes before this were covered by some walk
    std::unordered_map<pos, pos> closes_;   // "<<" position -> close, or -1
    std::unordered_map<pos, pos> strings_;  // "(" position -> position after its ")", or -1
    std::vector<pos> open_dicts_;           // work stacks
    std::vector<pos> open_strings_;
};
