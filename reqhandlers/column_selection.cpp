#include "reqhandlers/column_selection.hpp"

namespace dcu::columns {

std::vector<SelectedColumn> select(std::span<const std::string_view> header,
                                   std::span<const selection::Entry> entries) {
    std::vector<SelectedColumn> selected;
    for (std::size_t column = 0; column < header.size(); ++column) {
        for (std::size_t entry = 0; entry < entries.size(); ++entry) {
            const std::string &obis = entries[entry].obis;
            if (obis.empty() || obis != header[column]) continue;
            selected.push_back({column, entry});
            break;
        }
    }
    return selected;
}

}  // namespace dcu::columns
