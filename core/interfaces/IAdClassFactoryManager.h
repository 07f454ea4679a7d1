// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/interfaces/IAdClassFactory.h"

namespace hil {

/// Finds the class factories that bundles register, starting the bundles that declare them.
class IAdClassFactoryManager {
public:
    virtual ~IAdClassFactoryManager() = default;
    /// The factory registered under `className`. Throws when there is none.
    virtual std::shared_ptr<IAdClassFactory> getFactory(const std::string& className) = 0;
    /// Every factory of `category`, in the registry's order; empty when none.
    virtual std::vector<std::shared_ptr<IAdClassFactory>> getFactories(const std::string& category) = 0;
    /// The class names that bundles declare for `category`, without starting anything.
    virtual std::vector<std::string> getClassNames(const std::string& category) = 0;
    /// A preference of the platform, or the empty text.
    virtual std::string getPreference(const std::string& key) = 0;
};

} // namespace hil
