#include "ResultPrinter.h"

#include "engine/api/ABSDataSet.h"
#include "engine/api/ABSField.h"

namespace kova::shell {

std::string FormatRows(TABSDataSet& dataSet, const ResultFormat& format) {
    std::string out;
    const std::size_t columns = dataSet.FieldCount();
    if (format.Header) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (c > 0) out += '\t';
            out += dataSet.Field(c).FieldName();
        }
        out += '\n';
    }
    // An empty result is Eof right away; First keeps that.
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (c > 0) out += '\t';
            const TABSField& field = dataSet.Field(c);
            // AsString reads a null as "", which an empty text also is: ask first.
            out += field.IsNull() ? format.NullText : field.AsString();
        }
        out += '\n';
    }
    return out;
}

} // namespace kova::shell
