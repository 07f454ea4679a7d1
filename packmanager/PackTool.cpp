// SPDX-License-Identifier: Apache-2.0
// hilcore-pack: the pack manager for people working offline. It reads the same folders and the
// same cache as the back-end.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include <boost/algorithm/string.hpp>

#include "packmanager/DescriptionView.h"
#include "packmanager/PackXml.h"
#include "packmanager/SampleFolder.h"
#include "packmanager/SimplePackService.h"
#include "packmanager/SvdReader.h"
#include "platform/common/Errors.h"
#include "platform/common/TextForPeople.h"
#include "platform/common/Version.h"

namespace fs = std::filesystem;
using namespace hil::packs;
using hil::HilError;
using hil::NotFoundError;
using hil::UsageError;

namespace {

enum Exit { Ok = 0, Faults = 1, Usage = 2 };

const char* const kUsage = R"(usage: hilcore-pack COMMAND ...
  list [FILTER]                 the devices of the sample index and the pack folders whose name,
                                vendor or family holds FILTER: name, core, vendor, source
  show NAME                     one device list lists: vendor, family, core, memories (address
                                spaces), source, peripherals, and what reading its SVD left out
                                or clamped; an unknown NAME gets the closest known names
  import FILE [--out DIR]       FILE.svd, FILE.pdsc or FILE.pack: writes DIR/NAME.tdesc for each
                                device and its entry in DIR/pack.index (DIR: the current folder);
                                says each element of the SVD it left out or clamped
  check FILE.tdesc              every register inside its space, every mask inside its register,
                                every reference resolved; exits 1 naming each fault; says what
                                the import left out or clamped
  --help, --version             this text; the version
The folders are HIL_PACK_FOLDERS (separated by ':'), else the sample folder and
~/.local/share/hilcore/packs; the cache is HIL_PACK_CACHE, else ~/.cache/hilcore/packs.
)";

std::string hex(std::uint64_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << value;
    return text.str();
}

/// The sample devices of the tree this program is installed in, else of the build tree.
std::string sampleFolder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? HIL_DEFAULT_PACK_DIR : sampleFolderFor(self, HIL_DEFAULT_PACK_DIR).string();
}

std::string sampleIndexFolder()
{
    const char* folder = std::getenv("HIL_PACK_DIR");
    return folder && *folder ? folder : sampleFolder();
}

std::shared_ptr<PackCatalog> catalog()
{
    return std::make_shared<PackCatalog>(packFoldersFromEnvironment(sampleFolder()), packCacheFromEnvironment());
}

/// The sample index; its devices of several files are assembled where the back-end assembles them.
SimplePackService sampleIndex()
{
    return SimplePackService(sampleIndexFolder(), fs::temp_directory_path() / ("hilcore-packs-" + std::to_string(getuid())));
}

/// The index's spelling of `name`; empty when the index has no such device.
std::string indexName(const SimplePackService& index, const std::string& name)
{
    for (const auto& known : index.getDevices())
        if (boost::algorithm::iequals(known, name))
            return known;
    return {};
}

void printProblems(const std::vector<CatalogProblem>& problems)
{
    for (const auto& problem : problems)
        std::cerr << "hilcore-pack: " << problem.text << "\n";
}

int list(const std::vector<std::string>& arguments)
{
    if (arguments.size() > 1)
        throw UsageError("list takes at most a filter");
    const std::string filter = arguments.empty() ? "" : arguments[0];
    const auto packs = catalog();
    const auto index = sampleIndex();
    std::vector<std::vector<std::string>> rows;
    for (const auto& name : index.getDevices()) {
        const auto property = [&](const char* key) { return index.lookupDeviceProperty(name, key); };
        if (boost::algorithm::icontains(name, filter) || boost::algorithm::icontains(property("Vendor"), filter) ||
            boost::algorithm::icontains(property("Family"), filter))
            rows.push_back({name, property("Architecture"), property("Vendor"), property("Source")});
    }
    for (const auto& device : packs->devices(filter))
        if (indexName(index, device.name).empty())
            rows.push_back({device.name, device.pack.core.empty() ? "-" : device.pack.core, device.pack.vendor, device.source});
    std::cout << hil::alignedRows(rows, {24, 14, 20});
    printProblems(packs->problems());
    return Ok;
}

