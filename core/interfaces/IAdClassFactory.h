// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace hil {

/// A class factory that a bundle registers for others to find by category or class name.
class IAdClassFactory {
public:
    virtual ~IAdClassFactory() = default;
    /// The category the factory is found under ("toolfactory", "tcfservicefactory", ...).
    virtual std::string getCategory() const = 0;
    /// The name the factory is registered under; unique in the service registry.
    virtual std::string getClassName() const = 0;
};

} // namespace hil
