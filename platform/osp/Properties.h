// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <string>

namespace hil::osp {

/// The properties a service is registered with: names to texts.
class Properties {
public:
    void set(const std::string& key, const std::string& value) { values_[key] = value; }
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    /// The value of `key`, or `fallback` when it has none.
    std::string get(const std::string& key, const std::string& fallback = "") const
    {
        const auto entry = values_.find(key);
        return entry == values_.end() ? fallback : entry->second;
    }

private:
    std::map<std::string, std::string> values_;
};

} // namespace hil::osp
