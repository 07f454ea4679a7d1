// SPDX-License-Identifier: Apache-2.0
// Every shell block of the README and of the CLI's guide runs, as written, against a real
// back-end: neither can go stale without this test failing. And every source file names its
// licence.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <boost/json.hpp>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

struct ShellBlock {
    int line; ///< where it starts in its document
    std::string text;
};

/// The ```sh blocks of a document, but those that build and run the project itself.
std::vector<ShellBlock> shellBlocks(const std::string& document)
{
    std::ifstream readme(std::string(HIL_SOURCE_DIR) + "/" + document);
    std::vector<ShellBlock> blocks;
    std::string line;
    int number = 0;
    bool inside = false;
    while (std::getline(readme, line)) {
        ++number;
        if (!inside && line == "```sh") {
            inside = true;
            blocks.push_back({number, ""});
        } else if (inside && line == "```") {
            inside = false;
        } else if (inside && line.rfind("cli=", 0) != 0) {
            // The README's own "cli=..." would replace the one the test gives.
            blocks.back().text += line + "\n";
        }
    }
    std::erase_if(blocks, [](const ShellBlock& block) { return block.text.find("scripts/") != std::string::npos; });
    return blocks;
}

/// Whether every line of a block that calls the CLI asks for JSON.
bool everyCallIsJson(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    bool any = false;
    while (std::getline(lines, line))
        if (line.rfind("$cli", 0) == 0) {
            if (line.find("--json") == std::string::npos)
                return false;
            any = true;
        }
    return any;
}

/// What a block run with --json prints: each line one object, a verb's data without an error,
/// or an event as it came.
void expectOneObjectALine(const std::string& output, const std::string& where)
{
    std::istringstream lines(output);
    std::string line;
    int objects = 0;
    while (std::getline(lines, line)) {
        boost::system::error_code error;
        const auto value = boost::json::parse(line, error);
        ASSERT_FALSE(error) << where << ": not JSON: " << line;
        ASSERT_TRUE(value.is_object()) << where << ": " << line;
        const auto& object = value.get_object();
        EXPECT_TRUE((object.contains("data") && !object.contains("error")) ||
                    (object.contains("service") && object.contains("event")))
            << where << ": " << line;
        ++objects;
    }
    EXPECT_GT(objects, 0) << where;
}

struct Document {
    std::string name;
    std::string path;
    std::size_t blocks; ///< at least this many: a document read wrong would have none
    friend void PrintTo(const Document& value, std::ostream* out) { *out << value.path; }
};

class DocumentTest : public testing::TestWithParam<Document> {};

TEST_P(DocumentTest, EveryShellBlockRunsAsWritten)
{
    const auto blocks = shellBlocks(GetParam().path);
    ASSERT_GE(blocks.size(), GetParam().blocks);
    // The scripts run where a checkout would be: "build/release/probes" is the back-end's probe
    // directory, as in the README.
    fakes::TempDirectory checkout;
    BackendProcess backend(BackendProcess::withProbeDirectory(checkout.path() / "build" / "release"));
    // "watch" runs until Ctrl-C: here it gets one after three seconds and ends as it would.
    const std::string cli = "timeout --preserve-status -s INT 3 " + std::string(HIL_CLI_PATH) +
                            " --connect 127.0.0.1:" + std::to_string(backend.port());
    for (const auto& block : blocks) {
        const auto script = checkout.write("block.sh", block.text);
        const std::string command = "cd '" + checkout.path().string() + "' && cli='" + cli + "' bash -e -o pipefail " +
                                    script.string();
        const auto run = runCommand(command);
        const std::string where = GetParam().path + " line " + std::to_string(block.line);
        EXPECT_EQ(run.exitCode, 0) << where << ":\n" << block.text << "printed:\n" << run.output;
        EXPECT_EQ(run.output.find("error:"), std::string::npos) << where << ":\n" << run.output;
        if (everyCallIsJson(block.text))
            expectOneObjectALine(run.output, where);
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, DocumentTest,
                         testing::Values(Document{"Readme", "README.md", 6}, Document{"CliGuide", "docs/cli.md", 6}),
                         [](const auto& info) { return info.param.name; });

TEST(Licence, EverySourceFileNamesIt)
{
    const auto listed = runCommand("git -C " HIL_SOURCE_DIR " ls-files '*.cpp' '*.h' '*CMakeLists.txt' '*.cmake' "
                                   "'*.cmake.in' 'scripts/*' .ci/run");
    if (listed.exitCode != 0)
        GTEST_SKIP() << "not a git checkout";
    std::istringstream files(listed.output);
    int checked = 0;
    for (std::string file; std::getline(files, file); ++checked) {
        std::ifstream in(std::string(HIL_SOURCE_DIR) + "/" + file);
        std::string head, line;
        for (int i = 0; i < 3 && std::getline(in, line); ++i)
            head += line + "\n";
        EXPECT_THAT(head, testing::HasSubstr("SPDX-License-Identifier: Apache-2.0")) << file;
    }
    EXPECT_GT(checked, 300);
}

} // namespace
} // namespace hil::e2e
