// Number trees and name trees as the PDF standard defines them: a root node,
// intermediate nodes with /Kids, leaves with /Nums (number trees) or /Names
// (name trees) holding key-value pairs. /Limits only speed up lookups and are
// not needed for a whole walk, so they are not read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "load/doc.h"
#include "load/graph.h"

// Deepest node level a walk descends to (the root is level 0). A real tree
// needs a handful of levels; a chain deeper than this is cut there.
constexpr int TREE_DEPTH_MAX = 64;

// Calls f(key, value) for each pair of the number tree whose root is `root`
// (a dictionary or a reference to one), in the order of the file: a node's
// /Nums pairs, then its /Kids one after another. Keys are the integers of the
// pairs (a pair whose key is not an integer is passed over); values are given
// as written (a reference is not followed). Every node object is read once,
// so /Kids loops end; stops early when f returns false.
void number_tree_each(const pdf_doc& doc, pdf_val root, const std::function<bool(int64_t, pdf_val)>& f);

// The same for a name tree: /Names pairs whose keys are strings, given to f
// as the bytes the string denotes.
void name_tree_each(const pdf_doc& doc, pdf_val root, const std::function<bool(std::string_view, pdf_val)>& f);
