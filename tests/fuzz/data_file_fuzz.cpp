// Any data file plus any selection, through the real reader, column selector
// and profile body writer, at the full size of json_text and at small
// capacities chosen from the input.
//
// Input: two bytes choosing the small capacity, one byte of flags (the echo
// members; whether the file is read in tiny pieces, so that values and line
// ends fall across them), then the selection up to the first NUL (entries
// one per line, "obis<TAB>assign"), then the data file's bytes (NULs
// included).
//
// The oracle is an independent, naive rendering of the same answer: lines,
// tabs, column choice and JSON escaping written again here the plain way.
// Whatever capacity the answer had, the text must be strict JSON, lie inside
// its buffer, and equal the naive rendering of the first n names and the
// first k records, where n and k are what the text lists; its counts are
// therefore what it lists. Anything left out must be reported as overflow
// (CMD_STATUS "FAILURE" in the real answer).
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/profile_answer.hpp"
#include "tests/fuzz/fuzz_host.hpp"
#include "tests/support/strict_json.hpp"

namespace {

[[noreturn]] void fail(const char *what, std::string_view text = {}) {
    std::fprintf(stderr, "data_file_fuzz: %s\n%.*s\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

// ---- the naive reference ---------------------------------------------------

// Length of the valid UTF-8 sequence at text, decoded the long way: the code
// point must need exactly this many bytes and be no surrogate, at most U+10FFFF.
std::size_t valid_utf8_at(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t length = 0;
    if ((byte(0) & 0xE0) == 0xC0) length = 2;
    else if ((byte(0) & 0xF0) == 0xE0) length = 3;
    else if ((byte(0) & 0xF8) == 0xF0) length = 4;
    else return 0;
    unsigned long code = byte(0) & (0x7Fu >> length);
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// A JSON string's content: short escapes where JSON has them, \u00XX for
// other control characters and for bytes that are not UTF-8.
std::string naive_escape(std::string_view value) {
    std::string out;
    char hex[8];
    for (std::size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 0x80) {
            if (const std::size_t length = valid_utf8_at(value.substr(i))) {
                out.append(value.substr(i, length));
                i += length;
                continue;
            }
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        if (c < 0x20 || c >= 0x80) {
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::vector<std::string_view> split_at(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

struct Reference {
    std::size_t columns = 0;                  // of the header line
    std::vector<std::string> names;           // display names of the selected columns
    std::vector<std::size_t> chosen;          // their places in the header
    std::vector<std::string_view> records;    // the lines after the header
};

Reference naive_reading(std::string_view file, const std::vector<dcu::selection::Entry> &entries) {
    // Lines end at "\n"; a "\r" before it belongs to the line end. A last
    // line without "\n" is still a line, and keeps everything it holds.
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < file.size()) {
        std::size_t end = start;
        while (end < file.size() && file[end] != '\n') ++end;
        std::string_view line = file.substr(start, end - start);
        if (end < file.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    Reference reference;
    if (lines.empty()) return reference;
    const auto header = split_at(lines[0], '\t');
    reference.columns = header.size();
    // No answer could name more columns than kMostSelected: no more are selected.
    for (std::size_t column = 0; column < header.size() && reference.chosen.size() < dcu::columns::kMostSelected;
         ++column) {
        for (const auto &entry : entries) {
            if (!entry.obis.empty() && entry.obis == header[column]) {
                reference.chosen.push_back(column);
                reference.names.push_back(entry.assign);
                break;
            }
        }
    }
    reference.records.assign(lines.begin() + 1, lines.end());
    return reference;
}

constexpr std::string_view kSerNum = "SN\"01\xC3\xA9";
constexpr std::string_view kDataKey = "BILL_DATA";
const dcu::profile::ContentEcho kEcho{"meter_id_3", "billing", "V1"};

// The body of the answer listing the first n names and the first k records.
std::string naive_body(const Reference &reference, bool with_echo, std::size_t n, std::size_t k) {
    const auto member = [](std::string_view key, std::string_view value) {
        return "\"" + std::string(key) + "\":\"" + naive_escape(value) + "\",\n";
    };
    std::string body = member("MET_SERNUM", kSerNum) + member("NUM_PARAM", std::to_string(n));
    if (with_echo)
        body += member("DIR_NAME", kEcho.dir_name) + member("FILE_NAME", kEcho.file_name) +
                member("VIEW_TYPE", kEcho.view_type);
    body += member("NUM_ENTRIES", std::to_string(k)) + "\"PARAM_LIST\":\n[\n";
    for (std::size_t j = 0; j < n; ++j) body += (j ? ",\"" : "\"") + naive_escape(reference.names[j]) + "\"";
    body += n ? "\n],\n" : "],\n";
    body += "\"" + std::string(kDataKey) + "\":\n[\n";
    // Records are split as they are rendered: a file of repeated column
    // names would make a whole table of values huge.
    for (std::size_t i = 0; i < k; ++i) {
        const auto values = split_at(reference.records[i], '\t');
        body += i ? ",\n{" : "{";
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t column = reference.chosen[j];
            const std::string_view value = column < values.size() ? values[column] : std::string_view{};
            body += (j ? ",\"V" : "\"V") + std::to_string(j) + "\":\"" + naive_escape(value) + "\"";
        }
        body += "}";
    }
    body += k ? "\n]" : "]";
    return body;
}

// ---- reading what an answer lists ------------------------------------------

struct JsonDelete {
    void operator()(cJSON *tree) const { cJSON_Delete(tree); }
};

struct Listed {
    std::size_t names;
    std::size_t records;
};

// The sizes of PARAM_LIST and of the data list in DATA.
Listed listed_in(std::string_view text) {
    if (const std::string error = dcu::test::strict_json_error(text); !error.empty()) fail(error.c_str(), text);
    std::unique_ptr<cJSON, JsonDelete> tree(cJSON_ParseWithLength(text.data(), text.size()));
    const cJSON *data = cJSON_GetObjectItemCaseSensitive(tree.get(), "DATA");
    const cJSON *names = cJSON_GetObjectItemCaseSensitive(data, "PARAM_LIST");
    const cJSON *records = cJSON_GetObjectItemCaseSensitive(data, kDataKey.data());
    if (!cJSON_IsArray(names) || !cJSON_IsArray(records)) fail("lists missing", text);
    return {static_cast<std::size_t>(cJSON_GetArraySize(names)), static_cast<std::size_t>(cJSON_GetArraySize(records))};
}

std::FILE *silence_stdout() {
    static std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *saved = stdout;
    stdout = null_out;
    return saved;
}

// The body written by a builder of the given capacity, around a bare DATA member.
struct SmallAnswer {
    std::string text;
    bool overflowed;
};

SmallAnswer write_small(std::size_t capacity, const dcu::profile::BodyShape &shape,
                        const dcu::profile::ProfileData &data) {
    // Exactly capacity bytes: AddressSanitizer sees any write past them.
    auto buffer = std::make_unique<char[]>(capacity);
    dcu::answer::TextBuilder builder({buffer.get(), capacity});
    if (builder.open_member("DATA", dcu::answer::layout::kObject)) dcu::profile::write_body(builder, shape, data);
    const std::size_t length = builder.finish();
    if (length >= capacity || buffer[length] != '\0' || std::strlen(buffer.get()) != length)
        fail("text not ended inside its buffer");
    return {std::string(buffer.get(), length), builder.overflowed()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t selector = static_cast<std::size_t>(data[0] << 8 | data[1]);
    const bool with_echo = data[2] & 1;
    std::string_view input(reinterpret_cast<const char *>(data) + 3, size - 3);
    const std::size_t nul = input.find('\0');
    const std::string_view selection_text = input.substr(0, nul);
    const std::string_view file_text = nul == std::string_view::npos ? std::string_view{} : input.substr(nul + 1);

    std::vector<dcu::selection::Entry> entries;
    if (!selection_text.empty()) {
        for (const auto line : split_at(selection_text, '\n')) {
            if (entries.size() == 255) break;  // a selection holds at most 255 entries
            const std::size_t tab = line.find('\t');
            entries.push_back({std::string(line.substr(0, tab)),
                               tab == std::string_view::npos ? std::string() : std::string(line.substr(tab + 1))});
        }
    }

    // Each answer reads the file afresh, as a handler does.
    const std::size_t piece = (data[2] & 2) != 0 ? 1 + selector % 13 : dcu::data_file::LineScanner::kPieceSize;
    const auto read_header = [&](dcu::data_file::DataFile &file) {
        file.assign(std::string(file_text), piece);
        return file.read_header(entries);
    };
    const Reference reference = naive_reading(file_text, entries);
    {
        dcu::data_file::DataFile file;
        const auto header = read_header(file);
        if (header.columns != reference.columns || header.present != !file_text.empty() ||
            header.selected.size() != reference.chosen.size() || file.count_records() != reference.records.size())
            fail("reader or selector disagrees with the naive reading");
        for (std::size_t j = 0; j < header.selected.size(); ++j)
            if (header.selected[j].column != reference.chosen[j]) fail("selector chose another column");
    }
    const dcu::profile::BodyShape shape{kSerNum, with_echo ? &kEcho : nullptr, kDataKey};

    std::FILE *saved_stdout = silence_stdout();

    // The real answer in json_text: CMD_STATUS says whether all was listed.
    auto &sent = dcu::fuzz::sent_answers();
    sent.clear();
    {
        dcu::data_file::DataFile file;
        const auto header = read_header(file);
        dcu::answer::Answer answer("OD_BILLING", -7);
        dcu::profile::write_body(answer.body(), shape, {&file, header.selected, entries});
        answer.send();
    }
    if (sent.size() != 1) fail("not one answer sent");
    const std::string &full = sent.front();
    if (full.size() >= sizeof json_text) fail("answer beyond json_text");
    const Listed in_full = listed_in(full);
    if (in_full.names > reference.names.size() || in_full.records > reference.records.size()) fail("listed too much");
    const bool complete = in_full.names == reference.names.size() && in_full.records == reference.records.size();
    const std::string head = std::string("{\n\"TYPE\":\"OD_BILLING\",\n\"SEQ_NUM\":\"-7\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n") +
                             "\"CMD_STATUS\":\"" + (complete ? "SUCCESS" : "FAILURE") + "\",\n\"DATA\":\n{\n";
    if (full != head + naive_body(reference, with_echo, in_full.names, in_full.records) + "\n}\n}\n")
        fail("answer differs from the naive rendering", full);

    // A small builder that has room for every member but perhaps not for
    // every name and record.
    const std::string skeleton = "{\n\"DATA\":\n{\n" + naive_body(reference, with_echo, 0, 0) + "\n}\n}\n";
    const std::size_t room_for_counts = 2 * dcu::answer::kCountMemberRoom;
    dcu::data_file::DataFile small_file;
    const auto small_header = read_header(small_file);
    const SmallAnswer small = write_small(skeleton.size() + 1 + room_for_counts + selector, shape,
                                          {&small_file, small_header.selected, entries});
    const Listed in_small = listed_in(small.text);
    if (in_small.names > in_full.names || in_small.records > reference.records.size()) fail("small listed too much");
    if (small.text != "{\n\"DATA\":\n{\n" + naive_body(reference, with_echo, in_small.names, in_small.records) + "\n}\n}\n")
        fail("small answer differs from the naive rendering", small.text);
    const bool small_complete = in_small.names == reference.names.size() && in_small.records == reference.records.size();
    if (small.overflowed == small_complete) fail("overflow not reported, or reported for a whole answer", small.text);

    // Tiny builders: even the members may not fit; the text stays well-formed.
    dcu::data_file::DataFile tiny_file;
    const auto tiny_header = read_header(tiny_file);
    const SmallAnswer tiny = write_small(8 + selector % (skeleton.size() + room_for_counts), shape,
                                         {&tiny_file, tiny_header.selected, entries});
    if (const std::string error = dcu::test::strict_json_error(tiny.text); !error.empty()) fail(error.c_str(), tiny.text);
    if (!tiny.overflowed && tiny.text != "{\n\"DATA\":\n{\n" + naive_body(reference, with_echo, reference.names.size(),
                                                                         reference.records.size()) + "\n}\n}\n")
        fail("tiny answer not whole but no overflow reported", tiny.text);

    stdout = saved_stdout;
    return 0;
}
