// The component as a host sees it: loaded by name, reached only through GetVelFactory and the
// algorithm interface.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "IVelAlgorithm.h"
#include "SettingsDocument.h"

using knn_test::SettingsDocument;
using VelCommon_940::IVelAlgorithm;
using VelCommon_940::IVelFactory;

namespace {

const std::string kLibrary = std::string(KNN_LIBRARY_DIR) + "/libknn800.so";

class Component : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        auto get =
            reinterpret_cast<VelCommon_940::GetVelFactoryFunction>(dlsym(handle, "GetVelFactory"));
        ASSERT_NE(get, nullptr);
        factory.reset(get());
        ASSERT_NE(factory, nullptr);
    }
    void TearDown() override {
        factory.reset();
        if (handle != nullptr) {
            dlclose(handle);
        }
    }
    IVelAlgorithm* Create(const std::string& xml) {
        std::istringstream in(xml);
        return factory->CreateVelAlgorithm(in);
    }

    void* handle = nullptr;
    std::unique_ptr<IVelFactory> factory;
};

SettingsDocument Classification() {
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Predictor("x2");
    return d;
}

}  // namespace

TEST_F(Component, CreatesAnAlgorithmThatRefusesWorkBeforeABuild) {
    std::unique_ptr<IVelAlgorithm> algorithm(Create(Classification().Xml()));
    ASSERT_NE(algorithm, nullptr) << factory->GetStatus().GetMessage();
    EXPECT_TRUE(factory->GetStatus().IsOK());
    EXPECT_TRUE(algorithm->GetStatus().IsOK());
    EXPECT_FALSE(algorithm->IsBuilt());
    EXPECT_EQ(algorithm->GetVersion().rfind("Nearest Neighbor Component Ver. 1.0", 0), 0u);

    std::vector<std::vector<double>> result{{42.0}};
    VelCommon_940::Record record(std::vector<double>(10, 0.0));
    EXPECT_EQ(algorithm->Score(record, nullptr, result).GetErrorCode(), 6);
    EXPECT_EQ(result, (std::vector<std::vector<double>>{{42.0}}));  // left alone
    std::ostringstream out;
    EXPECT_EQ(algorithm->Export(out, nullptr).GetErrorCode(), 6);
    EXPECT_TRUE(out.str().empty());

    std::ostringstream display;
    algorithm->Display(display);
    EXPECT_EQ(display.str().rfind("KNNAlgorithm display start", 0), 0u) << display.str();
    EXPECT_NE(display.str().find("KNNAlgorithm display end"), std::string::npos);
}

TEST_F(Component, BadSettingsGiveNoAlgorithmAndAStatusThatSaysWhy) {
    std::istringstream failed(Classification().Xml());
    failed.setstate(std::ios::badbit);
    EXPECT_EQ(factory->CreateVelAlgorithm(failed), nullptr);
    EXPECT_EQ(factory->GetStatus().GetErrorCode(), 200002);

    SettingsDocument noFocal;
    noFocal.Param("CaseIDVar", "string", "id").Target("cls").Predictor("x1");
    EXPECT_EQ(Create(noFocal.Xml()), nullptr);
    EXPECT_EQ(factory->GetStatus().GetErrorCode(), 200027);
    EXPECT_FALSE(factory->GetStatus().GetMessage().empty());
}

TEST_F(Component, AWarningStillGivesAnAlgorithm) {
    SettingsDocument d = Classification();
    d.Param("IsFeatureSelection", "bool", "true").Param("NSpecifiedFeatures", "int", "5");
    std::unique_ptr<IVelAlgorithm> algorithm(Create(d.Xml()));
    ASSERT_NE(algorithm, nullptr);
    EXPECT_TRUE(factory->GetStatus().IsWarning());
    EXPECT_EQ(factory->GetStatus().GetErrorCode(), 200068);
    EXPECT_EQ(algorithm->GetStatus().GetErrorCode(), 200068);
    ASSERT_EQ(algorithm->GetWarnings()->size(), 1u);
    EXPECT_EQ(algorithm->GetWarnings()->front().GetErrorCode(), 200068);
}

TEST(ComponentLibrary, ExportsOnlyTheHostSurface) {
    const std::string command = "nm -D --defined-only -C " + kLibrary;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    int exported = 0;
    while (fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::string symbol(line);
        symbol = symbol.substr(symbol.find(' ', symbol.find(' ') + 1) + 1);
        const bool allowed = symbol.rfind("GetVelFactory", 0) == 0 ||
                             symbol.find("KNN_800::KNNFactory") != std::string::npos ||
                             symbol.find("KNN_800::KNNReporter") != std::string::npos;
        EXPECT_TRUE(allowed) << "unexpected export: " << symbol;
        ++exported;
    }
    EXPECT_GT(exported, 3);
}
