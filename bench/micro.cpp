// Micro-benchmarks of the hot path: the scanner over memory, one block's conversion, the epoch
// text and the CSV row, each beside the plain alternative it competes with.
#include "element_block.hpp"
#include "labeled_elements.hpp"
#include "orbit_record.hpp"
#include "sample_block.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace orbitcsv;


const std::string OBSERVATION =
    "     K26W03A  C2026 11 24.31822 03 12 44.21 +19 04 12.6          19.8 R      568\n";

// About 8 MB of text: in the sparse shape 35 observation lines per block, in the dense one none.
std::string circular_text(int observations_per_block) {
    std::string block;
    for (const std::string_view line : EROS_BLOCK) (block += line) += '\n';
    std::string section;
    for (int i = 0; i < observations_per_block; ++i) section += OBSERVATION;
    section += block;
    std::string text;
    while (text.size() < (8u << 20)) text += section;
    return text;
}

void scan(benchmark::State& state, const std::string& text) {
    std::vector<char> buffer(DEFAULT_READ_BUFFER_BYTES);
    element_block block;
    std::size_t blocks = 0;
    for (auto _ : state) {
        memory_source source(text);
        element_scanner scanner(source, buffer);
        while (scanner.find_element_block(block)) ++blocks;
        benchmark::DoNotOptimize(blocks);
    }
    state.counters["blocks"] = static_cast<double>(blocks);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Made once, so that a benchmark's own instructions, which bench/run counts, are its work alone.
const std::string& dense_text() {
    static const std::string text = circular_text(0);
    return text;
}

void BM_ScannerSparse(benchmark::State& state) { scan(state, circular_text(35)); }
void BM_ScannerDense(benchmark::State& state) { scan(state, dense_text()); }

// Each block of an element list read by its labels, as the Python module and the page read them:
// the scanner keeping places, and the reading. "blocks" counts the blocks read, for the
// instructions a block that bench/run counts under callgrind, beyond BM_ScannerDense's.
void BM_LabeledReadingDense(benchmark::State& state) {
    const std::string& text = dense_text();
    std::vector<char> buffer(DEFAULT_READ_BUFFER_BYTES);
    element_block block;
    labeled_elements elements;
    std::size_t blocks = 0;
    for (auto _ : state) {
        memory_source source(text);
        element_scanner scanner(source, buffer);
        scanner.keep_places();
        labeled_reader reader;
        while (scanner.find_element_block(block)) {
            reader.read(lines_of_block(scanner, block), elements);
            benchmark::DoNotOptimize(elements);
            ++blocks;
        }
    }
    state.counters["blocks"] = static_cast<double>(blocks);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The floor any line scanner stands on: memchr from one newline to the next, from memory.
void BM_MemchrLinesSparse(benchmark::State& state) {
    const std::string text = circular_text(35);
    for (auto _ : state) {
        std::size_t lines = 0;
        for (const char* p = text.data(); const void* nl = std::memchr(p, '\n', text.data() + text.size() - p);) {
            p = static_cast<const char*>(nl) + 1;
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

struct discard_sink final : byte_sink {
    bool write_all(std::string_view bytes) override {
        benchmark::DoNotOptimize(bytes.data());
        return true;
    }
};

void BM_ConvertBlock(benchmark::State& state) {
    const block_with_slack rows(EROS_BLOCK);
    const element_block& block = rows.block();
    orbit_record record;
    for (auto _ : state) {
        convert_block(block, record);
        benchmark::DoNotOptimize(record);
    }
}

void BM_WriteCsvRow(benchmark::State& state) {
    const block_with_slack rows(EROS_BLOCK);
    const element_block& block = rows.block();
    orbit_record record;
    convert_block(block, record);
    discard_sink sink;
    std::vector<char> storage(1 << 16);
    output_buffer out(sink, storage);
    for (auto _ : state) write_csv_row(out, record);
}

void epoch(benchmark::State& state, std::string_view text) {
    const line_with_slack line(text);
    char out[EPOCH_TEXT_CAPACITY];
    for (auto _ : state) benchmark::DoNotOptimize(epoch_mjd_text(line.text(), out));
}

void BM_EpochUsual(benchmark::State& state) { epoch(state, EROS_BLOCK[1]); }
void BM_EpochManyDigits(benchmark::State& state) { epoch(state, "Epoch 2026 Dec. 17.0 TT = JDT 2461026.123456789"); }
void BM_EpochExponent(benchmark::State& state) { epoch(state, "Epoch 2026 Dec. 17.0 TT = JDT 2.4610265D6"); }

// What a stdio version does for the same field: strtod, then printf's %g.
void BM_EpochStrtodPrintf(benchmark::State& state) {
    const std::string line(EROS_BLOCK[1]);
    const char* number = std::strstr(line.c_str(), "JDT") + 3;
    char out[32];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%g", std::strtod(number, nullptr) - MJD_OFFSET));
    }
}

}  // namespace

BENCHMARK(BM_ScannerSparse);
BENCHMARK(BM_ScannerDense);
BENCHMARK(BM_LabeledReadingDense);
BENCHMARK(BM_MemchrLinesSparse);
BENCHMARK(BM_ConvertBlock);
BENCHMARK(BM_WriteCsvRow);
BENCHMARK(BM_EpochUsual);
BENCHMARK(BM_EpochManyDigits);
BENCHMARK(BM_EpochExponent);
BENCHMARK(BM_EpochStrtodPrintf);

BENCHMARK_MAIN();
