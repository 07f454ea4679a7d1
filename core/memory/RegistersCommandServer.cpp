// SPDX-License-Identifier: Apache-2.0
#include "core/memory/RegistersCommandServer.h"

#include <algorithm>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/Base64.h"
#include "platform/common/CoreException.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/Protocol.h"

namespace hil {

namespace {

[[noreturn]] void throwInvalidDataSize() { throw ErrorDescr(ErrorDescrCode::InvalidDataSize, "", ""); }

/// A buffer of the register's size; a driver that reports a negative size is refused rather
/// than trusted with an allocation.
std::vector<std::uint8_t> registerBuffer(const IRegistersContext& context)
{
    const int size = context.getSize();
    if (size < 0)
        CoreException::createAndThrow("", ErrorCode::InvalidArguments, "Register %s reports the size %d",
                                      context.getId().c_str(), size);
    return std::vector<std::uint8_t>(static_cast<std::size_t>(size), 0);
}

} // namespace

RegistersCommandServer::RegistersCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service)
    : ParentLookupServer(debugger, std::move(service))
{
    addCommand("get", &RegistersCommandServer::handleGet);
    addCommand("set", &RegistersCommandServer::handleSet);
    addCommand("getm", &RegistersCommandServer::handleGetMultiple);
    addCommand("setm", &RegistersCommandServer::handleSetMultiple);
    registerServiceSignalHandlers();
}

std::shared_ptr<IRegistersContext> RegistersCommandServer::getRegistersContextOrThrow(const std::string& id) const
{
    return requireContext<IRegistersContext>(id);
}

std::vector<std::string> RegistersCommandServer::childIdsOf(const IMemoryRegistersParent& parent) const
{
    return idsOf(parent.listRegistersContexts());
}

void RegistersCommandServer::handleGet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    const auto context = getRegistersContextOrThrow(arguments.string(0));
    std::vector<std::uint8_t> value = registerBuffer(*context);
    context->getValue(value);
    results.push_back(emptyError());
    results.push_back(base64_json_string(value));
}

void RegistersCommandServer::handleSet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    if (arguments.count() != 2)
        throwInvalidNumberOfArguments("Set", arguments);
    const std::string id = arguments.string(0);
    const std::vector<std::uint8_t> value = arguments.bytes(1);
    getRegistersContextOrThrow(id)->setValue(value);
    results.push_back(emptyError());
}

unsigned RegistersCommandServer::getLocations(const CommandArguments& arguments, std::size_t index,
                                              std::vector<Location>& locations) const
{
    unsigned total = 0;
    for (const auto& element : arguments.array(index)) {
        const auto& fields = json_read::array(element);
        if (fields.size() != 3)
            throwArgumentError();
        const std::string id = json_read::string(fields[0]);
        const int offset = json_read::int32(fields[1]);
        const int size = json_read::int32(fields[2]);
        auto context = getRegistersContextOrThrow(id);
        // Compared in 64 bits: offset + size must not overflow into a slice that looks valid.
        if (offset < 0 || size < 0 || std::int64_t{offset} + size > context->getSize())
            throwInvalidDataSize();
        locations.push_back({std::move(context), offset, size});
        total += static_cast<unsigned>(size);
    }
    return total;
}

void RegistersCommandServer::handleGetMultiple(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    arguments.requireCount(1);
    std::vector<Location> locations;
    std::vector<std::uint8_t> data;
    data.reserve(getLocations(arguments, 0, locations));
    for (const auto& location : locations) {
        std::vector<std::uint8_t> value = registerBuffer(*location.context);
        location.context->getValue(value);
        data.insert(data.end(), value.begin() + location.offset, value.begin() + location.offset + location.size);
    }
    results.push_back(emptyError());
    results.push_back(base64_json_string(data));
}

void RegistersCommandServer::handleSetMultiple(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    arguments.requireCount(2);
    std::vector<Location> locations;
    const unsigned total = getLocations(arguments, 0, locations);
    const std::vector<std::uint8_t> data = arguments.bytes(1);
    if (data.size() != total)
        throwInvalidDataSize();
    auto next = data.begin();
    for (const auto& location : locations) {
        // The rest of the register is written as zero: the slice replaces the whole value.
        std::vector<std::uint8_t> value = registerBuffer(*location.context);
        std::copy(next, next + location.size, value.begin() + location.offset);
        next += location.size;
        location.context->setValue(value);
    }
    results.push_back(emptyError());
}

void RegistersCommandServer::registerContextSignalHandlers(const ContextPtr& context)
{
    const auto registers = std::dynamic_pointer_cast<IRegistersContext>(context);
    if (!registers)
        return;
    registers->addRegisterChangedHandler(tracked(RegisterChangedSignal::slot_type(
        [this](const std::shared_ptr<IRegistersContext>& changed) { onRegisterChanged(changed); })));
}

void RegistersCommandServer::onRegisterChanged(const std::shared_ptr<IRegistersContext>& context) const
{
    tcf::Protocol::sendEvent(serviceName(), "registerChanged",
                             {jsonText(context->getId())});
}

} // namespace hil
