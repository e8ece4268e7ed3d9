#include "reqhandlers/column_selection.hpp"

#include <algorithm>

namespace dcu::columns {

Matcher::Matcher(std::span<const selection::Entry> entries) {
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        const std::string &obis = entries[entry].obis;
        if (obis.empty()) continue;
        first_entry_.try_emplace(obis, entry);
        longest_ = std::max(longest_, obis.size());
    }
}

std::optional<std::size_t> Matcher::entry_for(std::string_view name) const {
    if (name.size() > longest_) return std::nullopt;
    const auto found = first_entry_.find(name);
    if (found == first_entry_.end()) return std::nullopt;
    return found->second;
}

std::vector<SelectedColumn> select(std::span<const std::string_view> header,
                                   std::span<const selection::Entry> entries) {
    const Matcher matcher(entries);
    std::vector<SelectedColumn> selected;
    for (std::size_t column = 0; column < header.size() && selected.size() < kMostSelected; ++column)
        if (const auto entry = matcher.entry_for(header[column])) selected.push_back({column, *entry});
    return selected;
}

}  // namespace dcu::columns
