// SPDX-License-Identifier: Apache-2.0
#include "platform/common/BackendLogger.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/PatternFormatter.h>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <mutex>
#include <set>
#include <shared_mutex>
#include <vector>

namespace hil {

std::atomic<unsigned> gLogMask{LogMask::Info | LogMask::Error};
const std::string L_HIL = "HIL";
const std::string L_DBG = "DBG";

namespace {

const std::string kRootLogger = "hil";

// Poco hands level and channel only to loggers that exist, and a new logger copies them from its
// nearest existing ancestor; so the root is made first, open to every level.
Poco::Logger& rootLogger()
{
    static Poco::Logger& root = [] () -> Poco::Logger& {
        Poco::Logger& logger = Poco::Logger::get(kRootLogger);
        logger.setLevel(Poco::Message::PRIO_TRACE);
        return logger;
    }();
    return root;
}

Poco::Logger& loggerFor(const std::string& category)
{
    Poco::Logger& root = rootLogger();
    return category.empty() ? root : Poco::Logger::get(kRootLogger + "." + category);
}

bool maskAllows(unsigned bit) { return (gLogMask.load(std::memory_order_relaxed) & bit) != 0; }

/// The categories that may log, kept apart from Poco's logger levels: a Poco logger made later
/// copies its level from its nearest ancestor, so opening the empty category (the root) would
/// open every category nobody named.
class CategoryFilter {
public:
    bool allows(const std::string& category) const
    {
        std::shared_lock lock(mutex_);
        return all_ || enabled_.contains(category);
    }
    void allowAll()
    {
        std::unique_lock lock(mutex_);
        all_ = true;
        enabled_.clear();
    }
    void allowOnly(std::set<std::string> categories)
    {
        std::unique_lock lock(mutex_);
        all_ = false;
        enabled_ = std::move(categories);
    }

private:
    mutable std::shared_mutex mutex_;
    bool all_ = true;
    std::set<std::string> enabled_;
};

CategoryFilter& categoryFilter()
{
    static CategoryFilter filter;
    return filter;
}

} // namespace

bool BackendLogger::debug_enabled(const std::string& category) { return categoryFilter().allows(category); }
bool BackendLogger::info_enabled(const std::string& category) { return categoryFilter().allows(category); }
bool BackendLogger::error_enabled(const std::string& category) { return categoryFilter().allows(category); }

bool BackendLogger::debugOn(const std::string& category)
{
    return maskAllows(LogMask::Debug) && debug_enabled(category);
}

void BackendLogger::debug(const std::string& category, const std::string& message)
{
    if (debugOn(category))
        loggerFor(category).debug(message);
}

void BackendLogger::info(const std::string& category, const std::string& message)
{
    if (maskAllows(LogMask::Info) && info_enabled(category))
        loggerFor(category).information(message);
}

void BackendLogger::error(const std::string& category, const std::string& message)
{
    if (maskAllows(LogMask::Error) && error_enabled(category))
        loggerFor(category).error(message);
}

void BackendLogger::errorUnfiltered(const std::string& category, const std::string& message)
{
    if (maskAllows(LogMask::Error))
        loggerFor(category).error(message);
}

void BackendLogger::enableCategories(const std::string& commaSeparated)
{
    const std::string list = boost::algorithm::trim_copy(commaSeparated);
    if (list.empty() || list == "*") {
        categoryFilter().allowAll();
        return;
    }
    std::vector<std::string> names;
    boost::algorithm::split(names, list, [](char c) { return c == ','; });
    std::set<std::string> categories;
    for (auto& name : names)
        categories.insert(boost::algorithm::trim_copy(name));
    categoryFilter().allowOnly(std::move(categories));
}

void BackendLogger::useConsole()
{
    Poco::AutoPtr<Poco::PatternFormatter> formatter(new Poco::PatternFormatter("%Y-%m-%d %H:%M:%S.%i [%p] %s: %t"));
    Poco::AutoPtr<Poco::ConsoleChannel> console(new Poco::ConsoleChannel);
    Poco::AutoPtr<Poco::FormattingChannel> channel(new Poco::FormattingChannel(formatter, console));
    setChannel(channel);
}

void BackendLogger::setChannel(const Poco::AutoPtr<Poco::Channel>& channel)
{
    rootLogger();
    Poco::Logger::setChannel(kRootLogger, channel);
}

} // namespace hil
