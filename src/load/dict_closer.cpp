#include "load/dict_closer.h"

#include <algorithm>

namespace {

void fail_all(std::vector<pos>* open, std::unordered_map<pos, pos>* memo) {
    for (pos p : *open) (*memo)[p] = -1;
    open->clear();
}

}  // namespace

void dict_closer::attach(const uint8_t* data, pos len) {
    release();
    d_ = data;
    len_ = len;
    reach_ = 0;
}

void dict_closer::release() {
    closes_ = {};
    strings_ = {};
    open_dicts_ = {};
    open_strings_ = {};
}

// End of the literal string opened at p, as literal_end finds it; nested
// strings met on the way are remembered too.
pos dict_closer::string_end(pos p) {
    if (auto it = strings_.find(p); it != strings_.end()) return it->second;
    open_strings_.assign(1, p);
    for (pos j = p + 1; j < len_;) {
        uint8_t b = d_[j];
        if (b == '\\') {
            if (j + 1 >= len_) break;
            j += 2;
        } else if (b == '(') {
            auto it = strings_.find(j);
            if (it == strings_.end()) {
                open_strings_.push_back(j++);
            } else if (it->second < 0) {
                break;
            } else {
                j = it->second;
            }
        } else if (b == ')') {
            strings_[open_strings_.back()] = j + 1;
            open_strings_.pop_back();
            if (open_strings_.empty()) return j + 1;
            ++j;
        } else {
            ++j;
        }
    }
    fail_all(&open_strings_, &strings_);
    return -1;
}

pos dict_closer::close_remembered(pos p) {
    if (auto it = closes_.find(p); it != closes_.end()) return it->second;
    open_dicts_.assign(1, p);
    for (pos i = p + 2; i < len_;) {
        uint8_t c = d_[i];
        if ((c == '<' || c == '>' || c == '(') && i + 1 >= len_) break;
        if (c == '<' && d_[i + 1] == '<') {
            auto it = closes_.find(i);
            if (it == closes_.end()) {
                open_dicts_.push_back(i);
                i += 2;
            } else if (it->second < 0) {
                break;
            } else {
                i = it->second + 2;
            }
        } else if (c == '>' && d_[i + 1] == '>') {
            closes_[open_dicts_.back()] = i;
            open_dicts_.pop_back();
            if (open_dicts_.empty()) {
                reach_ = std::max(reach_, i + 2);
                return i;
            }
            i += 2;
        } else if (c == '(') {
            pos j = string_end(i);
            if (j < 0 || j >= len_) break;
            i = j;
        } else {
            i = next_of<'<', '>', '('>(d_, i + 1, len_);
        }
    }
    reach_ = len_;
    fail_all(&open_dicts_, &closes_);
    return -1;
}

pos dict_closer::close(pos p) {
    if (p < reach_) return close_remembered(p);
    pos r = dict_close(d_, p, len_);
    reach_ = r >= 0 ? r + 2 : len_;
    return r;
}

pos dict_closer::stream_kw(pos p) {
    pos c = close(p);
    if (c < 0) return -1;
    pos q = ws_skip(d_, c + 2, len_);
    return kw_is(d_, q, len_, "stream") ? q : -1;
}
