// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>

namespace hil {

/// Finds an entry of the device-pack manager library "vlpackmanagerlib": in the folder of the
/// preference "packmanager.dir" when it is set, else in "application.dir" and
/// "application.dir/../vlpackmanager". The first library found that has the entry wins; it stays
/// loaded for the life of the process, since objects it made may outlive their user. Null when
/// no library has it.
void* findPackManagerEntry(const std::function<std::string(const std::string&)>& preference, const std::string& entry);

} // namespace hil
