// Formats an open query's rows for the shell: a header of column names, then one line per row,
// values separated by one TAB, a null written as a chosen text.
#pragma once

#include <string>

namespace kova {
class TABSDataSet;
}

namespace kova::shell {

struct ResultFormat {
    std::string NullText = "NULL";
    bool Header = true;
};

// All rows of `dataSet` from its first, each line ending with "\n". Values are the field's
// AsString; the dataset is left after its last row.
// REQUIRES: the dataset is open. Conversion errors of a field pass on.
[[nodiscard]] std::string FormatRows(TABSDataSet& dataSet, const ResultFormat& format);

} // namespace kova::shell
