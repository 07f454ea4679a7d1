#include "platform/common/BackendLogger.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/PatternFormatter.h>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

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

} // namespace

bool BackendLogger::debug_enabled(const std::string& category) { return loggerFor(category).debug(); }
bool BackendLogger::info_enabled(const std::string& category) { return loggerFor(category).information(); }
bool BackendLogger::error_enabled(const std::string& category) { return loggerFor(category).error(); }

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
    if (!maskAllows(LogMask::Error))
        return;
    // Written at fatal priority so that a category switched off still lets the line through.
    loggerFor(category).fatal(message);
}

void BackendLogger::enableCategories(const std::string& commaSeparated)
{
    rootLogger();
    const std::string list = boost::algorithm::trim_copy(commaSeparated);
    if (list.empty() || list == "*") {
        Poco::Logger::setLevel(kRootLogger, Poco::Message::PRIO_TRACE);
        return;
    }
    // Switch everything down to fatal first, which only `errorUnfiltered` writes at; each named
    // category is then opened again.
    Poco::Logger::setLevel(kRootLogger, Poco::Message::PRIO_FATAL);
    std::vector<std::string> categories;
    boost::algorithm::split(categories, list, [](char c) { return c == ','; });
    for (auto& category : categories) {
        boost::algorithm::trim(category);
        loggerFor(category).setLevel(Poco::Message::PRIO_TRACE);
    }
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
