// SPDX-License-Identifier: Apache-2.0
// Reading a large device description: the full read against Poco's bare DOM parse of the same
// file, and the cached re-read.
//
// The description is generated at start: 300 module definitions with one instance each, 34
// registers of three bit-fields per module (10,200 registers), 2.6 MB. A second shape has many
// small definitions, each referenced by name (16,000 to 180,000 module definitions, up to 29 MiB, with an
// instance each): the cost of every lookup by name shows there, as growth faster than the file.

#include <benchmark/benchmark.h>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/SAX/XMLReader.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "core/devicedescription/DeviceFileReaderCache.h"
#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "tests/fakes/TempDirectory.h"

namespace {

constexpr int kModules = 300;
constexpr int kRegistersPerModule = 34;

std::string generateDescription()
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n<hil-device-file>\n<modules>\n";
    for (int m = 0; m < kModules; ++m) {
        xml << "<module name=\"M" << m << "\" id=\"ID-" << m << "\" version=\"1\">\n"
            << "<value-group name=\"MODE\"><value name=\"OFF\" value=\"0\"/><value name=\"SLOW\" value=\"1\"/>"
            << "<value name=\"FAST\" value=\"2\"/><value name=\"AUTO\" value=\"3\"/></value-group>\n"
            << "<register-group name=\"G\" size=\"0x100\">\n";
        for (int r = 0; r < kRegistersPerModule; ++r)
            xml << "<register name=\"R" << r << "\" offset=\"0x" << std::hex << r * 4 << std::dec
                << "\" size=\"4\" rw=\"RW\" initval=\"0\"><bitfield name=\"EN\" mask=\"0x1\" rw=\"RW\"/>"
                << "<bitfield name=\"MODE\" mask=\"0x6\" rw=\"RW\" values=\"MODE\"/>"
                << "<bitfield name=\"IRQ\" mask=\"0x100\" rw=\"R\" access=\"clear-on-read\"/></register>\n";
        xml << "</register-group>\n</module>\n";
    }
    xml << "</modules>\n<devices><device architecture=\"CORTEX-M4\">\n<address-spaces><address-space id=\"base\" "
           "start=\"0\" size=\"0x100000000\"><memory-segment name=\"PERIPHERALS\" start=\"0x40000000\" "
           "size=\"0x100000\" type=\"io\" rw=\"RW\"/></address-space></address-spaces>\n<peripherals>\n";
    for (int m = 0; m < kModules; ++m)
        xml << "<module name=\"M" << m << "\" id=\"ID-" << m << "\" version=\"1\"><instance name=\"I" << m
            << "\"><register-group name=\"I" << m << "\" name-in-module=\"G\" address-space=\"base\" offset=\"0x"
            << std::hex << 0x40000000 + m * 0x100 << std::dec << "\"/></instance></module>\n";
    xml << "</peripherals>\n</device></devices>\n</hil-device-file>\n";
    return xml.str();
}

/// `definitions` module definitions of one empty register group each, and an instance of each; the
/// instances come in reverse order, so that a walk of the definitions would find each late.
std::string generateManyDefinitions(int definitions)
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n<hil-device-file>\n<modules>\n";
    for (int m = 0; m < definitions; ++m)
        xml << "<module name=\"M" << m << "\"><register-group name=\"G\"/></module>\n";
    xml << "</modules>\n<devices><device architecture=\"CORTEX-M4\">\n<peripherals>\n";
    for (int m = definitions - 1; m >= 0; --m)
        xml << "<module name=\"M" << m << "\"><instance name=\"I" << m << "\"><register-group name=\"R\" name-in-module=\"G\"/></instance></module>\n";
    xml << "</peripherals>\n</device></devices>\n</hil-device-file>\n";
    return xml.str();
}

struct GeneratedDescription {
    hil::fakes::TempDirectory directory;
    std::string path;
    std::size_t bytes = 0;
    explicit GeneratedDescription(const std::string& text) : bytes(text.size())
    {
        path = directory.write("LARGE.tdesc", text).string();
    }
};

/// The description of a benchmark: the large one for `shape` 0, else `shape` small definitions.
const GeneratedDescription& description(std::int64_t shape = 0)
{
    static std::map<std::int64_t, std::unique_ptr<GeneratedDescription>> made;
    auto& entry = made[shape];
    if (!entry)
        entry = std::make_unique<GeneratedDescription>(shape == 0 ? generateDescription()
                                                                  : generateManyDefinitions(static_cast<int>(shape)));
    return *entry;
}

/// The full read of the description `state.range(1)` names (see `description`).
void BM_FullRead(benchmark::State& state)
{
    hil::Status status;
    const auto& file = description(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(hil::OrixToolsDeviceFileReader::parseFile(status, file.path, "LARGE"));
    state.counters["bytes"] = static_cast<double>(file.bytes);
}

/// The file read into memory and parsed by Poco's DOMParser, with its default settings when
/// `state.range(0)` is 0, else with the reader's (no namespaces, no whitespace text); of the
/// description `state.range(1)` names.
void BM_BareDomParse(benchmark::State& state)
{
    const auto& file = description(state.range(1));
    for (auto _ : state) {
        std::ifstream in(file.path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Poco::XML::DOMParser parser;
        if (state.range(0) != 0) {
            parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
            parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
        }
        Poco::AutoPtr<Poco::XML::Document> document = parser.parseMemory(text.data(), text.size());
        benchmark::DoNotOptimize(document.get());
    }
}

void BM_CachedRead(benchmark::State& state)
{
    hil::Status status;
    hil::DeviceFileReaderCache cache(1);
    cache.parseFile(status, description().path, "LARGE");
    for (auto _ : state)
        benchmark::DoNotOptimize(cache.parseFile(status, description().path, "large"));
}

BENCHMARK(BM_FullRead)->Args({0, 0})->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_BareDomParse)->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond)->MinTime(3);
// Many definitions: the read against the bare parse with the reader's settings, at each size.
BENCHMARK(BM_FullRead)->Args({0, 16000})->Args({0, 64000})->Args({0, 180000})->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_BareDomParse)->Args({1, 16000})->Args({1, 64000})->Args({1, 180000})->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_CachedRead)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
