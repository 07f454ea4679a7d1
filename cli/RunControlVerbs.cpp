// SPDX-License-Identifier: Apache-2.0
// The verbs that debug a target through "RunControl", "Breakpoints" and "StackTrace": halt, run,
// step and reset it, wait for it to stop and say where, and set its breakpoints and watchpoints.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include <boost/json.hpp>
#include <unistd.h>

#include "cli/CliCommands.h"
#include "cli/FirmwareImage.h"
#include "cli/RunControlWords.h"
#include "cli/StopRequests.h"
#include "platform/common/TextForPeople.h"
#include "platform/common/TextNumbers.h"

namespace hil::cli {

namespace {

const std::string kRunControl = "RunControl";
const std::string kBreakpoints = "Breakpoints";
const std::string kStackTrace = "StackTrace";

/// The code of a suspend of a target that is suspended already.
constexpr std::int64_t kAlreadyStopped = 10;
/// How long a halt may take to be heard of.
constexpr auto kHaltTime = std::chrono::seconds(10);
/// The most instructions one step runs (the back-end's limit).
constexpr std::uint64_t kMaxSteps = 100000;
/// The resume modes: run, and instruction steps into calls.
constexpr int kRun = 0;
constexpr int kStepInto = 2;
// The access bits of a breakpoint's "AccessMode".
constexpr int kRead = 1;
constexpr int kWrite = 2;
constexpr int kExecute = 4;

std::string breakpointPrefix()
{
    static const std::string prefix = [] {
        char host[256] = "host";
        if (gethostname(host, sizeof host - 1) != 0)
            host[0] = '\0';
        host[sizeof host - 1] = '\0';
        return "hilcore-cli." + std::string(host) + "." + std::to_string(getpid()) + ".";
    }();
    return prefix;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

DebugArguments readDebugArguments(const std::vector<std::string>& arguments, const DebugVerbShape& shape,
                                  const std::function<bool(const std::string&)>& isTarget)
{
    const auto wrong = [&](const std::string& why) {
        return UsageError(shape.verb + (why.empty() ? "" : ": " + why + ";") + " it needs " + shape.usage);
    };
    DebugArguments read;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (contains(shape.flags, word)) {
            read.flags.insert(word);
        } else if (contains(shape.options, word)) {
            if (i + 1 == arguments.size())
                throw wrong(word + " needs a value");
            read.options[word] = arguments[++i];
        } else if (word.size() > 2 && word.rfind("--", 0) == 0) {
            throw wrong("no option " + word);
        } else {
            read.words.push_back(word);
        }
    }
    if (shape.takesTarget && !read.words.empty() &&
        (read.words.size() == shape.most + 1 || isTarget(read.words[0]))) {
        read.target = read.words[0];
        read.words.erase(read.words.begin());
    }
    if (read.words.size() < shape.least || read.words.size() > shape.most)
        throw wrong("");
    return read;
}

std::string chooseTarget(const std::optional<std::string>& given, const std::vector<std::string>& targets,
                         const std::string& verb)
{
    std::string list;
    for (const auto& target : targets)
        list += (list.empty() ? "" : ", ") + target;
    if (given && contains(targets, *given))
        return *given;
    if (given)
        throw UsageError(verb + ": " + *given + " has no run control; " +
                         (targets.empty() ? "no target has (a simulator's targets have none; targets behind a GDB "
                                            "server have it)"
                                          : "these targets have: " + list));
    if (targets.size() == 1)
        return targets[0];
    if (targets.empty())
        throw UsageError(verb + ": no target has run control (a simulator's targets have none; set up and connect "
                                "one behind a GDB server, such as QEMU: docs/debugging.md)");
    throw UsageError(verb + " needs a TARGET: more than one has run control (" + list + ")");
}

std::string breakpointWireId(int number) { return breakpointPrefix() + std::to_string(number); }

std::optional<int> breakpointNumber(const std::string& id)
{
    const std::string& prefix = breakpointPrefix();
    if (id.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const auto number = parseDigits(std::string_view(id).substr(prefix.size()), 10);
    if (!number || *number == 0 || *number > 1000000000)
        return std::nullopt;
    return static_cast<int>(*number);
}

std::string placeText(std::uint64_t address, const SymbolTable* symbols)
{
    const std::string symbol = symbols ? symbols->placeOf(address) : "";
    return hexText(address, 8) + (symbol.empty() ? "" : " (" + symbol + ")");
}

namespace {

/// A breakpoint of the stop data's "BPs": this client's by its number, another's by its id.
boost::json::value breakpointLabel(const boost::json::value& id)
{
    if (const auto number = id.is_string() ? breakpointNumber(std::string(id.get_string())) : std::nullopt)
        return *number;
    return id;
}

std::optional<std::uint64_t> addressIn(const boost::json::object& data, const char* key)
{
    const auto* value = data.if_contains(key);
    if (!value || !(value->is_uint64() || (value->is_int64() && value->get_int64() >= 0)))
        return std::nullopt;
    return value->to_number<std::uint64_t>();
}

} // namespace

std::string describeStop(const RunState& state, const SymbolTable* symbols)
{
    std::string text = state.reason.empty() ? "Stopped" : state.reason;
    if (const auto* hit = state.data.if_contains("BPs"); hit && hit->is_array() && !hit->get_array().empty()) {
        std::string labels;
        for (const auto& id : hit->get_array())
            labels += (labels.empty() ? " " : ", ") + textOf(breakpointLabel(id));
        text += labels;
    }
    text += " at " + (state.pc ? placeText(*state.pc, symbols) : "an unknown place");
    if (const auto data = addressIn(state.data, "DataAddress"))
        text += ", data " + placeText(*data, symbols);
    if (const auto* signal = state.data.if_contains("Signal"); signal && signal->is_int64() && state.reason == "Signal")
        text += ", signal " + std::to_string(signal->get_int64());
    return text;
}

boost::json::object stopData(const RunState& state, const SymbolTable* symbols)
{
    boost::json::array hit;
    if (const auto* ids = state.data.if_contains("BPs"); ids && ids->is_array())
        for (const auto& id : ids->get_array())
            hit.push_back(breakpointLabel(id));
    const std::string symbol = state.pc && symbols ? symbols->placeOf(*state.pc) : "";
    return {{"suspended", state.suspended},
            {"pc", state.pc ? boost::json::value(*state.pc) : boost::json::value()},
            {"reason", state.suspended ? boost::json::value(state.reason) : boost::json::value()},
            {"symbol", symbol.empty() ? boost::json::value() : boost::json::value(symbol)},
            {"breakpoints", std::move(hit)},
            {"data", state.data}};
}

namespace {

// ---------------------------------------------------------------------------------------------
// Talking to the back-end

/// The code of the error report in the reply's first value; none when it has none.
std::optional<std::int64_t> errorCodeOf(const tcf::TcfClient::Reply& reply)
{
    const auto slot = reply.values.empty() ? boost::json::value() : parseOrNull(reply.values[0]);
    if (errorReportMessage(slot).empty())
        return std::nullopt;
    return slot.at("Code").as_int64();
}

std::vector<std::string> runControlTargets(CliContext& context, const std::string& verb)
{
    const auto values = callChecked(context, kRunControl, "getChildren", {"null"}, verb);
    std::vector<std::string> ids;
    for (const auto& id : values.at(1).as_array())
        ids.emplace_back(id.as_string());
    return ids;
}

RunState stateOf(const boost::json::value& suspended, const boost::json::value& pc, const boost::json::value& reason,
                 const boost::json::value& data)
{
    RunState state;
    state.suspended = suspended.is_bool() && suspended.get_bool();
    if (pc.is_uint64() || (pc.is_int64() && pc.get_int64() >= 0))
        state.pc = pc.to_number<std::uint64_t>();
    state.reason = reason.is_string() ? std::string(reason.get_string()) : "";
    if (data.is_object())
        state.data = data.get_object();
    return state;
}

RunState stateOf(CliContext& context, const std::string& target, const std::string& verb)
{
    const auto values = callChecked(context, kRunControl, "getState", {jsonText(target)}, verb);
    if (values.size() < 5)
        throw ReplyError(verb + ": RunControl getState answered " + std::to_string(values.size()) + " values, not 5");
    return stateOf(values.at(1), values.at(2), values.at(3), values.at(4));
}

/// Hears the target's stops from the moment it is made, so that none is missed between a command
/// and the wait for what it does. The client has one event handler: this takes it while it lives.
class StopListener {
public:
    /// A stop heard; the time up; Ctrl-C; contextException without a stop (a step that failed).
    enum class Outcome { Stopped, TimedOut, Interrupted, Exception };

    StopListener(CliContext& context, std::string target) : context_(context), target_(std::move(target))
    {
        context_.client.setEventHandler(
            [this](const std::string& service, const std::string& name, const std::vector<std::string>& arguments) {
                onEvent(service, name, arguments);
            });
    }
    ~StopListener() { context_.client.setEventHandler(nullptr); }
    StopListener(const StopListener&) = delete;
    StopListener& operator=(const StopListener&) = delete;

    /// Waits for the first stop heard, for `timeout` (none: until one comes), until Ctrl-C, or
    /// until the back-end tells an exception of the target instead of a stop. Throws
    /// `ReplyError` when the target goes away, `TcfClient::Error` when the back-end does.
    Outcome wait(std::optional<std::chrono::milliseconds> timeout)
    {
        const auto until = timeout ? std::chrono::steady_clock::now() + *timeout : std::chrono::steady_clock::time_point::max();
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (removed_)
                throw ReplyError(target_ + " went away (its tool was torn down, or lost its target)");
            if (!exception_.empty())
                return Outcome::Exception;
            if (stopRequested())
                return Outcome::Interrupted;
            if (std::chrono::steady_clock::now() >= until)
                return Outcome::TimedOut;
            heard_.wait_for(lock, std::chrono::milliseconds(50));
            lock.unlock();
            const bool closed = context_.client.waitUntilClosed(std::chrono::milliseconds(0));
            lock.lock();
            if (closed && !stop_)
                throw tcf::TcfClient::Error("the back-end closed the connection");
        }
        return Outcome::Stopped;
    }

    RunState stop() const
    {
        std::lock_guard lock(mutex_);
        return stop_.value_or(RunState{});
    }
    /// What contextException said of the target; empty when it said nothing.
    std::string exception() const
    {
        std::lock_guard lock(mutex_);
        return exception_;
    }

private:
    /// While this listens, the first Ctrl-C ends the wait, not the process.
    const StoppableSteps stoppable_;

    void onEvent(const std::string& service, const std::string& name, const std::vector<std::string>& arguments)
    {
        if (service != kRunControl || arguments.empty())
            return;
        std::vector<boost::json::value> values;
        for (const auto& text : arguments)
            values.push_back(parseOrNull(text));
        std::lock_guard lock(mutex_);
        if (name == "contextSuspended" && values.size() >= 4 && values[0] == target_.c_str() && !stop_)
            stop_ = stateOf(true, values[1], values[2], values[3]);
        else if (name == "contextException" && values.size() >= 2 && values[0] == target_.c_str())
            exception_ = textOf(values[1]);
        else if (name == "contextRemoved" && values[0].is_array())
            for (const auto& id : values[0].get_array())
                removed_ = removed_ || id == target_.c_str();
        heard_.notify_all();
    }

    CliContext& context_;
    const std::string target_;
    mutable std::mutex mutex_;
    std::condition_variable heard_;
    std::optional<RunState> stop_;
    std::string exception_;
    bool removed_ = false;
};

int interrupted(CliContext& context, const std::string& verb)
{
    errorOut(context) << verb << ": interrupted (the target goes on as it was)\n";
    return ExitCode::Interrupted;
}

// ---------------------------------------------------------------------------------------------
// Reading the words

const std::string kElf = "--elf";

/// The verb's words, its target (given, or the only one there is) and the symbols to name places
/// with (the --elf given, else the last one of the shell).
struct DebugCall {
    DebugArguments arguments;
    std::string target;
    const SymbolTable* symbols = nullptr;
};

const SymbolTable* symbolsFor(CliContext& context, const DebugArguments& arguments)
{
    if (const auto elf = arguments.options.find(kElf); elf != arguments.options.end())
        context.symbols = std::make_shared<const SymbolTable>(SymbolTable::read(elf->second));
    return context.symbols.get();
}

DebugCall readCall(CliContext& context, const std::vector<std::string>& words, const DebugVerbShape& shape)
{
    requireService(context, kRunControl, shape.verb);
    std::optional<std::vector<std::string>> targets;
    const auto listed = [&]() -> const std::vector<std::string>& {
        if (!targets)
            targets = runControlTargets(context, shape.verb);
        return *targets;
    };
    DebugCall call;
    call.arguments = readDebugArguments(words, shape, [&](const std::string& word) { return contains(listed(), word); });
    if (shape.takesTarget)
        call.target = chooseTarget(call.arguments.target, listed(), shape.verb);
    call.symbols = symbolsFor(context, call.arguments);
    return call;
}

/// An address in a verb's words: a number, or the name of a symbol of the ELF file.
std::uint64_t addressArgument(const std::string& word, const SymbolTable* symbols, const std::string& verb)
{
    if (const auto number = parseUnsigned(word))
        return *number;
    if (!symbols)
        throw UsageError(verb + ": " + word + " is no address; a SYMBOL needs the ELF file it is in: --elf FILE");
    if (const auto* symbol = symbols->find(word))
        return symbol->address;
    throw UsageError(verb + ": " + symbols->file() + " has no symbol " + word + didYouMean(word, symbols->names(), ""));
}

void printData(CliContext& context, boost::json::object data, const std::string& target)
{
    data.emplace("target", target);
    setData(context, std::move(data));
}

// ---------------------------------------------------------------------------------------------
// RunControl

const DebugVerbShape kHalt{"halt", "[TARGET] [--elf FILE]", 0, 0, {}, {kElf}};
const DebugVerbShape kResume{"resume", "[TARGET]", 0, 0};
const DebugVerbShape kStep{"step", "[TARGET] [N] [--elf FILE]", 0, 1, {}, {kElf}};
const DebugVerbShape kReset{"reset", "[TARGET] [--halt] [--elf FILE]", 0, 0, {"--halt"}, {kElf}};
const DebugVerbShape kState{"state", "[TARGET] [--elf FILE]", 0, 0, {}, {kElf}};
const DebugVerbShape kWait{"wait", "[TARGET] [--timeout SECONDS] [--elf FILE]", 0, 0, {}, {"--timeout", kElf}};

const DebugVerbShape kBreak{"break", "[TARGET] ADDRESS|SYMBOL [--hw|--sw] [--elf FILE]", 1, 1, {"--hw", "--sw"}, {kElf}};
const DebugVerbShape kWatchData{"watch-data", "[TARGET] ADDRESS|SYMBOL SIZE [r|w|a] [--elf FILE]", 2, 3, {}, {kElf}};
const DebugVerbShape kDelete{"delete", "ID", 1, 1, {}, {}, false};
const DebugVerbShape kBreaks{"breaks", "[--elf FILE]", 0, 0, {}, {kElf}, false};

/// "0x00000400 (on_tick)", or where the target has no PC to give.
std::string where(const RunState& state, const SymbolTable* symbols)
{
    return state.pc ? placeText(*state.pc, symbols) : "an unknown place";
}

/// Prints a stop as `line`, after what contextException said of it, and makes it the data.
int printStop(CliContext& context, const DebugCall& call, const RunState& state, const std::string& line,
              const std::string& exception = "")
{
    auto data = stopData(state, call.symbols);
    if (!exception.empty())
        data["exception"] = exception;
    if (!context.json)
        context.out << (exception.empty() ? "" : "exception: " + exception + "\n") << line << "\n";
    printData(context, std::move(data), call.target);
    return ExitCode::Ok;
}

int haltVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kHalt);
    StopListener listener(context, call.target);
    const auto reply = context.client.call(kRunControl, "suspend", {jsonText(call.target)});
    // A halt of a halted target is no failure: it is where it was asked to be.
    const bool already = errorCodeOf(reply) == kAlreadyStopped;
    if (!already)
        checkedValues(context, reply, "RunControl suspend", "halt");
    RunState state;
    if (already) {
        state = stateOf(context, call.target, "halt");
    } else {
        switch (listener.wait(std::chrono::milliseconds(kHaltTime))) {
        case StopListener::Outcome::Interrupted: return interrupted(context, "halt");
        case StopListener::Outcome::Stopped: state = listener.stop(); break;
        case StopListener::Outcome::Exception:
        case StopListener::Outcome::TimedOut:
            state = stateOf(context, call.target, "halt");
            if (!state.suspended)
                throw ReplyError("halt: " + call.target + " was asked to stop, but did not within " +
                                 std::to_string(kHaltTime.count()) + " s");
        }
    }
    const std::string line = already                       ? "halted already: " + describeStop(state, call.symbols)
                             : state.reason == "Suspended" ? "halted at " + where(state, call.symbols)
                                                           : "stopped: " + describeStop(state, call.symbols);
    return printStop(context, call, state, line);
}

int resumeVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kResume);
    callChecked(context, kRunControl, "resume", {jsonText(call.target), std::to_string(kRun), "1"}, "resume");
    if (!context.json)
        context.out << "running\n";
    printData(context, {{"suspended", false}}, call.target);
    return ExitCode::Ok;
}

int stepVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kStep);
    const std::uint64_t count = call.arguments.words.empty() ? 1 : numberArgument(call.arguments.words[0], "step", "N");
    if (count < 1 || count > kMaxSteps)
        throw UsageError("step runs 1 to " + std::to_string(kMaxSteps) + " instructions, not " + std::to_string(count));
    StopListener listener(context, call.target);
    callChecked(context, kRunControl, "resume",
                {jsonText(call.target), std::to_string(kStepInto), std::to_string(count)}, "step");
    // Steps end with a stop, whatever ends them: the last step, a breakpoint, a fault; or, when
    // the target did not stop, with an exception.
    switch (listener.wait(std::nullopt)) {
    case StopListener::Outcome::Interrupted: return interrupted(context, "step");
    case StopListener::Outcome::Exception: throw ReplyError("step: " + listener.exception());
    default: break;
    }
    const auto state = listener.stop();
    const std::string line =
        state.reason == "Step"
            ? "stepped " + (count == 1 ? "" : std::to_string(count) + " instructions ") + "to " + where(state, call.symbols)
            : "stopped: " + describeStop(state, call.symbols);
    return printStop(context, call, state, line, listener.exception());
}

int resetVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kReset);
    const bool halt = call.arguments.flags.count("--halt") != 0;
    // A reset is the tool's: its special operation, which leaves the target halted or running as
    // its driver does; then it is made so as asked.
    const auto device = callChecked(context, "Device", "getContext", {jsonText(call.target)}, "reset").at(1);
    const auto* tool = device.is_object() ? device.get_object().if_contains("Tool") : nullptr;
    const std::string toolId =
        tool && tool->is_string() ? std::string(tool->get_string()) : call.target.substr(0, call.target.find('.'));
    callChecked(context, "Tool", "SpecialOperation", {jsonText(toolId), jsonText("reset"), "{}"}, "reset");
    auto state = stateOf(context, call.target, "reset");
    if (!halt) {
        if (state.suspended)
            callChecked(context, kRunControl, "resume", {jsonText(call.target), std::to_string(kRun), "1"}, "reset");
        if (!context.json)
            context.out << "reset; running\n";
        printData(context, {{"suspended", false}}, call.target);
        return ExitCode::Ok;
    }
    if (!state.suspended) {
        StopListener listener(context, call.target);
        callChecked(context, kRunControl, "suspend", {jsonText(call.target)}, "reset");
        if (listener.wait(std::chrono::milliseconds(kHaltTime)) == StopListener::Outcome::Interrupted)
            return interrupted(context, "reset");
        state = stateOf(context, call.target, "reset");
    }
    return printStop(context, call, state, "reset; halted at " + where(state, call.symbols));
}

