// Which dictionaries count as Info dictionaries wherever they lie.
#include "info/info.h"

#include "load/graph.h"

bool dict_info_like(pdf_val d) {
    bool typed = false, title = false, parent = false, info_key = false;
    dict_each(d, [&](std::string_view k, pdf_val) {
        if (k == "Type" || k == "Subtype") {
            typed = true;
            return false;
        }
        if (k == "Title") {
            title = true;
        } else if (k == "Parent") {
            parent = true;
        } else {
            for (int i = 0; i < INFO_FIELD_COUNT; ++i)
                if (i != FIELD_TITLE && k == INFO_KEYS[i]) info_key = true;
        }
        return true;
    });
    return !typed && (info_key || (title && !parent));
}
