// SPDX-License-Identifier: Apache-2.0
// The verbs that read and write target memory ("Memory") and registers ("Registers").

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "cli/MemoryTransfers.h"
#include "platform/common/Base64.h"

namespace hil::cli {

namespace {

const std::string kMemory = "Memory";
const std::string kRegisters = "Registers";
constexpr std::size_t kDumpWidth = 16;

using Values = boost::json::array;
using Texts = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

/// Whether the byte at `address` lies in a failed run of a range error list.
bool failedAt(const boost::json::array& rangeErrors, std::uint64_t address)
{
    for (const auto& run : rangeErrors) {
        const auto start = run.at("addr").to_number<std::uint64_t>();
        if (address >= start && address - start < run.at("size").to_number<std::uint64_t>())
            return true;
    }
    return false;
}

/// Sixteen bytes a line: the address, the bytes in hex ("--" where the read failed), then the
/// printable ones.
void printDump(std::ostream& out, std::uint64_t address, const Bytes& bytes, const boost::json::array& rangeErrors)
{
    for (std::size_t line = 0; line < bytes.size(); line += kDumpWidth) {
        out << hexText(address + line, 8) << " ";
        std::string printable;
        for (std::size_t i = line; i < line + kDumpWidth; ++i) {
            if (i < bytes.size() && failedAt(rangeErrors, address + i)) {
                out << " --";
                printable += ' ';
            } else if (i < bytes.size()) {
                out << " " << hexOf({bytes[i]});
                printable += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
            } else {
                out << "   ";
            }
        }
        out << "  |" << printable << "|\n";
    }
}

/// The bytes of the failed runs of a range error list.
std::uint64_t failedBytes(const boost::json::array& rangeErrors)
{
    std::uint64_t bytes = 0;
    for (const auto& run : rangeErrors)
        bytes += numberOf(run.at("size"));
    return bytes;
}

/// Sends a write or fill of `count` bytes at `address`, prints its reply through `human`, then
/// its failed runs. Its data: {"address", "size", "written", "failed"}.
int transfer(CliContext& context, const std::string& command, std::uint64_t address, std::uint64_t count,
             const std::vector<std::string>& arguments, const HumanPrinter& human)
{
    const auto reply = context.client.call(kMemory, command, arguments);
    const int result = printReply(context, reply, kMemory + " " + command, human);
    if (result != ExitCode::Ok)
        return result;
    const auto rangeErrors = reply.values.empty() ? boost::json::value() : parseOrNull(reply.values.back());
    if (!rangeErrors.is_array())
        return ExitCode::Ok;
    const std::uint64_t failed = std::min(failedBytes(rangeErrors.get_array()), count);
    setData(context, {{"address", address}, {"size", count}, {"written", count - failed}, {"failed", rangeErrors}});
    return reportRangeErrors(context, rangeErrors.get_array());
}

/// The data of a transfer between memory and a file.
boost::json::object fileTransfer(const TransferProgress& progress, const std::string& file,
                                 const boost::json::array& rangeErrors)
{
    return {{"file", file},
            {"bytes", progress.bytes()},
            {"seconds", progress.elapsed().count()},
            {"failed", rangeErrors}};
}

/// The reply of a write or fill of `count` bytes: how many reached the target.
HumanPrinter transferred(std::string verb, std::uint64_t count)
{
    return [verb, count](std::ostream& out, const Values& values, const Texts&) {
        const std::uint64_t failed = failedBytes(values.at(1).as_array());
        out << verb << " " << (failed ? std::to_string(count - std::min(failed, count)) + " of " : "") << count
            << " byte(s)\n";
    };
}

int readMemory(CliContext& context, const std::vector<std::string>& words)
{
    const std::uint64_t address = numberArgument(words[1], "mem read", "ADDRESS");
    const std::uint64_t count = numberArgument(words[2], "mem read", "COUNT");
    TransferProgress progress(context, "reading", count);
    const auto read = readInSteps(context, words[0], address, count, &progress);
    if (context.json)
        setData(context, {{"address", address}, {"size", count}, {"bytes", base64_encode(read.bytes)},
                          {"failed", read.rangeErrors}});
    else
        printDump(context.out, address, read.bytes, read.rangeErrors);
    return reportRangeErrors(context, read.rangeErrors);
}

/// After a dump that failed or stopped: `file` cut to the `good` bytes read before the trouble
/// with --keep-partial, else removed, so that no file looks whole that is not; the line that
/// says which.
std::string settlePartialDump(const std::string& file, bool keep, std::uint64_t good, std::uint64_t count)
{
    std::error_code ignored;
    if (!keep) {
        std::filesystem::remove(file, ignored);
        return "dumped nothing: " + file + " removed (--keep-partial keeps the " + std::to_string(good) +
               " byte(s) read before the failure)";
    }
    std::filesystem::resize_file(file, good, ignored);
    return "dumped " + std::to_string(good) + " of " + std::to_string(count) + " byte(s) to " + file;
}

int dumpMemory(CliContext& context, const std::vector<std::string>& words)
{
    const std::uint64_t address = numberArgument(words[1], "mem dump", "ADDRESS");
    const std::uint64_t count = numberArgument(words[2], "mem dump", "SIZE");
    const std::string& path = words[3];
    const bool keep = words.size() > 4 && words[4] == "--keep-partial";
    if (words.size() > 4 && !keep)
        throw UsageError("mem dump needs ID ADDRESS SIZE FILE [--keep-partial], not '" + words[4] + "'");
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const auto cannotWrite = [&] { return FileAccessError("mem dump cannot write " + path); };
    if (!file)
        throw cannotWrite();
    // Straight to the file, step by step: a dump of hundreds of MiB needs no copy in memory.
    TransferProgress progress(context, "dumping", count);
    std::uint64_t good = 0; // the bytes before the first that failed
    bool failed = false;
    ReadResult read;
    try {
        read = readInSteps(context, words[0], address, count, &progress,
                           [&](std::span<const std::uint8_t> part, const boost::json::array& failedRuns) {
                               if (!file.write(reinterpret_cast<const char*>(part.data()),
                                               static_cast<std::streamsize>(part.size())))
                                   throw cannotWrite();
                               if (failed)
                                   return;
                               if (failedRuns.empty()) {
                                   good += part.size();
                                   return;
                               }
                               failed = true;
                               good = count;
                               for (const auto& run : failedRuns)
                                   good = std::min(good, numberOf(run.at("addr")) - address);
                           });
        if (!file.flush())
            throw cannotWrite();
    } catch (const std::exception&) {
        file.close();
        const auto line = settlePartialDump(path, keep, good, count);
        if (!context.json)
            context.out << line << "\n";
        throw;
    }
    file.close();
    if (context.json)
        setData(context, fileTransfer(progress, path, read.rangeErrors));
    if (failed) {
        const auto line = settlePartialDump(path, keep, good, count);
        if (!context.json)
            context.out << line << "\n";
    } else if (!context.json) {
        context.out << "dumped " << progress.figures() << " to " << path << "\n";
    }
    return reportRangeErrors(context, read.rangeErrors);
}

int restoreMemory(CliContext& context, const std::vector<std::string>& words)
{
    const std::uint64_t address = numberArgument(words[1], "mem restore", "ADDRESS");
    std::ifstream file(words[2], std::ios::binary);
    if (!file)
        throw FileAccessError("mem restore cannot read " + words[2]);
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    TransferProgress progress(context, "restoring", bytes.size());
    const auto rangeErrors = writeInSteps(context, words[0], address, bytes, &progress);
    if (context.json)
        setData(context, fileTransfer(progress, words[2], rangeErrors));
    else
        context.out << "restored " << progress.figures() << " from " << words[2] << "\n";
    return reportRangeErrors(context, rangeErrors);
}

int writeMemory(CliContext& context, const std::vector<std::string>& words)
{
    const std::uint64_t address = numberArgument(words[1], "mem write", "ADDRESS");
    const Bytes bytes = bytesOfHex(words[2], "mem write");
    return transfer(context, "set", address, bytes.size(),
                    {jsonText(words[0]), std::to_string(address), "1", std::to_string(bytes.size()), "0",
                     base64_json_string(bytes)},
                    transferred("wrote", bytes.size()));
}

int fillMemory(CliContext& context, const std::vector<std::string>& words)
{
    const std::uint64_t address = numberArgument(words[1], "mem fill", "ADDRESS");
    const std::uint64_t count = numberArgument(words[2], "mem fill", "COUNT");
    boost::json::array pattern;
    for (std::size_t i = 3; i < words.size(); ++i) {
        const std::uint64_t byte = numberArgument(words[i], "mem fill", "each BYTE");
        if (byte > 0xFF)
            throw UsageError("mem fill needs bytes from 0 to 255, not " + words[i]);
        pattern.push_back(byte);
    }
    return transfer(context, "fill", address, count,
                    {jsonText(words[0]), std::to_string(address), "1", std::to_string(count), "0",
                     boost::json::serialize(pattern)},
                    transferred("filled", count));
}

struct MemoryAction {
    std::string arguments;
    std::string help;
    std::size_t least;
    std::size_t most;
    std::function<int(CliContext&, const std::vector<std::string>&)> run;
};

const std::map<std::string, MemoryAction>& memoryActions()
{
    static const std::map<std::string, MemoryAction> table{
        {"read", {"ID ADDRESS COUNT", "read COUNT bytes and show them as a hex dump", 3, 3, readMemory}},
        {"write", {"ID ADDRESS HEX", "write the bytes the hex digits spell", 3, 3, writeMemory}},
        {"fill", {"ID ADDRESS COUNT BYTE...", "write COUNT bytes repeating the BYTE pattern", 4, SIZE_MAX, fillMemory}},
        {"dump", {"ID ADDRESS SIZE FILE [--keep-partial]",
                  "read SIZE bytes into FILE; a dump that fails leaves no file, or with --keep-partial the bytes "
                  "before the failure",
                  4, 5, dumpMemory}},
        {"restore", {"ID ADDRESS FILE", "write the bytes of FILE", 3, 3, restoreMemory}},
    };
    return table;
}

std::string memUsage() { return tableUsage("one of:", memoryActions()); }

int memVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, SIZE_MAX, "mem", memUsage());
    const auto& action = actionOf(memoryActions(), arguments[0], "mem", "action", memUsage());
    const std::vector<std::string> words(arguments.begin() + 1, arguments.end());
    requireArguments(words, action.least, action.most, "mem " + arguments[0], action.arguments);
    return action.run(context, words);
}

