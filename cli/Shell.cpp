// SPDX-License-Identifier: Apache-2.0
// Verbs line by line over one connection: the shell, scripts, and the words of a line.

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <unistd.h>

#include <editline/readline.h>

#include "cli/CliCommands.h"
#include "cli/StopRequests.h"

namespace hil::cli {

std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '#' && !inWord) {
            break; // a comment, to the end of the line
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        throw UsageError(std::string("unterminated ") + quote + " quote");
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::string substituteVariables(const std::string& word, const std::map<std::string, std::string>& variables)
{
    std::string result;
    for (std::size_t at = 0; at < word.size();) {
        const std::size_t end = word[at] == '$' ? word.find_first_not_of(
                                                      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_", at + 1)
                                                : at;
        const std::string name = word.substr(at + 1, (end == std::string::npos ? word.size() : end) - at - 1);
        if (word[at] != '$' || name.empty()) {
            result += word[at++];
            continue;
        }
        const auto variable = variables.find(name);
        if (variable == variables.end())
            throw UsageError("$" + name + " is not set (setup sets $tool)");
        result += variable->second;
        at = end == std::string::npos ? word.size() : end;
    }
    return result;
}

namespace {

/// Gives the next line of the input; false at its end.
using LineReader = std::function<bool(std::string& line)>;

int runLines(CliContext& context, const LineReader& nextLine, ShellMode mode, const std::string& source)
{
    const bool goesOn = mode == ShellMode::Interactive || mode == ShellMode::ScriptKeepingGoing;
    // What a line leaves with the client lives on to the next: the tour runs two scripts in one.
    const bool wasSession = context.session;
    context.session = true;
    int lastFailure = ExitCode::Ok;
    std::string line;
    int lineNumber = 0;
    while (nextLine(line)) {
        ++lineNumber;
        // A script's errors say where it went wrong; a person sees the line they just typed.
        context.location =
            mode == ShellMode::Script || mode == ShellMode::ScriptKeepingGoing ? (source.empty() ? "" : source + " ") + "line " + std::to_string(lineNumber) + ": "
                                      : "";
        int result = ExitCode::Ok;
        try {
            auto words = splitWords(line);
            // The narration is for people: with --json each step is its object alone.
            if (mode == ShellMode::Tour && !line.empty() && !context.json)
                context.out << (line.front() == '#' ? "\n" + line : "$ " + substituteVariables(line, context.variables)) << "\n";
            if (words.empty())
                continue;
            const std::string verb = words[0];
            if (verb == "quit" || verb == "exit")
                break;
            if (verb == "shell" || verb == "tour" || verb == "run")
                throw UsageError(verb + " cannot run inside a shell");
            words.erase(words.begin());
            for (auto& word : words)
                word = substituteVariables(word, context.variables);
            result = runVerb(context, verb, words);
        } catch (const UsageError& error) {
            result = reportFailure(context, ExitCode::Usage, error.what());
        }
        if (stopRequested())
            result = ExitCode::Interrupted;
        if (result == ExitCode::Ok)
            continue;
        lastFailure = result;
        // A script stops at its first failure, as `set -e` would; a person goes on typing.
        if (!goesOn || result == ExitCode::Connection || result == ExitCode::Interrupted)
            break;
    }
    context.location.clear();
    context.session = wasSession;
    return lastFailure;
}

/// Where a person's lines are kept between shells.
std::filesystem::path historyFile()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data && *data)
        return std::filesystem::path(data) / "hilcore" / "history";
    return home && *home ? std::filesystem::path(home) / ".local" / "share" / "hilcore" / "history"
                         : std::filesystem::path();
}

/// What the completion of the line being edited offers; it runs inside the line editor, which
/// knows no context of ours.
struct Completion {
    CliContext* context = nullptr;
    std::vector<std::string> candidates;
    std::size_t next = 0;
};
Completion completion;

/// The ids of the contexts the back-end has now: tools, devices, and the memory and register
/// contexts of each device. Nothing when it does not answer.
std::vector<std::string> contextIds(CliContext& context)
{
    std::vector<std::string> ids;
    const auto childrenOf = [&](const std::string& service, const std::string& parent) {
        std::vector<std::string> children;
        const auto reply = context.client.call(service, "getChildren", {jsonText(parent)});
        if (reply.recognised && reply.values.size() >= 2)
            if (const auto list = parseOrNull(reply.values[1]); list.is_array())
                for (const auto& id : list.get_array())
                    if (id.is_string())
                        children.emplace_back(id.get_string());
        return children;
    };
    try {
        for (const auto& tool : childrenOf("Tool", ""))
            ids.push_back(tool);
        for (const auto& device : childrenOf("Device", "")) {
            ids.push_back(device);
            for (const auto* service : {"Memory", "Registers"})
                for (const auto& child : childrenOf(service, device))
                    ids.push_back(child);
        }
    } catch (const std::exception&) {
        // Completion offers what it has; the verb itself will say what is wrong.
    }
    return ids;
}

char* nextCandidate(const char* text, int state)
{
    if (state == 0)
        completion.next = 0;
    const std::string prefix(text);
    while (completion.next < completion.candidates.size()) {
        const std::string& candidate = completion.candidates[completion.next++];
        if (candidate.rfind(prefix, 0) == 0)
            return strdup(candidate.c_str()); // the editor frees it
    }
    return nullptr;
}

/// Verbs for the first word, context ids for the others.
char** completeWord(const char* text, int start, int)
{
    completion.candidates.clear();
    if (start == 0) {
        for (const auto& [name, verb] : verbTable())
            completion.candidates.push_back(name);
        completion.candidates.insert(completion.candidates.end(), {"quit", "exit"});
    } else if (completion.context) {
        completion.candidates = contextIds(*completion.context);
    }
    rl_attempted_completion_over = 1; // no file names
    return rl_completion_matches(text, nextCandidate);
}

/// A person at a terminal: line editing, completion, and the history of earlier shells.
int runInteractive(CliContext& context)
{
    const auto history = historyFile();
    std::error_code ignored;
    if (!history.empty()) {
        std::filesystem::create_directories(history.parent_path(), ignored);
        read_history(history.c_str());
    }
    completion.context = &context;
    rl_attempted_completion_function = completeWord;
    const int result = runLines(
        context,
        [](std::string& line) {
            char* typed = readline("hil> ");
            if (!typed)
                return false;
            line = typed;
            if (!line.empty())
                add_history(typed);
            std::free(typed);
            return true;
        },
        ShellMode::Interactive, "");
    completion.context = nullptr;
    if (!history.empty())
        write_history(history.c_str());
    return result;
}

} // namespace

