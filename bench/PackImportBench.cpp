// SPDX-License-Identifier: Apache-2.0
// Importing a large SVD file into a description file, against Poco's bare DOM parse of the same
// file, interleaved; and a second start of the catalog over a warm cache.
//
// The SVD is generated at start: 300 peripherals of 34 registers of 6 fields each (10,200
// registers, 61,200 fields), every thirtieth field with a three-value enumeration, about 3.5 MB.
// "import" is what a first start does for the device: read the file, resolve it, write the
// description file into an empty cache. "bare parse" reads the file and builds its DOM with the
// same parser settings, nothing more. "cached start" builds a new catalog over the warm cache
// and lists the device: it must read no SVD.
//
// Usage: pack_import_bench [ROUNDS] (default 9).

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/SAX/XMLReader.h>

#include "bench/Median.h"
#include "packmanager/PackCatalog.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPeripherals = 300;
constexpr int kRegisters = 34;
constexpr int kFields = 6;

std::string generateSvd()
{
    std::ostringstream svd;
    svd << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device schemaVersion=\"1.3\">\n<vendor>Velmora</vendor>\n"
           "<name>BIG</name>\n<version>1.0</version>\n<description>A generated device</description>\n"
           "<cpu><name>CM4</name><revision>r0p1</revision><endian>little</endian><mpuPresent>true</mpuPresent>"
           "<fpuPresent>true</fpuPresent><nvicPrioBits>4</nvicPrioBits><vendorSystickConfig>false</vendorSystickConfig></cpu>\n"
           "<addressUnitBits>8</addressUnitBits>\n<width>32</width>\n<size>32</size>\n<access>read-write</access>\n"
           "<resetValue>0</resetValue>\n<resetMask>0xFFFFFFFF</resetMask>\n<peripherals>\n";
    for (int p = 0; p < kPeripherals; ++p) {
        svd << "<peripheral><name>P" << p << "</name><description>Peripheral " << p << "</description>"
            << "<groupName>G" << p % 20 << "</groupName><baseAddress>0x" << std::hex << 0x40000000 + p * 0x400
            << std::dec << "</baseAddress><addressBlock><offset>0</offset><size>0x400</size><usage>registers</usage></addressBlock>\n"
            << "<registers>\n";
        for (int r = 0; r < kRegisters; ++r) {
            svd << "<register><name>R" << r << "</name><description>Register " << r << "</description><addressOffset>0x"
                << std::hex << r * 4 << std::dec << "</addressOffset><fields>\n";
            for (int f = 0; f < kFields; ++f) {
                svd << "<field><name>F" << f << "</name><bitRange>[" << f * 5 + 3 << ":" << f * 5 << "]</bitRange>";
                if ((r * kFields + f) % 30 == 0)
                    svd << "<enumeratedValues><enumeratedValue><name>OFF</name><value>0</value></enumeratedValue>"
                           "<enumeratedValue><name>ON</name><value>1</value></enumeratedValue>"
                           "<enumeratedValue><name>AUTO</name><value>#1x</value></enumeratedValue></enumeratedValues>";
                svd << "</field>\n";
            }
            svd << "</fields></register>\n";
        }
        svd << "</registers></peripheral>\n";
    }
    svd << "</peripherals>\n</device>\n";
    return svd.str();
}

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double bareParse(const std::filesystem::path& file)
{
    const auto start = Clock::now();
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string content = text.str();
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    Poco::AutoPtr<Poco::XML::Document> document = parser.parseMemory(content.data(), content.size());
    if (!document->documentElement())
        throw std::runtime_error("no document");
    return seconds(start);
}

double import(const hil::fakes::TempDirectory& folder, const std::filesystem::path& cache)
{
    std::filesystem::remove_all(cache);
    const auto start = Clock::now();
    hil::packs::PackCatalog catalog({folder.path().string()}, cache);
    catalog.descriptionFile("BIG");
    const double elapsed = seconds(start);
    if (catalog.svdReads() != 1)
        throw std::runtime_error("the import read no SVD");
    return elapsed;
}

double cachedStart(const hil::fakes::TempDirectory& folder, const std::filesystem::path& cache)
{
    const auto start = Clock::now();
    hil::packs::PackCatalog catalog({folder.path().string()}, cache);
    const auto devices = catalog.devices("");
    const auto file = catalog.descriptionFile("BIG");
    const double elapsed = seconds(start);
    if (devices.size() != 1 || catalog.svdReads() != 0 || file.empty())
        throw std::runtime_error("the cached start read the SVD");
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 9;
    hil::fakes::TempDirectory folder;
    hil::fakes::TempDirectory work;
    const std::string svd = generateSvd();
    const auto file = folder.write("BIG.svd", svd);
    const auto cache = work.path() / "cache";
    std::vector<double> parses, imports, starts;
    for (int round = 0; round < rounds; ++round) {
        parses.push_back(bareParse(file));
        imports.push_back(import(folder, cache));
        starts.push_back(cachedStart(folder, cache));
    }
    using hil::bench::median;
    std::printf("SVD: %.1f MB, %d peripherals, %d registers, %d fields; medians of %d interleaved rounds\n",
                static_cast<double>(svd.size()) / 1e6, kPeripherals, kPeripherals * kRegisters,
                kPeripherals * kRegisters * kFields, rounds);
    std::printf("%-14s %10.1f ms\n", "bare parse", median(parses) * 1e3);
    std::printf("%-14s %10.1f ms   ratio %.2f (goal <= 2.5)\n", "import", median(imports) * 1e3,
                median(imports) / median(parses));
    std::printf("%-14s %10.3f ms   (goal < 1 ms, no SVD read)\n", "cached start", median(starts) * 1e3);
    return 0;
}
