// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/interfaces/IRegistersContext.h"
#include "core/memory/ParentLookupServer.h"

namespace hil {

/// The TCF face of the Registers service, in the standard TCF layout: "get", "set", "getm",
/// "setm", "getChildren", "getContext", and the event "registerChanged" (the register's id) for
/// every announced register.
///
/// "getm" and "setm" take a location list, [[id, offset, size], ...]: slices of registers,
/// concatenated in list order. Every location is resolved and checked before the first register
/// is read or written.
class RegistersCommandServer : public ParentLookupServer {
public:
    /// One slice of one register.
    struct Location {
        std::shared_ptr<IRegistersContext> context;
        int offset = 0;
        int size = 0;
    };

    RegistersCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Registers"; }

    /// Decodes a location list into `locations` and returns the sum of the sizes. A location
    /// that is not a three-value array fails with code 3; a slice outside its register (a
    /// negative offset or size, or an end beyond `getSize`) with code 15.
    unsigned getLocations(const CommandArguments& arguments, std::size_t index, std::vector<Location>& locations) const;

    void onRegisterChanged(const std::shared_ptr<IRegistersContext>& context) const;

protected:
    std::vector<std::string> childIdsOf(const IMemoryRegistersParent& parent) const override;
    void registerContextSignalHandlers(const ContextPtr& context) override;

private:
    std::shared_ptr<IRegistersContext> getRegistersContextOrThrow(const std::string& id) const;

    void handleGet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetMultiple(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSetMultiple(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
};

} // namespace hil
