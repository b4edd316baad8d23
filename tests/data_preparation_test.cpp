#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "TestSources.h"
#include "VelMV.h"
#include "VelVarList.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNCatVariable.h"
#include "knn/data/KNNContVariable.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/data/KNNValidateInput.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {
namespace {

using test::CountdownChecker;
using test::CountingSink;
using test::GeneratedRecordSource;
using test::VectorRecordSource;
using VelCommon_940::Record;
using VelCommon_940::VelMV;
using VelCommon_940::VelStatus;
using VelXML_940::VelCategory;
using VelXML_940::VelCatVar;
using VelXML_940::VelContVar;
using VelXML_940::VelVarList;

const double M = VelMV::Missing();

VelCatVar* Categorical(const std::string& name, int categories) {
    std::vector<VelCategory> list;
    for (int c = 0; c < categories; ++c) {
        list.push_back(VelCategory{"c" + std::to_string(c), static_cast<double>(c), ""});
    }
    return new VelCatVar(name, VelXML_940::kNumericCategorical, list);
}

// Fields: 0 id (case identifier), 1 x (continuous predictor, 0 ... 10), 2 color (categorical
// predictor, 3 categories), 3 note (unused), 4 label (case label, 2 categories), 5 y
// (continuous target, 0 ... 100).
class PreparationTest : public ::testing::Test {
protected:
    PreparationTest() {
        dictionary.Add(new VelContVar("id", 0.0, 1000.0));
        dictionary.Add(new VelContVar("x", 0.0, 10.0));
        dictionary.Add(Categorical("color", 3));
        dictionary.Add(new VelContVar("note", 0.0, 10.0));
        dictionary.Add(Categorical("label", 2));
        dictionary.Add(new VelContVar("y", 0.0, 100.0));
        settings.TotalVarNum = dictionary.Size();
        settings.CaseIDVariable = 0;
        settings.ContPredictors = {1};
        settings.CatPredictors = {2};
        settings.Features = {1, 2};
        settings.FeatureNum = 2;
        settings.CaseLabelVariable = 4;
        settings.ContResponses = {5};
        settings.Responses = {5};
        settings.UsedVariables = {5, 1, 2, 0, 4};
        settings.SpecifiedK = 1;
        KNNWarning::Instance().Clear();
    }

    VelStatus Run(VelCommon_940::RecordSource& source, VelVarList* creation = nullptr) {
        preparation = std::make_unique<KNNDataPreparation>(settings, dictionary, context, creation);
        return preparation->Run(source);
    }

    std::vector<double> Row(int i) const {
        const double* row = preparation->Rows()[static_cast<size_t>(i)];
        return std::vector<double>(row, row + preparation->RowWidth());
    }

