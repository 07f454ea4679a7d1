// Every shell block of the README runs, as written, against a real back-end: the README cannot
// go stale without this test failing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

struct ShellBlock {
    int line; ///< where it starts in the README
    std::string text;
};

/// The ```sh blocks of the README, but the one that builds and runs the project itself.
std::vector<ShellBlock> readmeShellBlocks()
{
    std::ifstream readme(std::string(HIL_SOURCE_DIR) + "/README.md");
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

TEST(ReadmeTest, EveryShellBlockRunsAsWritten)
{
    const auto blocks = readmeShellBlocks();
    ASSERT_GE(blocks.size(), 6u);
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
        EXPECT_EQ(run.exitCode, 0) << "README line " << block.line << ":\n" << block.text << "printed:\n" << run.output;
        EXPECT_EQ(run.output.find("error:"), std::string::npos) << "README line " << block.line << ":\n" << run.output;
    }
}

} // namespace
} // namespace hil::e2e
