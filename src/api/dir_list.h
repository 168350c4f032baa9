// Directory listing for the multi-file operations: the qualifying ".pdf"
// entries of one directory level, in listing order.
#pragma once

#include <string>
#include <vector>

// True for a name that does not start with '.', has at least 5 bytes and
// ends in ".pdf" in any ASCII case.
bool dir_entry_qualifies(const char* name);

// Names of the qualifying entries of dir in the order the listing gives them;
// false when the directory cannot be opened.
bool dir_list_pdfs(const char* dir, std::vector<std::string>* names);

// "dir/name", at whatever length it needs.
std::string dir_join(const char* dir, const std::string& name);

// Creates one directory level (mode 0777 before the umask); an existing
// directory counts as success.
bool dir_make(const char* path);

// The qualifying ".pdf" entries of one directory, in listing order.
struct pdf_dir {
    const char* path;
    std::vector<std::string> names;
};

// Lists dir into *out; false with "cannot open directory %s" when it cannot be opened.
bool pdf_dir_open(const char* dir, pdf_dir* out);
