// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "platform/common/CoreException.h"
#include "platform/common/ErrorReport.h"
#include "platform/common/FormatString.h"
#include "platform/common/Status.h"
#include "tests/fakes/Thrown.h"

namespace hil {
namespace {

TEST(Status, DefaultIsSuccessAndRendersEmpty)
{
    const Status status;
    EXPECT_TRUE(status.isOk());
    EXPECT_EQ(status.toJson(), "");
    EXPECT_EQ(status.getMessage(), "");
}

TEST(Status, ErrorRendersAsTcfErrorReport)
{
    Status status(Severity::Error, "libtcf", ErrorCode::InvalidContext, "Invalid context %s,", "tool-1");
    EXPECT_FALSE(status.isOk());
    EXPECT_EQ(status.getMessage(), "Invalid context tool-1,");
    EXPECT_EQ(status.toJson(), R"({"Code":16,"Format":"Invalid context tool-1,","AltOrg":"libtcf"})");
    status.setServiceName("Tool");
    EXPECT_EQ(status.toJson(), R"({"Code":16,"Service":"Tool","Format":"Invalid context tool-1,","AltOrg":"libtcf"})");
}

TEST(Status, FillInPlaceKeepsComponentAndResetClearsAll)
{
    Status status(Severity::Error, "xml", ErrorCode::ReadFailure, "first");
    status.setError(ErrorCode::ModelMisuse, "misuse %d", 7);
    EXPECT_EQ(status.getComponent(), "xml");
    EXPECT_EQ(status.getErrorCode(), ErrorCode::ModelMisuse);
    EXPECT_EQ(status.getMessage(), "misuse 7");
    status.setFields(Severity::Warning, ErrorCode::NotFound, "maybe");
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.isOk(true));
    EXPECT_TRUE(status.matchesSeverity(Severity::Warning | Severity::Error));
    EXPECT_FALSE(status.matchesSeverity(Severity::Error));
    status.setChild(std::make_shared<Status>());
    status.reset();
    EXPECT_TRUE(status.isOk());
    EXPECT_EQ(status.getChild(), nullptr);
    EXPECT_EQ(status.toJson(), "");
}

TEST(ErrorReport, MembersAppearInFixedOrderAndOnlyWhenSet)
{
    ErrorReport report;
    EXPECT_EQ(report.toJson(), "");
    report.code = 3;
    EXPECT_EQ(report.toJson(), R"({"Code":3})");
    report.altOrg = "org";
    report.altCode = 9;
    report.severity = 1;
    report.params = {"a", "b"};
    report.format = "fmt \"quoted\"";
    report.service = "Memory";
    report.time = 12;
    EXPECT_EQ(report.toJson(), R"({"Code":3,"Time":12,"Service":"Memory","Format":"fmt \"quoted\"",)"
                               R"("Params":["a","b"],"Severity":1,"AltCode":9,"AltOrg":"org"})");
}

TEST(FormatString, FormatsLongTextWithoutTruncation)
{
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatString("%s-%d", longText.c_str(), 42), longText + "-42");
    EXPECT_EQ(FormatString("%s", ""), "");
}

TEST(CoreException, CarriesTheStatusItWasBuiltFrom)
{
    const auto error = fakes::thrown<CoreException>(
        [] { CoreException::createAndThrow("L_HIL", ErrorCode::NotFound, "device %s not found", "DEMO9"); });
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "device DEMO9 not found");
    EXPECT_EQ(error->getStatus()->getComponent(), "L_HIL");
    EXPECT_EQ(error->getStatus()->getErrorCode(), ErrorCode::NotFound);
    EXPECT_EQ(error->getStatus()->getSeverity(), Severity::Error);
}

TEST(CoreException, TextVariantDoesNotInterpretPercentSigns)
{
    EXPECT_EQ(fakes::errorText<CoreException>(
                  [] { CoreException::createAndThrow("", ErrorCode::ReadFailure, std::string("100% %s %n")); }),
              "100% %s %n");
}

} // namespace
} // namespace hil
