// Parsing and writing a 1 MB REST answer (a list of assets) with our JSON library, against nlohmann-json on
// the same text in the same run.
#include "Ids.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Writer.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>

namespace
{

// About 1 MB: asset records as the server sends them, with some non-ASCII and escaped names.
const std::string& answer()
{
    static const std::string text = []
    {
        std::string out = "[";
        for (unsigned i = 0; out.size() < 1024 * 1024; ++i)
        {
            if (i > 0)
                out += ',';
            out += R"({"uuid":")" + bench::hexId(i) + R"(","shareUuid":")" + bench::hexId(i / 100) +
                   R"(","parent":{"uuid":")" + bench::hexId(i / 10) + R"("},"type":")" +
                   (i % 10 == 0 ? "FOLDER" : "DOCUMENT") + R"(","status":"ACTIVE","name":")" +
                   (i % 3 == 0 ? "R\u00e9sum\u00e9 \\\"final\\\" " : "report ") + std::to_string(i) +
                   R"(.docx","size":)" + std::to_string(i * 7919u) + R"(,"version":)" +
                   std::to_string(i % 17) + R"(,"modified":-)" + std::to_string(i) +
                   R"(,"deleted":false,"tags":["a","b"],"checksum":null})";
        }
        return out + "]";
    }();
    return text;
}

void JsonSpiritParse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(json_spirit::parse(answer()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer().size()));
}

void NlohmannParse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(answer()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer().size()));
}

void JsonSpiritWrite(benchmark::State& state)
{
    const json_spirit::Value value = json_spirit::parse(answer());
    for (auto _ : state)
    {
        std::wostringstream out;
        json_spirit::write(out, value);
        benchmark::DoNotOptimize(out.str());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer().size()));
}

void NlohmannWrite(benchmark::State& state)
{
    const nlohmann::json value = nlohmann::json::parse(answer());
    for (auto _ : state)
        benchmark::DoNotOptimize(value.dump());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer().size()));
}

// The REST client's way of writing: the streaming writer straight into a narrow stream, no value built.
void JsonSpiritStreamingWrite(benchmark::State& state)
{
    const json_spirit::Value value = json_spirit::parse(answer());
    for (auto _ : state)
    {
        std::ostringstream out;
        {
            json_spirit::ArrayWriter list(out);
            bool first = true;
            for (const json_spirit::Value& asset : value.getArray())
            {
                if (!first)
                    out.put(',');
                first = false;
                json_spirit::ObjectWriter record(out);
                for (const char* key : {"uuid", "shareUuid", "type", "status", "name"})
                {
                    record.writeKey(key);
                    json_spirit::writeString(out, asset[key].rawString());
                }
            }
        }
        benchmark::DoNotOptimize(out.str());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer().size()));
}

} // namespace

BENCHMARK(JsonSpiritParse)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannParse)->Unit(benchmark::kMillisecond);
BENCHMARK(JsonSpiritWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(JsonSpiritStreamingWrite)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
