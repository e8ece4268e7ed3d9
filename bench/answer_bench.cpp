// The answer's body on its own, on the path the profile and content answers
// take: a data file's header matched against the selection, then
// profile::write_body (the counts deferred, the names, every record) into a
// buffer of json_text's size, and the text finished (the counts put in
// place). The file is a billing-like text of 1050 records of 20 columns,
// 10 of them selected: about 90% of json_text. Also the escaping of values.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/json_escape.hpp"
#include "reqhandlers/profile_answer.hpp"
#include "reqhandlers/selection.hpp"
#include "reqhandlers/text_builder.hpp"

// profile_answer.cpp also holds the answer that lists nothing, which hands
// its text to the host; nothing here sends one.
extern "C" int send_msg(const char *) { return 0; }

namespace {

constexpr int kColumns = 20;
constexpr int kRecords = 1050;

std::string column_name(int column) { return "1.0." + std::to_string(column) + ".8.0.255"; }

std::string billing_like_file() {
    std::string text;
    for (int column = 0; column < kColumns; ++column) text += (column > 0 ? "\t" : "") + column_name(column);
    text += '\n';
    for (int record = 0; record < kRecords; ++record) {
        for (int column = 0; column < kColumns; ++column)
            text += (column > 0 ? "\t" : "") + std::to_string(10000 + record) + "." + std::to_string(100 + column);
        text += '\n';
    }
    return text;
}

// Every other column, named as the head-end sees it.
std::vector<dcu::selection::Entry> selected_columns() {
    std::vector<dcu::selection::Entry> entries;
    for (int column = 0; column < kColumns; column += 2)
        entries.push_back({column_name(column), "Param " + std::to_string(column)});
    return entries;
}

void BM_BillingSizedBody(benchmark::State &state) {
    const std::string content = billing_like_file();
    const auto entries = selected_columns();
    std::vector<char> buffer(DCU_JSON_TEXT_SIZE);
    // write_body echoes the names on standard output, as the handlers do.
    std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *saved_stdout = stdout;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dcu::data_file::DataFile file;
        file.assign(content);
        state.ResumeTiming();
        stdout = null_out;
        const auto header = file.read_header(entries);
        dcu::answer::TextBuilder body(buffer);
        dcu::profile::write_body(body, {"SN00000001", nullptr, "BILL_DATA"}, {&file, header.selected, entries});
        bytes = body.finish();
        stdout = saved_stdout;
        benchmark::DoNotOptimize(buffer.data());
        if (body.overflowed()) {
            state.SkipWithError("the answer did not fit json_text");
            break;
        }
    }
    std::fclose(null_out);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
    state.counters["answer_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BillingSizedBody);

void BM_EscapeOrdinary(benchmark::State &state) {
    const std::string value(64, 'a');
    std::string out(value.size() * 6, '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(dcu::answer::escape_into(out.data(), value));
        benchmark::DoNotOptimize(dcu::answer::escaped_length(value));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(value.size()));
}
BENCHMARK(BM_EscapeOrdinary);

void BM_EscapeSpecial(benchmark::State &state) {
    std::string value;
    for (int i = 0; i < 8; ++i) value += "q\"b\\t\tn\n\xc3\xa9\xff";
    std::string out(value.size() * 6, '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(dcu::answer::escape_into(out.data(), value));
        benchmark::DoNotOptimize(dcu::answer::escaped_length(value));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(value.size()));
}
BENCHMARK(BM_EscapeSpecial);

}  // namespace
