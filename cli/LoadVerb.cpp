// SPDX-License-Identifier: Apache-2.0
// `load`: a firmware file (ELF, Intel HEX or binary) written into a device's memory through
// "Memory" "set", each segment into the address space that holds it, and read back on request.

#include <algorithm>
#include <optional>

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "cli/FirmwareImage.h"
#include "cli/MemoryTransfers.h"

namespace hil::cli {

namespace {

struct LoadRequest {
    std::string file;
    bool verify = false;
    std::string device;
    std::string space;
    std::optional<std::uint64_t> address;
};

const std::string kUsage = "FILE [--verify] [--device DEVICE-ID] [--space MEMORY-ID] [--address ADDRESS]";

LoadRequest readRequest(const std::vector<std::string>& arguments)
{
    LoadRequest request;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (word == "--verify")
            request.verify = true;
        else if (word == "--device" && hasValue)
            request.device = arguments[++i];
        else if (word == "--space" && hasValue)
            request.space = arguments[++i];
        else if (word == "--address" && hasValue)
            request.address = numberArgument(arguments[++i], "load", "ADDRESS");
        else if (word.rfind("--", 0) != 0 && request.file.empty())
            request.file = word;
        else
            throw UsageError("load needs " + kUsage + ", not '" + word + "'");
    }
    if (request.file.empty())
        throw UsageError("load needs " + kUsage);
    return request;
}

/// The device to load into: the one named, else the only one there is.
std::string chooseDevice(CliContext& context, const std::string& named)
{
    if (!named.empty())
        return named;
    const auto devices = callForValues(context, "Device", "getChildren", {jsonText("")}).at(1).as_array();
    if (devices.size() != 1)
        throw UsageError("load needs --device DEVICE-ID: the back-end has " + std::to_string(devices.size()) +
                         " devices" + (devices.empty() ? " (set up and connect a tool first)" : ""));
    return textOf(devices[0]);
}

/// The architecture the device's description names ("CORTEX-M3"); "" when it names none.
std::string architectureOf(CliContext& context, const std::string& device)
{
    const auto properties = callForValues(context, "Device", "getContext", {jsonText(device)}).at(1).as_object();
    const auto* name = properties.if_contains("Name");
    if (!name || !name->is_string())
        return "";
    const auto info = callForValues(context, "Device", "getDeviceInfo", {jsonText(textOf(*name))}).at(1);
    const auto* architecture = info.is_object() ? info.as_object().if_contains("architecture") : nullptr;
    return architecture && architecture->is_string() ? textOf(*architecture) : "";
}

/// A memory context of the device and the addresses its space covers.
struct Space {
    std::string id;
    std::uint64_t first = 0;
    std::uint64_t last = 0;