/// The frames of a suspended target's stack, top first, as `state` shows them; none where the
/// back-end has no StackTrace.
boost::json::array framesOf(CliContext& context, const DebugCall& call)
{
    boost::json::array frames;
    if (!contains(context.client.peerServices(), kStackTrace))
        return frames;
    const auto ids = callChecked(context, kStackTrace, "getChildren", {jsonText(call.target)}, "state").at(1);
    if (!ids.is_array() || ids.get_array().empty())
        return frames;
    // Its reply has the data first, then the error slot.
    const auto values = callChecked(context, kStackTrace, "getContext", {jsonText(ids)}, "state");
    std::vector<boost::json::object> found;
    for (const auto& frame : values.at(0).as_array())
        if (frame.is_object())
            found.push_back(frame.get_object());
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return numberOf(a.at("Index")) < numberOf(b.at("Index"));
    });
    for (const auto& frame : found) {
        const auto* ip = frame.if_contains("IP");
        const std::string symbol = ip && call.symbols ? call.symbols->placeOf(numberOf(*ip)) : "";
        frames.push_back({{"index", frame.at("Index")},
                          {"ip", ip ? *ip : boost::json::value()},
                          {"symbol", symbol.empty() ? boost::json::value() : boost::json::value(symbol)}});
    }
    return frames;
}

int stateVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kState);
    const auto state = stateOf(context, call.target, "state");
    if (!state.suspended) {
        if (!context.json)
            context.out << "running\n";
        printData(context, stopData(state, call.symbols), call.target);
        return ExitCode::Ok;
    }
    const auto frames = framesOf(context, call);
    auto data = stopData(state, call.symbols);
    data["frames"] = frames;
    if (!context.json) {
        context.out << "stopped: " << describeStop(state, call.symbols) << "\n";
        for (const auto& frame : frames)
            context.out << "  #" << textOf(frame.at("index")) << "  "
                        << (frame.at("ip").is_null() ? "?" : placeText(numberOf(frame.at("ip")), call.symbols)) << "\n";
    }
    printData(context, std::move(data), call.target);
    return ExitCode::Ok;
}

int waitVerb(CliContext& context, const std::vector<std::string>& words)
{
    const auto call = readCall(context, words, kWait);
    std::optional<std::chrono::milliseconds> timeout;
    if (const auto given = call.arguments.options.find("--timeout"); given != call.arguments.options.end()) {
        char* end = nullptr;
        const double seconds = std::strtod(given->second.c_str(), &end);
        if (given->second.empty() || *end != '\0' || !(seconds >= 0 && seconds <= 86400))
            throw UsageError("wait --timeout needs a number of seconds (0 to 86400), not '" + given->second + "'");
        timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    // Listening first, then asking: a stop between the two is heard, not missed.
    StopListener listener(context, call.target);
    auto state = stateOf(context, call.target, "wait");
    if (!state.suspended) {
        // A person at a terminal sees that it waits, and how to stop waiting.
        if (!context.json && isatty(STDERR_FILENO))
            context.err << "waiting for " << call.target << " to stop (Ctrl-C ends the wait)" << std::endl;
        switch (listener.wait(timeout)) {
        case StopListener::Outcome::Interrupted: return interrupted(context, "wait");
        case StopListener::Outcome::TimedOut:
            errorOut(context) << "wait: " << call.target << " still runs after " << call.arguments.options.at("--timeout")
                              << " s\n";
            return ExitCode::ErrorReply;
        case StopListener::Outcome::Exception:
            throw ReplyError("wait: " + listener.exception() + " (" + call.target + " may still run: state says)");
        case StopListener::Outcome::Stopped: state = listener.stop(); break;
        }
    }
    return printStop(context, call, state, "stopped: " + describeStop(state, call.symbols), listener.exception());
}

// ---------------------------------------------------------------------------------------------
// Breakpoints

/// A verb that sets a breakpoint refuses to run alone: what it sets would go with its connection
/// as the verb ends.
void requireSession(CliContext& context, const std::string& verb)
{
    if (!context.session)
        throw UsageError(verb + ": a breakpoint lasts as long as the connection of the client that set it, and a verb "
                                "run alone closes its connection as it ends; set it inside `hilcore-cli shell` or a "
                                "script run by `hilcore-cli run FILE`, where it lasts for the session "
                                "(docs/debugging.md)");
}

/// Why the breakpoint is not planted on the target, from its status; empty when it is.
std::string statusProblem(const boost::json::value& status, const std::string& target)
{
    if (!status.is_object())
        return "its status cannot be read";
    const auto& object = status.get_object();
    if (const auto* error = object.if_contains("Error"); error && error->is_string() && !error->get_string().empty())
        return std::string(error->get_string());
    const auto* instances = object.if_contains("Instances");
    if (instances && instances->is_array())
        for (const auto& instance : instances->get_array()) {
            if (!instance.is_object() || textOf(instance.get_object().if_contains("LocationContext")
                                                    ? instance.at("LocationContext")
                                                    : boost::json::value()) != target)
                continue;
            const auto* error = instance.get_object().if_contains("Error");
            return error && error->is_string() ? std::string(error->get_string()) : "";
        }
    return "it is planted on no target";
}

/// Adds this client's next breakpoint on the call's target with `properties`, checks that it is
/// planted (one that is not goes again, and the verb fails with why), sets $bp to its number.
int addBreakpoint(CliContext& context, const DebugCall& call, boost::json::object properties, std::uint64_t address,
                  const std::string& verb, const std::string& noun, const std::string& detail = "")
{
    // One process is one client: its numbers run on while it lives.
    static int lastNumber = 0;
    const int number = ++lastNumber;
    const std::string id = breakpointWireId(number);
    properties["ID"] = id;
    properties["Enabled"] = true;
    properties["Location"] = hexText(address);
    properties["ContextIds"] = boost::json::array{boost::json::value(call.target)};
    try {
        callChecked(context, kBreakpoints, "add", {jsonText(properties)}, verb);
    } catch (const ReplyError& error) {
        // The back-end names the breakpoint by its id on the wire; people know it by its number.
        std::string message = error.what();
        for (auto at = message.find(jsonText(id)); at != std::string::npos; at = message.find(jsonText(id)))
            message.replace(at, jsonText(id).size(), std::to_string(number));
        throw ReplyError(message);
    }
    const auto status = callChecked(context, kBreakpoints, "getStatus", {jsonText(id)}, verb).at(1);
    if (const auto problem = statusProblem(status, call.target); !problem.empty()) {
        callChecked(context, kBreakpoints, "remove", {jsonText(boost::json::array{boost::json::value(id)})}, verb);
        throw ReplyError(verb + ": " + problem + " (nothing was set)");
    }
    std::string type;
    for (const auto& instance : status.at("Instances").as_array())
        if (const auto* taken = instance.get_object().if_contains("BreakpointType"); taken && taken->is_string())
            type = std::string(taken->get_string());
    context.variables["bp"] = std::to_string(number);
    if (!context.json)
        context.out << noun << " " << number << " at " << placeText(address, call.symbols) << ", " << detail
                    << (detail.empty() ? "" : ", ") << type << "\n";
    const std::string symbol = call.symbols ? call.symbols->placeOf(address) : "";
    printData(context,
              {{"id", number}, {"breakpoint", id}, {"address", address}, {"type", type},
               {"symbol", symbol.empty() ? boost::json::value() : boost::json::value(symbol)}},
              call.target);
    return ExitCode::Ok;
}

int breakVerb(CliContext& context, const std::vector<std::string>& words)
{
    requireSession(context, "break");
    requireService(context, kBreakpoints, "break");
    const auto call = readCall(context, words, kBreak);
    const auto& flags = call.arguments.flags;
    if (flags.count("--hw") && flags.count("--sw"))
        throw UsageError("break takes --hw or --sw, not both");
    const std::uint64_t address = addressArgument(call.arguments.words[0], call.symbols, "break");
    const std::string type = flags.count("--hw") ? "Hardware" : flags.count("--sw") ? "Software" : "Auto";
    return addBreakpoint(context, call, {{"BreakpointType", type}, {"AccessMode", kExecute}}, address, "break",
                         "breakpoint");
}

/// The access modes of `watch-data`, by their letters.
struct AccessWord {
    const char* letter;
    int mode;
    const char* name;
};
constexpr AccessWord kAccessWords[] = {{"r", kRead, "read"}, {"w", kWrite, "write"}, {"a", kRead | kWrite, "access"}};

std::string accessName(int mode)
{
    for (const auto& word : kAccessWords)
        if (word.mode == mode)
            return word.name;
    return "access mode " + std::to_string(mode);
}

int watchDataVerb(CliContext& context, const std::vector<std::string>& words)
{
    requireSession(context, "watch-data");
    requireService(context, kBreakpoints, "watch-data");
    const auto call = readCall(context, words, kWatchData);
    const auto& given = call.arguments.words;
    const std::uint64_t address = addressArgument(given[0], call.symbols, "watch-data");
    const std::uint64_t size = numberArgument(given[1], "watch-data", "SIZE");
    if (size != 1 && size != 2 && size != 4 && size != 8)
        throw UsageError("watch-data watches 1, 2, 4 or 8 bytes, not " + given[1]);
    int mode = kWrite;
    if (given.size() == 3) {
        const auto* word = std::find_if(std::begin(kAccessWords), std::end(kAccessWords),
                                        [&](const AccessWord& w) { return given[2] == w.letter; });
        if (word == std::end(kAccessWords))
            throw UsageError("watch-data stops on r (reads), w (writes) or a (both), not '" + given[2] + "'");
        mode = word->mode;
    }
    return addBreakpoint(context, call, {{"AccessMode", mode}, {"Size", size}}, address, "watch-data", "watchpoint",
                         accessName(mode) + " " + std::to_string(size) + " byte(s)");
}

/// The breakpoint ids of every client.
std::vector<std::string> breakpointIds(CliContext& context, const std::string& verb)
{
    // getIDs is the one command that carries no argument at all.
    const auto values = callChecked(context, kBreakpoints, "getIDs", {}, verb);
    std::vector<std::string> ids;
    for (const auto& id : values.at(1).as_array())
        ids.emplace_back(id.as_string());
    return ids;
}

int deleteVerb(CliContext& context, const std::vector<std::string>& words)
{
    requireService(context, kBreakpoints, "delete");
    const auto arguments = readDebugArguments(words, kDelete, [](const std::string&) { return false; });
    const std::string& given = arguments.words[0];
    const auto number = parseUnsigned(given);
    const std::string id = number && *number <= 1000000000 ? breakpointWireId(static_cast<int>(*number)) : given;
    if (!contains(breakpointIds(context, "delete"), id))
        throw ReplyError("delete: this client has no breakpoint " + given +
                         " (breaks lists them; a breakpoint goes with the client that set it)");
    callChecked(context, kBreakpoints, "remove", {jsonText(boost::json::array{boost::json::value(id)})}, "delete");
    if (!context.json)
        context.out << "breakpoint " << given << " deleted\n";
    return ExitCode::Ok;
}

int breaksVerb(CliContext& context, const std::vector<std::string>& words)
{
    requireService(context, kBreakpoints, "breaks");
    const auto arguments = readDebugArguments(words, kBreaks, [](const std::string&) { return false; });
    const SymbolTable* symbols = symbolsFor(context, arguments);
    std::vector<std::pair<int, std::string>> ours;
    for (const auto& id : breakpointIds(context, "breaks"))
        if (const auto number = breakpointNumber(id))
            ours.emplace_back(*number, id);
    std::sort(ours.begin(), ours.end());
    boost::json::array list;
    std::vector<std::vector<std::string>> rows;
    for (const auto& [number, id] : ours) {
        const auto properties = callChecked(context, kBreakpoints, "getProperties", {jsonText(id)}, "breaks").at(1).as_object();
        const auto status = callChecked(context, kBreakpoints, "getStatus", {jsonText(id)}, "breaks").at(1);
        const int mode = properties.contains("AccessMode") ? static_cast<int>(numberOf(properties.at("AccessMode"))) : kExecute;
        std::optional<std::uint64_t> address;
        if (const auto* location = properties.if_contains("Location"); location && location->is_string())
            address = parseUnsigned(std::string(location->get_string()));
        std::string type = properties.contains("BreakpointType") ? textOf(properties.at("BreakpointType")) : "Auto";
        std::uint64_t hits = 0;
        for (const auto& instance : status.at("Instances").as_array()) {
            const auto& fields = instance.as_object();
            if (const auto* at = fields.if_contains("Address"))
                address = numberOf(*at);
            if (const auto* taken = fields.if_contains("BreakpointType"); taken && taken->is_string())
                type = std::string(taken->get_string());
            if (const auto* count = fields.if_contains("HitCount"))
                hits += numberOf(*count);
        }
        const std::string kind = mode == kExecute ? "break"
                                                  : accessName(mode) + " " + textOf(properties.contains("Size")
                                                                                         ? properties.at("Size")
                                                                                         : boost::json::value(4)) +
                                                        " byte(s)";
        const std::string problem = statusProblem(status, properties.contains("ContextIds") &&
                                                                  properties.at("ContextIds").is_array() &&
                                                                  !properties.at("ContextIds").get_array().empty()
                                                              ? textOf(properties.at("ContextIds").get_array()[0])
                                                              : "");
        rows.push_back({std::to_string(number), kind, address ? placeText(*address, symbols) : "?", type,
                        std::to_string(hits) + " hit(s)" + (problem.empty() ? "" : "  not planted: " + problem)});
        const std::string symbol = address && symbols ? symbols->placeOf(*address) : "";
        list.push_back({{"id", number},
                        {"breakpoint", id},
                        {"kind", mode == kExecute ? "break" : accessName(mode)},
                        {"address", address ? boost::json::value(*address) : boost::json::value()},
                        {"symbol", symbol.empty() ? boost::json::value() : boost::json::value(symbol)},
                        {"type", type},
                        {"hits", hits},
                        {"error", problem.empty() ? boost::json::value() : boost::json::value(problem)}});
    }
    if (!context.json) {
        if (rows.empty())
            context.out << (context.session ? "no breakpoints\n"
                                            : "no breakpoints (a breakpoint goes with the client that set it: set and "
                                              "list them inside `hilcore-cli shell`)\n");
        else
            context.out << alignedRows(rows, {3, 16, 12, 8});
    }
    setData(context, std::move(list));
    return ExitCode::Ok;
}

} // namespace