/// A register as the Registers service describes it.
struct Register {
    std::string id;
    std::string name;
    std::size_t size;
    bool bigEndian;
};

/// `typed`, or the register of its device whose name differs from it only in case ("q.PC" for
/// "q.pc"): users type register names as their manuals write them.
std::string registerId(CliContext& context, const std::string& typed)
{
    const auto dot = typed.rfind('.');
    if (dot == std::string::npos)
        return typed;
    const auto siblings = context.client.call(kRegisters, "getChildren", {jsonText(typed.substr(0, dot))});
    if (siblings.values.size() < 2)
        return typed;
    const auto list = parseOrNull(siblings.values[1]);
    if (!list.is_array())
        return typed;
    std::string folded;
    for (const auto& sibling : list.as_array()) {
        if (!sibling.is_string())
            continue;
        if (sibling.get_string() == typed)
            return typed;
        if (boost::algorithm::iequals(std::string(sibling.get_string()), typed))
            folded = sibling.get_string();
    }
    return folded.empty() ? typed : folded;
}

Register describeRegister(CliContext& context, const std::string& typed)
{
    const std::string id = registerId(context, typed);
    const auto properties = callForValues(context, kRegisters, "getContext", {jsonText(id)}).at(1).as_object();
    const auto* name = properties.if_contains("Name");
    const auto* size = properties.if_contains("Size");
    const auto* bigEndian = properties.if_contains("BigEndian");
    return {id, name && name->is_string() ? std::string(name->get_string()) : id,
            size && size->is_int64() ? static_cast<std::size_t>(size->get_int64()) : 0,
            bigEndian && bigEndian->is_bool() && bigEndian->get_bool()};
}

