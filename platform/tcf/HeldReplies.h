// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace hil::tcf {

/// Sends at once the replies that the commands already run on this thread's channel hold back,
/// to go out in one write with the rest of their read. Call before waiting on something slow (a
/// target, a GDB server, a process starting): a quick command pipelined ahead of a slow one then
/// has its reply meanwhile. Does nothing on a thread that is not running a channel's commands.
void sendHeldReplies();

} // namespace hil::tcf
