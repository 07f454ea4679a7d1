// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/common/BackendLogger.h"
#include "tests/fakes/LogRecorder.h"

namespace hil {
namespace {

using testing::ElementsAre;

TEST(BackendLogger, EachLevelIsGatedByItsMaskBit)
{
    fakes::LogRecorder log(LogMask::Info);
    BackendLogger::debug("svc", "d");
    BackendLogger::info("svc", "i");
    BackendLogger::error("svc", "e");
    EXPECT_THAT(log.lines(), ElementsAre("svc|i"));
    gLogMask = LogMask::Debug | LogMask::Error;
    BackendLogger::debug("svc", "d");
    BackendLogger::info("svc", "i");
    BackendLogger::error("", "e");
    EXPECT_THAT(log.lines(), ElementsAre("svc|i", "svc|d", "|e"));
}

TEST(BackendLogger, OnlyEnabledCategoriesWrite)
{
    fakes::LogRecorder log;
    BackendLogger::enableCategories("svc, toolService");
    EXPECT_TRUE(BackendLogger::debug_enabled("svc"));
    EXPECT_FALSE(BackendLogger::debug_enabled("dbg"));
    EXPECT_FALSE(BackendLogger::error_enabled(""));
    BackendLogger::debug("dbg", "hidden");
    BackendLogger::error("", "hidden");
    BackendLogger::debug("toolService", "shown");
    EXPECT_THAT(log.lines(), ElementsAre("toolService|shown"));
}

TEST(BackendLogger, TheEmptyCategoryOpensNoOtherCategory)
{
    fakes::LogRecorder log;
    BackendLogger::enableCategories(",svc");
    // Categories nobody logged to before the list was set, as well as those that had logged.
    for (const std::string category : {"", "svc", "toolService", "neverSeenBefore", "HIL"})
        BackendLogger::info(category, "x");
    EXPECT_THAT(log.lines(), ElementsAre("|x", "svc|x"));
}

TEST(BackendLogger, UnfilteredErrorsIgnoreCategoriesButNotTheMaskAndAreErrors)
{
    fakes::LogRecorder log(LogMask::Error);
    BackendLogger::enableCategories("svc");
    BackendLogger::errorUnfiltered("", "through");
    gLogMask = 0;
    BackendLogger::errorUnfiltered("", "blocked");
    EXPECT_THAT(log.lines(), ElementsAre("|through"));
    EXPECT_THAT(log.priorities(), ElementsAre(Poco::Message::PRIO_ERROR));
}

TEST(BackendLogger, DebugOnNeedsBothMaskAndCategory)
{
    fakes::LogRecorder log(LogMask::Error);
    EXPECT_FALSE(BackendLogger::debugOn("svc"));
    gLogMask = LogMask::Debug;
    EXPECT_TRUE(BackendLogger::debugOn("svc"));
    BackendLogger::enableCategories("other");
    EXPECT_FALSE(BackendLogger::debugOn("svc"));
}

} // namespace
} // namespace hil