void line(const char* label, const std::string& value)
{
    if (!value.empty())
        std::cout << "  " << std::left << std::setw(12) << label << value << "\n";
}

/// A device of the index: what its entry says, and the address spaces of its description.
void showIndexed(const SimplePackService& index, const std::string& name)
{
    const auto property = [&](const char* key) { return index.lookupDeviceProperty(name, key); };
    std::cout << name << "\n";
    line("vendor", property("Vendor"));
    line("family", property("Family"));
    line("core", property("Architecture"));
    line("clock", property("Clock"));
    const std::string file = index.getDeviceFile(name);
    if (file.empty())
        throw NotFoundError(name + ": " + property("Source") + " names no description file that can be read");
    // As large as the back-end reads a part of a description.
    const auto document = parsePackXml(readPackFile(file, 32u << 20), file, "hil-device-file");
    const auto* devices = document->documentElement()->getChildElement("devices");
    const auto* device = devices ? devices->getChildElement("device") : nullptr;
    forEachChildElement(device ? device->getChildElement("address-spaces") : nullptr, "address-space", [&](const auto* space) {
        const auto range = [](const auto* element) {
            return hex(parseSvdNumber(element->getAttribute("start"))) + " + " + hex(parseSvdNumber(element->getAttribute("size")));
        };
        const std::string endianness = space->getAttribute("endianness");
        line("space", space->getAttribute("id") + " " + range(space) + (endianness.empty() ? "" : " " + endianness));
        forEachChildElement(space, "memory-segment", [&](const auto* segment) {
            line("memory", segment->getAttribute("name") + " " + range(segment) + " " + segment->getAttribute("type") + " in " +
                               space->getAttribute("id"));
        });
    });
    line("source", property("Source"));
    line("peripherals", std::to_string(DescriptionView::read(file).size()));
    line("file", file);
    for (const auto& warning : DescriptionView::readWarnings(file))
        line("warning", warning);
}

int show(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 1)
        throw UsageError("show takes one device name");
    const auto index = sampleIndex();
    if (const auto name = indexName(index, arguments[0]); !name.empty()) {
        showIndexed(index, name);
        return Ok;
    }
    const auto packs = catalog();
    if (!packs->find(arguments[0])) {
        auto known = index.getDevices();
        for (const auto& device : packs->devices(""))
            known.push_back(device.name);
        throw NotFoundError("no device " + arguments[0] + hil::didYouMean(arguments[0], known, " (list shows every device)"));
    }
    const auto summary = packs->summary(arguments[0]);
    const auto& pack = summary.device.pack;
    std::cout << summary.device.name << "\n";
    line("vendor", pack.vendor);
    line("family", pack.family + (pack.subFamily.empty() ? "" : " / " + pack.subFamily));
    line("core", pack.core);
    line("fpu", pack.fpu);
    line("mpu", pack.mpu);
    line("endian", pack.endian);
    line("clock", pack.clock);
    for (const auto& memory : pack.memories)
        line("memory", memory.name + " " + hex(memory.start) + " + " + hex(memory.size) + " " + memory.access +
                           (memory.isDefault ? " default" : "") + (memory.startup ? " startup" : ""));
    line("source", summary.device.source);
    line("svd", summary.device.svd);
    line("peripherals", std::to_string(summary.peripheralCount));
    line("file", summary.descriptionFile);
    for (const auto& warning : summary.warnings)
        line("warning", warning);
    return Ok;
}

/// Replaces the section of `name` in the index text (names compare in any case), or adds it.
std::string withIndexEntry(const std::string& index, const std::string& name, const std::string& entry)
{
    std::istringstream lines(index);
    std::string line;
    std::string kept;
    bool skipping = false;
    while (std::getline(lines, line)) {
        const std::string trimmed = boost::algorithm::trim_copy(line);
        if (trimmed.size() > 1 && trimmed.front() == '[' && trimmed.back() == ']')
            skipping = boost::algorithm::iequals(boost::algorithm::trim_copy(trimmed.substr(1, trimmed.size() - 2)), name);
        if (!skipping)
            kept += line + "\n";
    }
    if (!kept.empty() && kept.size() > 1 && kept.substr(kept.size() - 2) != "\n\n")
        kept += "\n";
    return kept + entry;
}