namespace {

std::string debugDetails()
{
    return "TARGET is a device id (gdbremote-1.MPS2-AN385) or the name of a kept target; without it, the one target\n"
           "with run control (targets behind a GDB server have it, a simulator's do not). --elf FILE names the ELF\n"
           "file of the firmware: SYMBOL is a function or variable of it, and places are shown with the symbol that\n"
           "holds them; in a shell the last --elf serves the later lines too. A breakpoint belongs to the client\n"
           "that set it: break and watch-data run in `shell` or `run FILE` only, where $bp is the last one's\n"
           "number and the breakpoints last until the session ends. docs/debugging.md has a session on QEMU.";
}

} // namespace

void addRunControlVerbs(VerbTable& table)
{
    const auto add = [&](const DebugVerbShape& shape, const std::string& help,
                         std::function<int(CliContext&, const std::vector<std::string>&)> run) {
        table.insert({shape.verb, {shape.usage, help, std::move(run), true, debugDetails}});
    };
    add(kHalt, "stop the target and say where (TARGET: a device id or a kept target's name; without it, the only "
               "target with run control)",
        haltVerb);
    add(kResume, "let the target run", resumeVerb);
    add(kStep, "run N instructions (1 to 100000, default 1) and say where the target stopped", stepVerb);
    add(kReset, "reset the target through its tool; it runs afterwards, or stays halted with --halt", resetVerb);
    add(kState, "say whether the target runs, or why and where it stopped, with its stack", stateVerb);
    add(kWait, "wait until the target stops and say why and where (at once when it is stopped already); "
               "Ctrl-C ends the wait, --timeout fails it after SECONDS",
        waitVerb);
    add(kBreak, "set a breakpoint at an address, or at a function of the ELF file --elf names; --hw asks for a "
                "hardware one, --sw for a software one (in a shell or script only: it goes with the connection)",
        breakVerb);
    add(kWatchData, "stop when the target writes (w, the default), reads (r) or does either (a) to SIZE bytes "
                    "(1, 2, 4 or 8) at ADDRESS (in a shell or script only)",
        watchDataVerb);
    add(kDelete, "delete breakpoint ID (its number, as break printed it)", deleteVerb);
    add(kBreaks, "list this client's breakpoints and watchpoints: address, type, hits", breaksVerb);
}

} // namespace hil::cli
