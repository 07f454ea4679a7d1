// SPDX-License-Identifier: Apache-2.0
#include "core/memory/MemoryCommandServer.h"

#include <charconv>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/Base64.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/MessageCodec.h"
#include "platform/tcf/Protocol.h"

namespace hil {

// The reply to the largest "get": the Base64 text with its quotes, and room for the token, the
// error slot and a range error list.
static_assert(base64_length(MemoryCommandServer::kDefaultTransferLimit) + (1 << 20) <= tcf::wire::DefaultMaxMessageBytes,
              "the largest memory read must fit in one message a standard client accepts");

namespace {

enum MemoryArgument { ContextId = 0, Address = 1, WordSize = 2, ByteCount = 3, Mode = 4, Data = 5 };

std::int64_t readTransferLimit(IOrixDebugger& debugger)
{
    const std::string text = debugger.getSetting(MemoryCommandServer::kTransferLimitSetting, "");
    if (text.empty())
        return MemoryCommandServer::kDefaultTransferLimit;
    std::int64_t limit = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (error != std::errc() || end != text.data() + text.size() || limit < 0) {
        BackendLogger::error("", "The setting " + MemoryCommandServer::kTransferLimitSetting + " = '" + text +
                                     "' is not a byte count; the limit stays at " +
                                     std::to_string(MemoryCommandServer::kDefaultTransferLimit));
        return MemoryCommandServer::kDefaultTransferLimit;
    }
    return limit;
}

/// The standard fill value: a non-empty JSON array of byte values (0 to 255).
std::vector<std::uint8_t> fillPattern(const CommandArguments& arguments, std::size_t index)
{
    const boost::json::array values = arguments.array(index);
    if (values.empty())
        throwArgumentError();
    std::vector<std::uint8_t> pattern;
    pattern.reserve(values.size());
    for (const auto& value : values) {
        const std::int64_t byte = json_read::int64(value);
        if (byte < 0 || byte > 0xFF)
            throwArgumentError();
        pattern.push_back(static_cast<std::uint8_t>(byte));
    }
    return pattern;
}

} // namespace

MemoryCommandServer::MemoryCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service)
    : ParentLookupServer(debugger, std::move(service)), transferLimit_(readTransferLimit(debugger))
{
    addCommand("get", &MemoryCommandServer::handleGet);
    addCommand("set", &MemoryCommandServer::handleSet);
    addCommand("fill", &MemoryCommandServer::handleFill);
    addCommand("cacheRange", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        handleCache(arguments, true, results);
    });
    addCommand("uncacheRange", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        handleCache(arguments, false, results);
    });
    addCommand("commitCache", &MemoryCommandServer::handleCommitCache);
    registerServiceSignalHandlers();
}

std::shared_ptr<IMemoryContext> MemoryCommandServer::getMemoryContextOrThrow(const std::string& id) const
{
    return requireContext<IMemoryContext>(id);
}

std::vector<std::string> MemoryCommandServer::childIdsOf(const IMemoryRegistersParent& parent) const
{
    return idsOf(parent.listMemoryContexts());
}

void MemoryCommandServer::handleGet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(5);
    const std::string id = arguments.string(ContextId);
    const std::uint64_t address = arguments.bits64(Address);
    const int wordSize = arguments.truncatedInt32(WordSize);
    const std::int64_t count = arguments.truncatedInt32(ByteCount);
    const int mode = arguments.truncatedInt32(Mode);
    if (count < 0)
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(),
                         "Byte count " + std::to_string(count) + " is negative");
    if (count > transferLimit_)
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(),
                         "Byte count " + std::to_string(count) + " is above the limit of " +
                             std::to_string(transferLimit_) + " bytes");
    const auto context = getMemoryContextOrThrow(id);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count), 0);
    MemoryErrorMapPtr errors;
    context->readMemory(address, wordSize, bytes, 0, count, mode, nullptr, errors);
    results.push_back(base64_json_string(bytes));
    results.push_back(emptyError());
    results.push_back(rangeErrorList(errors, address, count));
}