int import(const std::vector<std::string>& arguments)
{
    fs::path out = ".";
    std::vector<std::string> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--out") {
            if (++i == arguments.size())
                throw UsageError("--out needs a folder");
            out = arguments[i];
        } else {
            files.push_back(arguments[i]);
        }
    }
    if (files.size() != 1)
        throw UsageError("import takes one FILE.svd, FILE.pdsc or FILE.pack");
    std::vector<CatalogProblem> problems;
    const auto devices = PackCatalog::devicesOf(fs::absolute(files[0]), problems);
    printProblems(problems);
    if (devices.empty())
        return Faults;
    fs::create_directories(out);
    const fs::path indexFile = out / SimplePackService::kIndexFile;
    std::string index;
    if (std::ifstream in(indexFile); in) {
        std::stringstream text;
        text << in.rdbuf();
        index = text.str();
    }
    int result = Ok;
    for (const auto& device : devices) {
        PackCatalog::Description description;
        try {
            description = PackCatalog::describe(device);
        } catch (const HilError& error) {
            std::cerr << "hilcore-pack: " << error.what() << "\n";
            result = Faults;
            continue;
        }
        for (const auto& warning : description.warnings)
            std::cerr << "hilcore-pack: warning: " << warning << "\n";
        const std::string file = device.name + ".tdesc";
        std::ofstream(out / file, std::ios::binary | std::ios::trunc) << description.text;
        std::string entry = "[" + device.name + "]\nfiles = " + file + "\n";
        if (!description.architecture.empty())
            entry += "Architecture = " + description.architecture + "\n";
        if (!description.vendor.empty())
            entry += "Vendor = " + description.vendor + "\n";
        for (const char* key : {"Family", "Core", "Fpu", "Mpu", "Clock", "FlashSize", "RamSize"})
            if (const auto value = catalogDeviceProperty(device, key); !value.empty())
                entry += std::string(key) + " = " + value + "\n";
        index = withIndexEntry(index, device.name, entry);
        std::cout << (out / file).string() << "\n";
    }
    std::ofstream(indexFile, std::ios::binary | std::ios::trunc) << index;
    return result;
}

int check(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 1)
        throw UsageError("check takes one description file");
    std::vector<std::string> faults;
    const auto peripherals = DescriptionView::read(arguments[0], &faults);
    const auto warnings = DescriptionView::readWarnings(arguments[0]);
    std::size_t registers = 0;
    for (const auto& peripheral : peripherals)
        registers += peripheral.registers.size();
    // What the import left out is no fault of the file: it is said, and the exit stays 0.
    for (const auto& warning : warnings)
        std::cout << arguments[0] << ": warning: " << warning << "\n";
    for (const auto& fault : faults)
        std::cout << arguments[0] << ": " << fault << "\n";
    std::cout << arguments[0] << ": " << peripherals.size() << " peripherals, " << registers << " registers, "
              << faults.size() << (faults.size() == 1 ? " fault" : " faults");
    if (!warnings.empty())
        std::cout << ", " << warnings.size() << (warnings.size() == 1 ? " warning" : " warnings");
    std::cout << "\n";
    return faults.empty() ? Ok : Faults;
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands{
        {"list", list}, {"show", show}, {"import", import}, {"check", check}};
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::cout << kUsage;
        return Ok;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << hil::versionLine("hilcore-pack") << "\n";
        return Ok;
    }
    if (argc < 2 || commands.find(argv[1]) == commands.end()) {
        std::cerr << kUsage;
        return Usage;
    }
    try {
        return commands.at(argv[1])(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "hilcore-pack: " << error.what() << "\n" << kUsage;
        return Usage;
    } catch (const std::exception& error) {
        std::cerr << "hilcore-pack: " << error.what() << "\n";
        return Faults;
    }
}