    VelVarList dictionary;
    KNNSettings settings;
    RunContext context;
    std::unique_ptr<KNNDataPreparation> preparation;
};

TEST_F(PreparationTest, KeepsValidCasesCodedAndRawWhereUnused) {
    VectorRecordSource source{
        {1, 5, 0, M, 0, 10},     // valid; note missing but unused
        {2, M, 1, 3, 1, 20},     // x missing
        {3, 0, 2, 4, 0, 30},     // valid
        {4, 10, 2, 1, 1, M},     // target missing
        {5, 12.5, 2, 2, 7, 40},  // valid: a case label accepts any code
        {6, 1, 3, 0, 0, 50},     // color outside its categories
    };
    ASSERT_TRUE(Run(source).IsOK());
    ASSERT_EQ(preparation->CaseCount(), 3);
    ASSERT_EQ(preparation->Rows().size(), 3u);

    // The case identifier and the target keep raw values; x is rescaled from 0 ... 10 to
    // -1 ... 1 without clipping.
    std::vector<double> first = Row(0);
    EXPECT_TRUE(VelMV::IsMissing(first[3]));
    first[3] = 0.0;
    EXPECT_EQ(first, (std::vector<double>{1, 0.0, 0, 0.0, 0, 10}));
    EXPECT_EQ(Row(1), (std::vector<double>{3, -1.0, 2, 4, 0, 30}));
    EXPECT_EQ(Row(2), (std::vector<double>{5, 1.5, 2, 2, 7, 40}));
    EXPECT_EQ(preparation->Rows()[1], preparation->Rows()[0] + 6);

    const auto& variables = preparation->Variables();
    EXPECT_EQ(*variables[2]->GetCategoryCounts(), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(*variables[4]->GetCategoryCounts(), (std::vector<int>{0, 0}));
    EXPECT_EQ(variables[1]->GetCategoryCounts(), nullptr);
    EXPECT_EQ(preparation->Kinds()[2], (std::pair<int, int>{2, 0}));
    EXPECT_EQ(preparation->Kinds()[5], (std::pair<int, int>{5, 1}));

    // Scoring codes a record the same way.
    std::vector<double> coded(6, 0.0);
    EXPECT_TRUE(variables[1]->CodeValue(Record({0, 10, 0, 0, 0, 0}), coded));
    EXPECT_EQ(coded[1], 1.0);
    EXPECT_FALSE(variables[1]->CodeValue(Record({0, M, 0, 0, 0, 0}), coded));
    EXPECT_TRUE(variables[3]->CodeValue(Record({0, 0, 0, M, 0, 0}), coded));
    EXPECT_TRUE(VelMV::IsMissing(coded[3]));
}

TEST_F(PreparationTest, WithoutNormalisingPredictorsKeepRawValues) {
    settings.RescaleMethod = 1;
    VectorRecordSource source{{1, 2.5, 0, 0, 0, 10}, {2, 7.5, 1, 0, 0, 20}};
    ASSERT_TRUE(Run(source).IsOK());
    EXPECT_EQ(Row(0)[1], 2.5);
    EXPECT_EQ(Row(1)[1], 7.5);
}

TEST(CatVariable, OnlyWholeCodesWithinTheCategoriesAreUsable) {
    VelVarList dictionary;
    dictionary.Add(Categorical("color", 3));
    dictionary.Add(Categorical("label", 2));
    KNNSettings settings;
    settings.CaseLabelVariable = 1;
    KNNCatVariable color(settings, dictionary, 0);
    KNNCatVariable label(settings, dictionary, 1);

    const Record bad[] = {Record({3, 0}),   Record({-1, 0}),  Record({-2, 0}),
                          Record({0.5, 0}), Record({NAN, 0}), Record({M, 0})};
    for (const Record& record : bad) {
        EXPECT_FALSE(color.IsInvalidValue(record)) << "an unused field never rejects";
    }
    color.SetUsed(true);
    label.SetUsed(true);
    std::vector<double> data;
    std::vector<double> row(2, 0.0);
    for (const Record& record : bad) {
        EXPECT_TRUE(color.IsInvalidValue(record)) << record[0];
        EXPECT_FALSE(color.CodeValue(record, row)) << record[0];
        EXPECT_EQ(color.AddTrainingValue(record, data).GetErrorCode(), Code::InvalidTrainingValue);
    }
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(*color.GetCategoryCounts(), (std::vector<int>{0, 0, 0}));

    EXPECT_FALSE(label.IsInvalidValue(Record({0, -5})));
    EXPECT_TRUE(label.AddTrainingValue(Record({0, 9}), data).IsOK());
    EXPECT_EQ(data, std::vector<double>{9});

    // Constant until a second distinct code arrives, then never again.
    for (double value : {1.0, 1.0}) {
        ASSERT_TRUE(color.AddTrainingValue(Record({value, 0}), data).IsOK());
    }
    EXPECT_TRUE(color.IsConstant());
    ASSERT_TRUE(color.AddTrainingValue(Record({2, 0}), data).IsOK());
    ASSERT_TRUE(color.AddTrainingValue(Record({1, 0}), data).IsOK());
    EXPECT_FALSE(color.IsConstant());
    EXPECT_EQ(*color.GetCategoryCounts(), (std::vector<int>{0, 3, 1}));
}

TEST_F(PreparationTest, BadSourcesFailWithoutStoringCases) {
    VectorRecordSource empty;
    EXPECT_EQ(Run(empty).GetErrorCode(), Code::BadSource);

    VectorRecordSource refusing{{1, 5, 0, 0, 0, 10}, {2, 6, 1, 0, 0, 20}};
    refusing.resetResult = false;
    EXPECT_EQ(Run(refusing).GetErrorCode(), Code::BadSource);

    VectorRecordSource tooWide{{1, 5, 0, 0, 0, 10, 99}, {2, 6, 1, 0, 0, 20, 99}};
    EXPECT_EQ(Run(tooWide).GetErrorCode(), Code::BadSource);
    EXPECT_EQ(preparation->CaseCount(), 0);

    // A later short record is caught before its missing fields are read.
    VectorRecordSource laterShort{{1, 5, 0, 0, 0, 10}, {2, 6, 1, 0, 0, 20}, {3, 7, 1}};
    EXPECT_EQ(Run(laterShort).GetErrorCode(), Code::BadSource);
    EXPECT_EQ(preparation->CaseCount(), 2);
}

TEST_F(PreparationTest, InterruptionStopsAfterTheCurrentRecord) {
    VectorRecordSource source{
        {1, 1, 0, 0, 0, 10}, {2, 2, 1, 0, 0, 20}, {3, 3, 2, 0, 0, 30}, {4, 4, 0, 0, 0, 40}};
    context.probe.stop = true;
    EXPECT_EQ(Run(source).GetErrorCode(), Code::Interrupted);
    EXPECT_EQ(preparation->CaseCount(), 1);

    context.probe.stop = false;
    CountdownChecker checker(2);
    context.probe.checker = &checker;
    EXPECT_EQ(Run(source).GetErrorCode(), Code::Interrupted);
    EXPECT_EQ(preparation->CaseCount(), 3);
    EXPECT_EQ(checker.calls, 3);
}

TEST(DataPreparationProgress, ReportsValidCasesEvery30000Records) {
    VelVarList dictionary;
    dictionary.Add(new VelContVar("x", 0.0, 10.0));
    dictionary.Add(new VelContVar("y", 0.0, 10.0));
    KNNSettings settings;
    settings.TotalVarNum = 2;
    settings.Features = {0};
    settings.ContResponses = {1};
    settings.UsedVariables = {0, 1};
    CountingSink sink("cases");
    RunContext context;
    context.SetProgressSink(&sink);
    // Every third record lacks its target, so the valid count lags the records read.
    GeneratedRecordSource source(60001, 2, [](int i, std::vector<double>& values) {
        values[0] = i % 10;
        values[1] = i % 3 == 0 ? VelMV::Missing() : 1.0;
    });
    KNNDataPreparation preparation(settings, dictionary, context, nullptr);
    ASSERT_TRUE(preparation.Run(source).IsOK());
    EXPECT_EQ(sink.values, (std::vector<int>{20000, 40000}));
    EXPECT_EQ(preparation.CaseCount(), 40000);
}

TEST_F(PreparationTest, TooFewCasesAreRejected) {
    KNNDataPreparation unread(settings, dictionary, context, nullptr);
    EXPECT_EQ(KNNValidateInput(unread).Validate().GetErrorCode(), Code::NoValidCase);

    VectorRecordSource one{{1, 5, 0, 0, 0, 10}, {2, M, 1, 0, 0, 20}};
    EXPECT_EQ(Run(one).GetErrorCode(), Code::SingleCase);
}

TEST_F(PreparationTest, ConstantFeatureIsJudgedOverValidCasesOnly) {
    // x is 5 in every valid case and differs only in the case dropped for its missing target;
    // color is constant too, but the status names the first constant feature.
    VectorRecordSource source{
        {1, 5, 1, 0, 0, 10}, {2, 7, 2, 0, 0, M}, {3, 5, 1, 0, 0, 30}, {4, 5, 1, 0, 0, 40}};
    const VelStatus status = Run(source);
    EXPECT_EQ(status.GetErrorCode(), Code::ConstantFeature);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(status.GetDiscreteDatum(0), 1);
}

TEST_F(PreparationTest, AutomaticKNeedsEveryFold) {
    dictionary.Add(Categorical("fold", 3));
    settings.TotalVarNum = 7;
    settings.SetVFold(6, 3);
    settings.UsedVariables.push_back(6);
    settings.IsAutoKSelection = true;
    settings.SetKRange(1, 2);
    VectorRecordSource source{
        {1, 1, 0, 0, 0, 10, 0}, {2, 2, 1, 0, 0, 20, 1}, {3, 3, 2, 0, 0, 30, 0}};
    EXPECT_EQ(Run(source).GetErrorCode(), Code::EmptyFold);

    // Feature selection handles folds itself.
    settings.IsFeaSelection = true;
    EXPECT_TRUE(Run(source).IsOK());
}

TEST_F(PreparationTest, KAboveCasesMinusOneIsLoweredWithOneWarning) {
    VectorRecordSource source{{1, 1, 0, 0, 0, 10},
                              {2, 2, 1, 0, 0, 20},
                              {3, 3, 2, 0, 0, 30},
                              {4, 4, 0, 0, 0, 40},
                              {5, 5, 1, 0, 0, 50}};
    settings.IsAutoKSelection = true;
    for (int build = 0; build < 2; ++build) {
        settings.SetKRange(3, 20);
        EXPECT_TRUE(Run(source).IsOK());
        EXPECT_EQ(preparation->Settings().MaxK, 4);
        EXPECT_EQ(preparation->Settings().MinK, 3);
    }
    ASSERT_EQ(KNNWarning::Instance().List().size(), 1u);
    EXPECT_EQ(KNNWarning::Instance().List()[0], Warning(Code::MaxKReduced));

    KNNWarning::Instance().Clear();
    settings.IsAutoKSelection = false;
    settings.SpecifiedK = 9;
    KNNDataPreparation checked(settings, dictionary, context, nullptr);
    ASSERT_TRUE(checked.Run(source).IsOK());
    EXPECT_EQ(checked.Settings().SpecifiedK, 4);
    EXPECT_EQ(settings.SpecifiedK, 9);  // the settings read stay as they were
    EXPECT_EQ(KNNWarning::Instance().List(),
              std::vector<VelStatus>{Warning(Code::SpecifiedKReduced)});
}

TEST_F(PreparationTest, CreationDictionarySuppliesCaseLabelCategories) {
    VectorRecordSource source{{1, 1, 0, 0, 0, 10}, {2, 2, 1, 0, 0, 20}};
    VelVarList creation;
    creation.Add(Categorical("label", 4));
    ASSERT_TRUE(Run(source, &creation).IsOK());
    EXPECT_EQ(dictionary.GetVarAt(4)->GetCategoryCount(), 4);

    VelVarList other;
    other.Add(Categorical("tag", 4));
    EXPECT_EQ(Run(source, &other).GetErrorCode(), Code::CaseLabelNotInCreationDictionary);

    settings.CaseLabelVariable = -1;
    EXPECT_EQ(Run(source, &creation).GetErrorCode(), Code::UnknownCaseLabel);
}

}  // namespace
}  // namespace KNN_800
