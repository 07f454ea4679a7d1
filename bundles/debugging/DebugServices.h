// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "bundles/debugging/DebugTargets.h"
#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IService.h"

namespace hil::debugging {

/// One of the three debugging services: a name over the targets they share.
class DebugService : public IService {
public:
    DebugService(IOrixDebugger& debugger, std::string name) : name_(std::move(name)), targets_(DebugTargets::of(debugger)) {}
    std::string getName() const override { return name_; }
    void cleanup(int) override {}
    DebugTargets& targets() const { return *targets_; }

private:
    const std::string name_;
    const std::shared_ptr<DebugTargets> targets_;
};

class RunControlService : public DebugService {
public:
    explicit RunControlService(IOrixDebugger& debugger) : DebugService(debugger, "RunControl") {}
};

/// A client's breakpoints go with it.
class BreakpointsService : public DebugService {
public:
    explicit BreakpointsService(IOrixDebugger& debugger) : DebugService(debugger, "Breakpoints") {}
    void cleanup(int ownerId) override { targets().forgetClient(ownerId); }
};

class StackTraceService : public DebugService {
public:
    explicit StackTraceService(IOrixDebugger& debugger) : DebugService(debugger, "StackTrace") {}
};

/// "RunControl": getContext, getChildren, getState, getMinState, suspend, resume (modes 0-2, with a
/// count for steps); terminate and detach are refused.
class RunControlServer : public CommandServerFor<DebugService> {
public:
    RunControlServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);
};

/// "Breakpoints": set, add, change, enable, disable, remove, getIDs, getProperties, getStatus,
/// getCapabilities.
class BreakpointsServer : public CommandServerFor<DebugService> {
public:
    BreakpointsServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);
};

/// "StackTrace": getChildren, getChildrenRange, getContext of a suspended target's frames.
class StackTraceServer : public CommandServerFor<DebugService> {
public:
    StackTraceServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);
};

} // namespace hil::debugging
