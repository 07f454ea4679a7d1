// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace hil {

/// `path` with a leading "~" (alone or as "~/") replaced by the user's home folder ($HOME, or the
/// temporary folder when it is unset); any other path unchanged.
std::string expandHome(const std::string& path);

} // namespace hil