void MemoryCommandServer::handleSet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(6);
    const std::string id = arguments.string(ContextId);
    const std::uint64_t address = arguments.bits64(Address);
    const int wordSize = arguments.truncatedInt32(WordSize);
    const std::int64_t count = arguments.truncatedInt32(ByteCount);
    const int mode = arguments.truncatedInt32(Mode);
    std::vector<std::uint8_t> bytes = arguments.bytes(Data);
    if (static_cast<std::int64_t>(bytes.size()) != count)
        throwArgumentError();
    const auto context = getMemoryContextOrThrow(id);
    MemoryErrorMapPtr errors;
    context->writeMemory(address, wordSize, bytes, 0, count, mode, nullptr, errors);
    results.push_back(emptyError());
    results.push_back(rangeErrorList(errors, address, count));
}

void MemoryCommandServer::handleFill(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(6);
    const std::string id = arguments.string(ContextId);
    // Kept for compatibility (docs/protocol.md).
    const auto address = static_cast<std::uint64_t>(static_cast<std::int64_t>(arguments.truncatedInt32(Address)));
    const int wordSize = arguments.truncatedInt32(WordSize);
    const std::int64_t count = arguments.truncatedInt32(ByteCount);
    const int mode = arguments.truncatedInt32(Mode);
    std::vector<std::uint8_t> pattern = fillPattern(arguments, Data);
    const auto context = getMemoryContextOrThrow(id);
    MemoryErrorMapPtr errors;
    context->fillMemory(address, wordSize, pattern, count, mode, nullptr, errors);
    results.push_back(emptyError());
    results.push_back(rangeErrorList(errors, address, count));
}

void MemoryCommandServer::handleCache(const CommandArguments& arguments, bool cache, Results& results)
{
    arguments.requireCount(4);
    const std::string id = arguments.string(ContextId);
    const std::uint64_t address = arguments.bits64(1);
    const int flags = cache ? arguments.truncatedInt32(3) : 0;
    const int size = arguments.truncatedInt32(2);
    const auto context = getMemoryContextOrThrow(id);
    if (cache)
        context->cacheMemoryRange(address, size, flags);
    else
        context->uncacheMemoryRange(address, size);
    results.push_back(emptyError());
}

void MemoryCommandServer::handleCommitCache(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                            Results& results)
{
    arguments.requireCount(6); // kept for compatibility (docs/protocol.md)
    const auto context = getMemoryContextOrThrow(arguments.string(ContextId));
    MemoryErrorMapPtr errors;
    context->commitMemoryCache(nullptr, errors);
    results.push_back(emptyError());
}

std::string MemoryCommandServer::rangeErrorList(const MemoryErrorMapPtr& errors, std::uint64_t start,
                                                std::int64_t count)
{
    boost::json::array list;
    if (errors && count > 0) {
        const std::uint64_t last = start + static_cast<std::uint64_t>(count) - 1;
        std::uint64_t address = start;
        while (true) {
            std::uint32_t length = 0;
            const int status = errors->getStatusAt(address, length);
            if (length == 0)
                break;
            if (status != 0)
                list.emplace_back(boost::json::object{{"addr", address}, {"size", length}, {"stat", status}, {"msg", ""}});
            // Stop at the end of the range, also when the range reaches the top of the address
            // space and the next address would wrap to 0.
            if (length - 1 >= last - address)
                break;
            address += length;
        }
    }
    return jsonText(list);
}

void MemoryCommandServer::registerContextSignalHandlers(const ContextPtr& context)
{
    const auto memory = std::dynamic_pointer_cast<IMemoryContext>(context);
    if (!memory)
        return;
    memory->addMemoryChangedHandler(tracked(MemoryChangedSignal::slot_type(
        [this](const std::shared_ptr<IMemoryContext>& changed, const MemoryRanges& ranges) { onMemoryChanged(changed, ranges); })));
}

void MemoryCommandServer::onMemoryChanged(const std::shared_ptr<IMemoryContext>& context, const MemoryRanges& ranges) const
{
    boost::json::array changed;
    for (const auto& [address, size] : ranges)
        changed.emplace_back(boost::json::object{{"addr", static_cast<std::int64_t>(address)},
                                                 {"size", static_cast<std::int64_t>(size)}});
    tcf::Protocol::sendEvent(serviceName(), "memoryChanged",
                             {jsonText(context->getId()), jsonText(changed)});
}

} // namespace hil
