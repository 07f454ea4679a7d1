// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include <Poco/ClassLoader.h>
#include <Poco/Exception.h>

#include "core/frame/HilCoreBundleActivator.h"
#include "core/frame/OspClassFactoryManager.h"
#include "platform/osp/OSPSubsystem.h"
#include "platform/osp/PreferencesService.h"

extern "C" bool pocoBuildManifest(Poco::ManifestBase* manifest);

namespace hil {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

/// A bundle directory made for one test: the Echo bundle, a bundle whose library is missing, and
/// a bundle that declares nothing.
class BundleDirectory {
public:
    BundleDirectory()
    {
        static int instance = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("hilcore-bundles-" + std::to_string(getpid()) + "-" + std::to_string(instance++));
        write("echo", {"bundle.symbolicName = test.echo", std::string("bundle.library = ") + HIL_ECHO_LIBRARY,
                       "bundle.activator = hil::e2e::EchoBundleActivator", "services = Echo",
                       "Echo.category = tcfservicefactory", "Echo.classname = tcfservicefactory.Echo"});
        write("broken", {"bundle.symbolicName = test.broken", "bundle.library = missing.so",
                         "bundle.activator = Nothing", "services = Probe, Half, Named",
                         "Probe.category = toolfactory", "Probe.classname = toolfactory.Probe",
                         "Half.category = toolfactory", "Named.classname = toolfactory.Named"});
        write("plain", {"bundle.symbolicName = test.plain"});
    }
    ~BundleDirectory() { std::filesystem::remove_all(root_); }
    const std::filesystem::path& path() const { return root_; }

private:
    void write(const std::string& name, const std::vector<std::string>& lines)
    {
        std::filesystem::create_directories(root_ / name);
        std::ofstream file(root_ / name / "bundle.properties");
        for (const auto& line : lines)
            file << line << "\n";
    }
    std::filesystem::path root_;
};

class OspClassFactoryManagerTest : public testing::Test {
protected:
    OspClassFactoryManagerTest() { platform.bundleLoader().loadBundles(directory.path()); }
    int stateOf(const std::string& name) { return platform.bundleLoader().findBundle(name)->state(); }

    BundleDirectory directory;
    osp::OSPSubsystem platform;
    OspClassFactoryManager manager{platform};
};

TEST_F(OspClassFactoryManagerTest, ClassNamesComeFromDeclarationsWithoutStartingAnything)
{
    EXPECT_THAT(manager.getClassNames("tcfservicefactory"), ElementsAre("tcfservicefactory.Echo"));
    // "Half" declares a category but no class name and "Named" a class name but no category: neither counts.
    EXPECT_THAT(manager.getClassNames("toolfactory"), ElementsAre("toolfactory.Probe"));
    EXPECT_EQ(stateOf("test.echo"), osp::Bundle::Resolved);
    EXPECT_EQ(stateOf("test.broken"), osp::Bundle::Resolved);
}

TEST_F(OspClassFactoryManagerTest, GetFactoriesStartsTheDeclaringBundle)
{
    const auto factories = manager.getFactories("tcfservicefactory");
    ASSERT_EQ(factories.size(), 1u);
    EXPECT_EQ(factories[0]->getClassName(), "tcfservicefactory.Echo");
    EXPECT_EQ(factories[0]->getCategory(), "tcfservicefactory");
    EXPECT_EQ(stateOf("test.echo"), osp::Bundle::Active);
    EXPECT_EQ(stateOf("test.broken"), osp::Bundle::Resolved);
    // Started once: asking again finds the same registration.
    EXPECT_EQ(manager.getFactories("tcfservicefactory").size(), 1u);
}

TEST_F(OspClassFactoryManagerTest, UndeclaredCategoryIsEmptyAndStartsNothing)
{
    EXPECT_TRUE(manager.getFactories("stimuliproviderfactory").empty());
    EXPECT_EQ(stateOf("test.echo"), osp::Bundle::Resolved);
}

TEST_F(OspClassFactoryManagerTest, BundleThatFailsToStartIsReportedAndPassedOver)
{
    testing::internal::CaptureStdout();
    EXPECT_TRUE(manager.getFactories("toolfactory").empty());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_THAT(printed, testing::StartsWith("Failed to start bundle test.broken: "));
    EXPECT_EQ(printed.back(), '\n');
    EXPECT_EQ(stateOf("test.broken"), osp::Bundle::Resolved);
}

TEST_F(OspClassFactoryManagerTest, GetFactoryByClassName)
{
    EXPECT_EQ(manager.getFactory("tcfservicefactory.Echo")->getClassName(), "tcfservicefactory.Echo");
    EXPECT_THROW(manager.getFactory("tcfservicefactory.Nothing"), Poco::NullPointerException);
}

TEST_F(OspClassFactoryManagerTest, GetFactoryStartsABundleThatNamesTheClassWithoutACategory)
{
    testing::internal::CaptureStdout();
    EXPECT_THROW(manager.getFactory("toolfactory.Named"), Poco::NullPointerException);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::StartsWith("Failed to start bundle test.broken: "));
}

TEST_F(OspClassFactoryManagerTest, PreferencesNeedTheService)
{
    EXPECT_THROW(manager.getPreference("application.dir"), Poco::NullPointerException);
    const auto file = directory.path() / "preferences.properties";
    std::ofstream(file) << "application.dir = /devices\n";
    platform.serviceRegistry().registerService(osp::PreferencesService::SERVICE_NAME, new osp::PreferencesService(file), {});
    EXPECT_EQ(manager.getPreference("application.dir"), "/devices");
    EXPECT_EQ(manager.getPreference("packmanager.dir"), "");
}

TEST_F(OspClassFactoryManagerTest, ActivatorNeedsAContextAndThePreferencesService)
{
    HilCoreBundleActivator activator;
    EXPECT_THROW(activator.start(nullptr), Poco::NullPointerException);
    auto bundle = platform.bundleLoader().findBundle("test.plain");
    osp::BundleContext::Ptr context(new osp::BundleContext(*bundle, platform.bundleLoader(), platform.serviceRegistry()));
    EXPECT_THROW(activator.start(context), Poco::NullPointerException);
    platform.serviceRegistry().registerService(osp::PreferencesService::SERVICE_NAME, new osp::PreferencesService(""), {});
    EXPECT_NO_THROW(activator.start(context));
}

TEST(PocoBuildManifest, OffersTheActivatorOnlyToTheActivatorManifest)
{
    Poco::Manifest<osp::BundleActivator> activators;
    ASSERT_TRUE(pocoBuildManifest(&activators));
    ASSERT_NE(activators.find("HilCoreBundleActivator"), activators.end());
    Poco::Manifest<IAdClassFactory> services;
    EXPECT_FALSE(pocoBuildManifest(&services));
    EXPECT_EQ(services.size(), 0u);
}

} // namespace
} // namespace hil
