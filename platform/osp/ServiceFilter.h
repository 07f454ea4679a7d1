// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "platform/osp/Properties.h"

namespace hil::osp {

/// A compiled registry query.
///
/// Grammar: `expr := and ("||" and)*`, `and := term ("&&" term)*`,
/// `term := NAME ("==" | "!=") QUOTED | "(" expr ")"`, where NAME is letters, digits, '.', '_'
/// and '-', and QUOTED a text in double quotes with \" and \\ as escapes. Spaces between tokens
/// are ignored. `&&` binds tighter than `||`. A property that is absent compares unequal.
class ServiceFilter {
public:
    /// Compiles `text`; throws `Poco::SyntaxException` naming the position of the first fault.
    explicit ServiceFilter(const std::string& text);
    ~ServiceFilter();
    ServiceFilter(ServiceFilter&&) noexcept;

    bool matches(const Properties& properties) const;

    struct Node;

private:
    std::unique_ptr<Node> root_;
};

} // namespace hil::osp