    bool holds(const ImageSegment& segment) const
    {
        return segment.address >= first && segment.address <= last &&
               segment.bytes.size() - 1 <= last - segment.address;
    }
};

Space spaceNamed(CliContext& context, const std::string& id)
{
    const auto properties = callForValues(context, "Memory", "getContext", {jsonText(id)}).at(1).as_object();
    return {id, numberOf(properties.at("StartBound")), numberOf(properties.at("EndBound"))};
}

/// The memory contexts to load into: the one named, else every one of the device.
std::vector<Space> spacesOf(CliContext& context, const std::string& device, const std::string& named)
{
    if (!named.empty())
        return {spaceNamed(context, named)};
    std::vector<Space> spaces;
    const auto children = callForValues(context, "Memory", "getChildren", {jsonText(device)});
    for (const auto& child : children.at(1).as_array())
        spaces.push_back(spaceNamed(context, textOf(child)));
    return spaces;
}

/// Each segment with the space it goes into (the first of the device's order that holds it
/// whole); throws before anything is written when one has none.
std::vector<std::pair<const ImageSegment*, std::string>> placeSegments(const FirmwareImage& image,
                                                                      const std::vector<Space>& spaces,
                                                                      const std::string& device)
{
    std::vector<std::pair<const ImageSegment*, std::string>> placed;
    for (const auto& segment : image.segments) {
        const auto space = std::find_if(spaces.begin(), spaces.end(), [&](const Space& s) { return s.holds(segment); });
        if (space == spaces.end()) {
            std::string known;
            for (const auto& s : spaces)
                known += (known.empty() ? "" : ", ") + s.id + " " + hexText(s.first) + "-" + hexText(s.last);
            throw UsageError("load: " + std::to_string(segment.bytes.size()) + " byte(s) at " +
                             hexText(segment.address, 8) + " lie in no address space of " + device + " (" +
                             (known.empty() ? "it has none" : known) + "); nothing was written");
        }
        placed.emplace_back(&segment, space->id);
    }
    return placed;
}

/// The first byte that differs, as an error line; exits 1 when there is one.
int compare(CliContext& context, const ImageSegment& segment, const std::vector<std::uint8_t>& read)
{
    const auto differs = std::mismatch(segment.bytes.begin(), segment.bytes.end(), read.begin(), read.end());
    if (differs.first == segment.bytes.end())
        return ExitCode::Ok;
    const auto offset = static_cast<std::uint64_t>(differs.first - segment.bytes.begin());
    errorOut(context) << "verify failed at " << hexText(segment.address + offset, 8) << ": wrote "
                      << hexOf({*differs.first}) << ", read "
                      << (differs.second == read.end() ? std::string("nothing") : hexOf({*differs.second})) << "\n";
    return ExitCode::ErrorReply;
}

int loadVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const LoadRequest request = readRequest(arguments);
    const FirmwareImage image = readFirmwareImage(request.file, request.address);
    // A named space needs no device: messages then name the space.
    const std::string device =
        request.space.empty() || !request.device.empty() ? chooseDevice(context, request.device) : request.space;
    if (image.elfMachine && device != request.space)
        checkMachine(image, request.file, device, architectureOf(context, device));
    const auto placed = placeSegments(image, spacesOf(context, device, request.space), device);

    boost::json::array segments;
    for (const auto& [segment, space] : placed)
        segments.push_back({{"address", segment->address}, {"size", segment->bytes.size()}, {"space", space}});
    boost::json::object data{{"file", request.file}, {"format", image.format}, {"device", device}, {"segments", segments}};
    TransferProgress progress(context, "loading", image.byteCount());
    for (const auto& [segment, space] : placed) {
        const auto rangeErrors = writeInSteps(context, space, segment->address, segment->bytes, &progress);
        if (!rangeErrors.empty())
            return reportRangeErrors(context, rangeErrors);
    }
    data["bytes"] = progress.bytes();
    data["seconds"] = progress.elapsed().count();
    data["verified"] = false;
    setData(context, data);
    if (!context.json)
        context.out << "loaded " << progress.figures() << ": " << image.segments.size() << " segment(s) of "
                    << image.format << " into " << device << "\n";
    if (!request.verify)
        return ExitCode::Ok;
    TransferProgress checking(context, "verifying", image.byteCount());
    for (const auto& [segment, space] : placed) {
        const auto read = readInSteps(context, space, segment->address, segment->bytes.size(), &checking);
        if (const int failed = reportRangeErrors(context, read.rangeErrors); failed != ExitCode::Ok)
            return failed;
        if (const int failed = compare(context, *segment, read.bytes); failed != ExitCode::Ok)
            return failed;
    }
    data["verified"] = true;
    setData(context, data);
    if (!context.json)
        context.out << "verified " << checking.figures() << "\n";
    return ExitCode::Ok;
}

} // namespace

void addLoadVerb(VerbTable& table)
{
    table.insert({"load", {kUsage,
                           "write a firmware file (ELF, Intel HEX, or binary at --address) into the device, each "
                           "segment into the first address space that holds it (or the one --space names); "
                           "--verify reads it back",
                           loadVerb}});
}

} // namespace hil::cli
