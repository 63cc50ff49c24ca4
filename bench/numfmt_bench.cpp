// Cost of one cell's text under the formats workbooks use most. The readers call formatNumber
// once per numeric cell, so this is on the path of every conversion.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "sheets/NumberFormat.h"

namespace {

// Values of the kind a sheet holds: integers, decimals with a few places, dates with times.
std::vector<double> sampleValues()
{
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> decimals(-100000, 100000);
    std::uniform_int_distribution<int> integers(0, 1000000);
    std::uniform_real_distribution<double> dates(36526, 47482); // 2000-2029
    std::vector<double> values;
    for (int i = 0; i < 1024; ++i) {
        switch (i % 3) {
        case 0:
            values.push_back(integers(random));
            break;
        case 1:
            values.push_back(static_cast<double>(static_cast<long long>(decimals(random) * 100)) /
                             100);
            break;
        default:
            values.push_back(dates(random));
            break;
        }
    }
    return values;
}

void formatValues(benchmark::State& state, const sheets::NumberFormat& format)
{
    const auto values = sampleValues();
    std::string out;
    out.reserve(256);
    std::size_t i = 0;
    for (auto _ : state) {
        out.clear();
        format.formatNumber(values[i++ & 1023], sheets::DateSystem::D1900, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void formatNumber(benchmark::State& state, const char* code)
{
    formatValues(state, *sheets::NumberFormat::compile(code));
}

void generalShared(benchmark::State& state)
{
    formatValues(state, sheets::NumberFormat::general());
}

void compileCode(benchmark::State& state, const char* code)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(sheets::NumberFormat::compile(code));
    }
}

} // namespace

BENCHMARK(generalShared);
BENCHMARK_CAPTURE(formatNumber, fixed2, "0.00");
BENCHMARK_CAPTURE(formatNumber, grouped2, "#,##0.00");
BENCHMARK_CAPTURE(formatNumber, percent1, "0.0%");
BENCHMARK_CAPTURE(formatNumber, accounting,
                  "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
BENCHMARK_CAPTURE(formatNumber, scientific, "0.00E+00");
BENCHMARK_CAPTURE(formatNumber, fraction, "# ?/?");
BENCHMARK_CAPTURE(formatNumber, date, "m/d/yyyy");
BENCHMARK_CAPTURE(formatNumber, dateTime, "m/d/yyyy h:mm:ss");
BENCHMARK_CAPTURE(compileCode, grouped2, "#,##0.00");
BENCHMARK_CAPTURE(compileCode, accounting,
                  "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");

BENCHMARK_MAIN();