int runShell(CliContext& context, std::istream& input, ShellMode mode, const std::string& source)
{
    return runLines(
        context, [&](std::string& line) { return static_cast<bool>(std::getline(input, line)); }, mode, source);
}

namespace {

const std::string kKeepGoing = "--keep-going";

/// Script mode, or with --keep-going (the last of `arguments`, taken off) the mode that goes on.
ShellMode scriptMode(std::vector<std::string>& arguments)
{
    if (arguments.empty() || arguments.back() != kKeepGoing)
        return ShellMode::Script;
    arguments.pop_back();
    return ShellMode::ScriptKeepingGoing;
}

int shellVerb(CliContext& context, const std::vector<std::string>& given)
{
    auto arguments = given;
    const ShellMode mode = scriptMode(arguments);
    requireArguments(arguments, 0, 0, "shell", "no arguments, or " + kKeepGoing);
    return isatty(STDIN_FILENO) != 0 ? runInteractive(context) : runShell(context, std::cin, mode);
}

int runVerbFile(CliContext& context, const std::vector<std::string>& given)
{
    auto arguments = given;
    const ShellMode mode = scriptMode(arguments);
    requireArguments(arguments, 1, 1, "run", "FILE [" + kKeepGoing + "]");
    std::ifstream script(arguments[0]);
    if (!script)
        throw FileAccessError("run cannot read " + arguments[0]);
    return runShell(context, script, mode, arguments[0]);
}

} // namespace

void addShellVerbs(VerbTable& table)
{
    table.insert({"shell", {"[--keep-going]",
                            "run verbs read from standard input, one per line, over one connection (tools set "
                            "up live until it ends, so a script that stops tears its targets down; a script "
                            "stops at its first failure unless --keep-going, and exits with the last failure's "
                            "code; at a terminal: line editing, completion, history; quit or exit ends it)",
                            shellVerb}});
    table.insert({"run", {"FILE [--keep-going]", "run the verbs of FILE as shell does, over one connection", runVerbFile}});
}

} // namespace hil::cli
