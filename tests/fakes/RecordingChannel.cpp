// SPDX-License-Identifier: Apache-2.0
#include "tests/fakes/RecordingChannel.h"

#include <gtest/gtest.h>

namespace hil::fakes {

std::vector<std::string> call(ICommandServer& server, RecordingChannel& channel, const std::string& command,
                              const std::vector<std::string>& arguments)
{
    const std::size_t before = channel.replies.size();
    const tcf::Token token("T" + std::to_string(before));
    server.handleCommand(channel, token, command, arguments);
    EXPECT_EQ(channel.replies.size(), before + 1) << command << " must reply exactly once";
    if (channel.replies.size() != before + 1)
        return {};
    EXPECT_EQ(channel.replies.back().token, token);
    return channel.replies.back().values;
}

} // namespace hil::fakes
