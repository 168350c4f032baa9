// The inputs of the batch commands, produced one at a time: operands (files
// and directories), then the files of a list. Only one directory's
// listing is held per level of the walk, so a list of any length streams.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct batch_input {
    std::string path;   // as opened: the operand, the list entry, or directory + "/" + name
    std::string rel;    // where it goes under an output directory ("" when it cannot be mirrored)
    std::string error;  // set for an input that failed before any work (an unreadable directory)
};

struct batch_input_settings {
    std::vector<std::string> operands;
    std::string files_from;  // "" for none, "-" for standard input
    bool nul = false;        // list entries end at a zero byte instead of a line feed
    bool recursive = false;  // descend into subdirectories of directories
    std::vector<std::string> skip_dirs;  // directories never entered (the output directory)
};

class batch_inputs {
public:
    explicit batch_inputs(batch_input_settings s);
    ~batch_inputs();
    batch_inputs(const batch_inputs&) = delete;
    batch_inputs& operator=(const batch_inputs&) = delete;

    // Opens the list file; false with message() set when it cannot be opened.
    bool open();
    // The next input, false at the end (or after a read error of the list:
    // message() then says so).
    bool next(batch_input& out);
    const std::string& message() const { return message_; }
    // True when the list is a regular file (not standard input or a pipe), so
    // that a second pass over the same settings sees the same entries.
    bool list_rereadable() const { return list_regular_; }

private:
    struct level {
        std::string dir;   // directory path as opened, without a final '/'
        std::string rel;   // its place under the output directory ("" for a root)
        std::vector<std::pair<std::string, unsigned char>> entries;  // name, d_type; sorted
        size_t next = 0;
    };
    // Starts a directory input; false (and out set to a failure) when it cannot be read.
    bool enter(const std::string& dir, const std::string& rel, batch_input& out);
    // One path given by the user: an operand (a directory is walked) or a
    // list entry (a directory is passed over: lists name files, as
    // `find -print0` makes them with the directories among them).
    bool given(const std::string& path, bool listed, batch_input& out);
    bool read_list_entry(std::string& entry);

    batch_input_settings s_;
    std::string message_;
    size_t operand_ = 0;
    FILE* list_ = nullptr;
    bool list_owned_ = false, list_regular_ = false, list_done_ = false;
    char* line_ = nullptr;
    size_t line_cap_ = 0;
    std::vector<level> stack_;
    std::set<std::pair<dev_t, ino_t>> seen_dirs_;  // every directory entered, so links cannot loop
};

// Where a user-given path goes under an output directory: the path made
// relative (a leading '/' dropped, "." parts removed); "" when it climbs out
// with "..".
std::string batch_mirror_path(const std::string& path);
