// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include "core/frame/OspClassFactoryManager.h"
#include "platform/osp/ServiceFilter.h"
#include "platform/osp/ServiceRegistry.h"

namespace hil::osp {
namespace {

using testing::ElementsAre;

class Dummy : public Service {
public:
    const std::type_info& type() const override { return typeid(Dummy); }
};

Properties properties(std::initializer_list<std::pair<std::string, std::string>> pairs)
{
    Properties result;
    for (const auto& [key, value] : pairs)
        result.set(key, value);
    return result;
}

struct FilterCase {
    std::string filter;
    bool matches;
    friend void PrintTo(const FilterCase& value, std::ostream* out) { *out << value.filter; }
};

class ServiceFilterMatches : public testing::TestWithParam<FilterCase> {};

TEST_P(ServiceFilterMatches, AgainstOneEntry)
{
    const auto entry = properties({{"CategoryName", "toolfactory"}, {"Vendor", "sim \"one\""}});
    EXPECT_EQ(ServiceFilter(GetParam().filter).matches(entry), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ServiceFilterMatches,
    testing::Values(FilterCase{R"(CategoryName=="toolfactory")", true},
                    FilterCase{R"( CategoryName == "toolfactory" )", true},
                    FilterCase{R"(CategoryName=="ToolFactory")", false},
                    FilterCase{R"(CategoryName!="toolfactory")", false},
                    FilterCase{R"(Missing!="x")", true},
                    FilterCase{R"(Missing=="")", false},
                    FilterCase{R"(Vendor=="sim \"one\"")", true},
                    FilterCase{R"(CategoryName=="x" || Vendor=="sim \"one\"")", true},
                    FilterCase{R"(CategoryName=="toolfactory" && Vendor=="x")", false},
                    // && binds tighter than ||.
                    FilterCase{R"(CategoryName=="toolfactory" || Vendor=="x" && Missing=="y")", true},
                    FilterCase{R"((CategoryName=="toolfactory" || Vendor=="x") && Missing=="y")", false}));

class ServiceFilterRefuses : public testing::TestWithParam<std::string> {};

TEST_P(ServiceFilterRefuses, WithSyntaxError)
{
    EXPECT_THROW(ServiceFilter{GetParam()}, Poco::SyntaxException);
}

INSTANTIATE_TEST_SUITE_P(Grammar, ServiceFilterRefuses,
                         testing::Values("", "CategoryName", "CategoryName==toolfactory", R"(CategoryName="x")",
                                         R"(CategoryName=="x)", R"(A=="x" &&)", R"((A=="x")", R"(A=="x" B=="y")",
                                         R"(A=="x" | B=="y")"));

TEST(ServiceRegistry, QueriesKeepRegistrationOrderAndNamesAreUnique)
{
    ServiceRegistry registry;
    registry.registerService("b", new Dummy, properties({{"CategoryName", "c"}}));
    registry.registerService("a", new Dummy, properties({{"CategoryName", "c"}}));
    registry.registerService("other", new Dummy, properties({{"CategoryName", "d"}}));
    EXPECT_THROW(registry.registerService("a", new Dummy, {}), Poco::ExistsException);

    std::vector<ServiceRef::Ptr> found;
    EXPECT_EQ(registry.find(R"(CategoryName=="c")", found), 2u);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->name(), "b");
    EXPECT_EQ(found[1]->name(), "a");
    EXPECT_THROW(registry.find("CategoryName==c", found), Poco::SyntaxException);

    registry.unregisterService(registry.findByName("b"));
    EXPECT_TRUE(registry.findByName("b").isNull());
    EXPECT_FALSE(registry.findByName("a").isNull());
}

struct SplitCase {
    std::string services;
    std::vector<std::string> tokens;
    friend void PrintTo(const SplitCase& value, std::ostream* out) { *out << value.services; }
};

class ServicesTokens : public testing::TestWithParam<SplitCase> {};

TEST_P(ServicesTokens, SplitOnCommaAndColon)
{
    EXPECT_EQ(OspClassFactoryManager::splitServices(GetParam().services), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(Declarations, ServicesTokens,
                         testing::Values(SplitCase{"a,b:c", {"a", "b", "c"}}, SplitCase{"a,,b::c", {"a", "b", "c"}},
                                         SplitCase{",:a:,", {"a"}}, SplitCase{" a , b ", {"a", "b"}}, SplitCase{"", {}}, SplitCase{"one", {"one"}}));

} // namespace
} // namespace hil::osp
