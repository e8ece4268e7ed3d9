// Small fixtures shared by the profile, event and file-content suites:
// selection files, the billing file of the worked examples and the fixed
// parts of the answers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dcu::test::profiles {

struct Selected {
    std::string obis;
    std::string assign;
};

// One section of a selection file, as the web interface writes it.
inline std::string section(std::string_view name, const std::vector<Selected> &entries) {
    std::string text = "\"" + std::string(name) + "\":\n{\n\"NumParams\":\"" + std::to_string(entries.size()) +
                       "\",\n\"ObisCodeList\":\n[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        text += "{\"obis\":\"" + entries[i].obis + "\",\"assign\":\"" + entries[i].assign + "\"}";
        text += i + 1 < entries.size() ? ",\n" : "\n";
    }
    return text + "]\n}";
}

// Header columns code-1 to code-4, two records.
inline constexpr std::string_view kBillingFile = "code-1\tcode-2\tcode-3\tcode-4\na1\ta2\ta3\ta4\nb1\tb2\tb3\tb4\n";
// code-3 named Name 3, then code-1 named Name 1.
inline const std::vector<Selected> kTwoOfFour = {{"code-3", "Name 3"}, {"code-1", "Name 1"}};

// The answer's lines up to and including the opening of DATA.
inline std::string answer_head(std::string_view type, int seq_num, std::string_view status) {
    return "{\n\"TYPE\":\"" + std::string(type) + "\",\n\"SEQ_NUM\":\"" + std::to_string(seq_num) +
           "\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"" + std::string(status) + "\",\n\"DATA\":\n{\n";
}

// PARAM_LIST and the data list, from their inner lines ("" for empty
// lists), with the closing lines of the answer.
inline std::string lists_tail(std::string_view names, std::string_view data_key, std::string_view records) {
    return "\"PARAM_LIST\":\n[\n" + std::string(names) + "],\n\"" + std::string(data_key) + "\":\n[\n" +
           std::string(records) + "]\n}\n}\n";
}

}  // namespace dcu::test::profiles
