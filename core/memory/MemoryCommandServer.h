// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "core/interfaces/IMemoryContext.h"
#include "core/memory/ParentLookupServer.h"

namespace hil {

/// The TCF face of the Memory service, in the standard TCF layout: "get", "set", "fill",
/// "cacheRange", "uncacheRange", "commitCache", "getChildren", "getContext", and the event
/// "memoryChanged" for every announced memory context.
///
/// Every argument is checked before a context is called, so a refused command leaves the target
/// as it was. A "get" may ask for at most the transfer limit (the setting
/// "com.velmora.hil.core.maxmemorytransfer", in bytes; 8 MiB when unset), so that a client cannot
/// make the back-end allocate without bound. 8 MiB is 11.2 MB of Base64: the largest reply fits
/// in the 16 MiB message a standard client accepts, so whatever the back-end agrees to send, a
/// client receives. Larger reads take several "get"s.
class MemoryCommandServer : public ParentLookupServer {
public:
    static constexpr std::int64_t kDefaultTransferLimit = std::int64_t{8} << 20;
    static inline const std::string kTransferLimitSetting = "com.velmora.hil.core.maxmemorytransfer";

    MemoryCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Memory"; }

    /// Sends "memoryChanged": the context's id and one {"addr", "size"} per range, in order.
    void onMemoryChanged(const std::shared_ptr<IMemoryContext>& context, const MemoryRanges& ranges) const;

    /// The range error list of a transfer of `count` bytes from `start`: one {"addr", "size",
    /// "stat", "msg"} per failed run, as compact JSON; "[]" when `errors` is null.
    static std::string rangeErrorList(const MemoryErrorMapPtr& errors, std::uint64_t start, std::int64_t count);

protected:
    std::vector<std::string> childIdsOf(const IMemoryRegistersParent& parent) const override;
    void registerContextSignalHandlers(const ContextPtr& context) override;

private:
    std::shared_ptr<IMemoryContext> getMemoryContextOrThrow(const std::string& id) const;

    void handleGet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSet(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleFill(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleCache(const CommandArguments& arguments, bool cache, Results& results);
    void handleCommitCache(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);

    std::int64_t transferLimit_;
};

} // namespace hil
