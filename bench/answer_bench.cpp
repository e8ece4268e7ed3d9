// The answer builder on its own: a billing-sized answer of 2000 records of
// 10 values (about 90% of json_text), and the escaping of values.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "reqhandlers/json_escape.hpp"
#include "reqhandlers/text_builder.hpp"

namespace {

using dcu::answer::TextBuilder;
namespace layout = dcu::answer::layout;

constexpr std::size_t kJsonTextSize = 204800;

void BM_BillingSizedAnswer(benchmark::State &state) {
    std::vector<char> buffer(kJsonTextSize);
    const std::string value = "12345.678";
    const char *keys[] = {"V0", "V1", "V2", "V3", "V4", "V5", "V6", "V7", "V8", "V9"};
    std::size_t bytes = 0;
    for (auto _ : state) {
        TextBuilder text(buffer);
        text.member("MET_SERNUM", "SN00000001");
        text.member("NUM_PARAM", 10);
        auto count = text.defer_member(48);
        text.open_member("BILL_DATA", layout::kRowList);
        long long listed = 0;
        for (int record = 0; record < 2000; ++record) {
            auto mark = text.mark();
            text.open_element(layout::kInlineObject);
            for (const char *key : keys) text.member(key, value);
            text.close();
            if (text.failed_since(mark)) {
                text.rewind(mark);
                break;
            }
            ++listed;
        }
        text.close();
        text.fill(count, "NUM_ENTRIES", listed);
        bytes = text.finish();
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
    state.counters["answer_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BillingSizedAnswer);

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
