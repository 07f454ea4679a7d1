// Verbs line by line over one connection: the shell, scripts, and the words of a line.

#include <iostream>
#include <unistd.h>

#include "cli/CliCommands.h"

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

int runShell(CliContext& context, std::istream& input, ShellMode mode)
{
    const bool interactive = mode == ShellMode::Interactive;
    int lastFailure = ExitCode::Ok;
    std::string line;
    int lineNumber = 0;
    while ((interactive && context.out << "hil> " << std::flush), std::getline(input, line)) {
        ++lineNumber;
        // A script's errors say where it went wrong; a person sees the line they just typed.
        context.location = mode == ShellMode::Script ? "line " + std::to_string(lineNumber) + ": " : "";
        int result = ExitCode::Ok;
        try {
            auto words = splitWords(line);
            if (mode == ShellMode::Tour && !line.empty())
                context.out << (line.front() == '#' ? "\n" + line : "$ " + substituteVariables(line, context.variables)) << "\n";
            if (words.empty())
                continue;
            const std::string verb = words[0];
            if (verb == "shell" || verb == "tour")
                throw UsageError(verb + " cannot run inside a shell");
            words.erase(words.begin());
            for (auto& word : words)
                word = substituteVariables(word, context.variables);
            result = runVerb(context, verb, words);
        } catch (const UsageError& error) {
            errorOut(context) << error.what() << "\n";
            result = ExitCode::Usage;
        }
        if (result == ExitCode::Ok)
            continue;
        lastFailure = result;
        // A script stops at its first failure, as `set -e` would; a person goes on typing.
        if (!interactive || result == ExitCode::Connection)
            break;
    }
    context.location.clear();
    return lastFailure;
}

namespace {

int shellVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "shell", "no arguments");
    return runShell(context, std::cin, isatty(STDIN_FILENO) != 0 ? ShellMode::Interactive : ShellMode::Script);
}

} // namespace

void addShellVerbs(VerbTable& table)
{
    table.insert({"shell", {"", "run verbs read from standard input, one per line, over one connection "
                                "(tools set up live until it ends; a script stops at its first failure)",
                            shellVerb}});
}

} // namespace hil::cli