/// The value as a number, in the register's byte order.
std::uint64_t valueOf(const Register& reg, const Bytes& bytes)
{
    return numberOfBytes(bytes, reg.bigEndian);
}

/// A register's value as data: a number, and the bytes as they travel.
boost::json::object registerData(const Register& reg, const Bytes& value)
{
    return {{"id", reg.id}, {"name", reg.name}, {"value", valueOf(reg, value)}, {"bytes", base64_encode(value)}};
}

Bytes bytesOfValue(const Register& reg, std::uint64_t value)
{
    if (reg.size < 8 && (value >> (8 * reg.size)) != 0)
        throw UsageError("reg set: " + std::to_string(value) + " does not fit the " + std::to_string(reg.size) +
                         " byte(s) of " + reg.name);
    Bytes bytes(reg.size, 0);
    for (std::size_t i = 0; i < reg.size && i < 8; ++i)
        bytes[reg.bigEndian ? reg.size - 1 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

Bytes readRegister(CliContext& context, const std::string& id)
{
    return bytesOf(callForValues(context, kRegisters, "get", {jsonText(id)}).at(1));
}

int regsVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 1, "regs", "ID (a device, or another parent of registers)");
    const auto children = callForValues(context, kRegisters, "getChildren", {jsonText(arguments[0])}).at(1).as_array();
    boost::json::array table;
    for (const auto& child : children) {
        const Register reg = describeRegister(context, std::string(child.as_string()));
        const Bytes value = readRegister(context, reg.id);
        if (context.json)
            table.push_back(registerData(reg, value));
        else
            context.out << padded(reg.name, 8) << hexText(valueOf(reg, value), static_cast<int>(2 * value.size())) << "\n";
    }
    setData(context, std::move(table));
    return ExitCode::Ok;
}

int regVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const std::string usage = "get ID, or set ID VALUE";
    requireArguments(arguments, 2, 3, "reg", usage);
    const Register reg = describeRegister(context, arguments[1]);
    if (arguments[0] == "get" && arguments.size() == 2) {
        const Bytes value = readRegister(context, reg.id);
        if (context.json)
            setData(context, registerData(reg, value));
        else
            context.out << hexText(valueOf(reg, value), static_cast<int>(2 * value.size())) << "\n";
        return ExitCode::Ok;
    }
    if (arguments[0] != "set" || arguments.size() != 3)
        throw UsageError("reg needs " + usage);
    const Bytes value = bytesOfValue(reg, numberArgument(arguments[2], "reg set", "VALUE"));
    const int result = callAndPrint(context, kRegisters, "set", {jsonText(reg.id), base64_json_string(value)},
                                    [&](std::ostream& out, const Values&, const Texts&) {
                                        out << reg.name << " = "
                                            << hexText(valueOf(reg, value), static_cast<int>(2 * value.size())) << "\n";
                                    });
    if (result == ExitCode::Ok)
        setData(context, registerData(reg, value));
    return result;
}

} // namespace

void addMemoryVerbs(VerbTable& table)
{
    table.insert({"mem", {"read|write|fill|dump|restore ID ADDRESS ...",
                          "read memory as a hex dump, write hex bytes, fill with a byte pattern, or dump to and "
                          "restore from a file",
                          memVerb,
                          true, memUsage}});
    table.insert({"regs", {"ID", "list the registers below a device with their values", regsVerb}});
    table.insert({"reg", {"get ID | set ID VALUE", "read or write one register as a number", regVerb}});
}

} // namespace hil::cli
