// Host common library: missing value, guarded product, status, variable dictionary and the
// decimal number reader.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "VelMV.h"
#include "VelNumber.h"
#include "VelPower.h"
#include "VelStatus.h"
#include "VelVarList.h"

using VelCommon_940::VelMV;
using VelCommon_940::VelStatus;
using VelMath_940::VelPower;
using namespace VelXML_940;

TEST(VelMV, MissingValueAndGuardedProduct) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(VelMV::Missing(), -inf);
    EXPECT_TRUE(VelMV::IsMissing(std::nan("")));
    EXPECT_FALSE(VelMV::IsMissing(inf));
    EXPECT_FALSE(VelMV::IsMissing(-DBL_MAX));

    EXPECT_EQ(VelPower::Multiply(1.5, -4.0), -6.0);
    EXPECT_EQ(VelPower::Multiply(DBL_MAX, 1.0), DBL_MAX);
    for (double product : {VelPower::Multiply(DBL_MAX, 2.0), VelPower::Multiply(-1e200, 1e200),
                           VelPower::Multiply(VelMV::Missing(), 0.0),
                           VelPower::Multiply(2.0, std::nan("")), VelPower::Multiply(0.0, inf)}) {
        EXPECT_EQ(product, VelMV::Missing());
    }
}

TEST(VelStatus, EqualityIgnoresDetailAndDataDefaultsToMinusOne) {
    VelStatus warning(200068, true);
    VelStatus detailed(200068, true);
    detailed.SetDiscreteDatum(0, 7);
    detailed.SetMessage("field x");
    EXPECT_TRUE(warning.IsWarning() && !warning.IsError());
    EXPECT_EQ(warning, detailed);
    EXPECT_NE(warning, VelStatus(200068, false));
    EXPECT_NE(warning, VelStatus(200069, true));

    VelStatus error(3, false);
    error.SetDiscreteDatum(2, 5);
    EXPECT_EQ(error.GetDiscreteDatum(0), -1);
    EXPECT_EQ(error.GetDiscreteDatum(2), 5);
    EXPECT_EQ(error.GetDiscreteDatum(3), -1);
}

namespace {

std::vector<VelCategory> Iris() {
    return {{"setosa", 1.0, ""}, {"versicolor", 2.0, "Versicolour"}, {"virginica", 3.0, ""}};
}

}  // namespace

TEST(VelValueTable, LookupsOutsideTheRangeAndDeclaredMissing) {
    VelValueTable table(Iris(), {-9.0}, {"NA"});
    std::string text = "stale";
    EXPECT_FALSE(table.GetValueText(text, 3));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(VelMV::IsMissing(table.GetNumericValue(-1)));
    EXPECT_EQ(table.GetNumericValue(1), 2.0);

    EXPECT_TRUE(table.IsMissingValue(-9.0));
    EXPECT_TRUE(table.IsMissingValue(std::nan("")));
    EXPECT_FALSE(table.IsMissingValue(1.0));
    EXPECT_TRUE(table.IsMissingText("NA"));
    EXPECT_TRUE(table.IsMissingText(""));
    EXPECT_FALSE(table.IsMissingText("setosa"));
}

TEST(VelCatVar, CopiesCarryEverythingAndReadTheirOwnTable) {
    VelCatVar plain("plain", kNumericCategorical, {{"1", 1.0, ""}, {"2", 2.0, ""}});
    EXPECT_TRUE(plain.GetCategoryLabels()->GetLabels().empty());

    auto source = std::make_unique<VelCatVar>("species", kStringCategorical, Iris());
    source->SetLabel("Iris species");
    source->SetFormat(kFormatDate);
    source->ValueTable().SetMissing({-9.0}, {"NA"});
    VelCatVar assigned = plain;
    assigned = *source;
    VelCatVar copied(*source);
    // A copy whose labels still read the source's table would see this change.
    source->ValueTable() = VelValueTable({{"rose", 9.0, "Rose"}}, {}, {});

    for (const VelCatVar* copy : {&assigned, &copied}) {
        std::string name, label, text;
        copy->GetName(name);
        copy->GetLabel(label);
        EXPECT_EQ(name + "|" + label, "species|Iris species");
        EXPECT_EQ(copy->GetKind(), kStringCategorical);
        EXPECT_EQ(copy->GetFormat(), kFormatDate);
        EXPECT_EQ(copy->GetCategoryCount(), 3);
        EXPECT_TRUE(copy->GetValueTable()->IsMissingText("NA"));
        EXPECT_TRUE(copy->GetValueTable()->IsMissingValue(-9.0));
        // The labels list stops at the last labelled category.
        EXPECT_EQ(copy->GetCategoryLabels()->GetLabels(),
                  (std::vector<std::string>{"", "Versicolour"}));
        EXPECT_TRUE(copy->GetCategoryLabels()->GetValueText(text, 2));
        EXPECT_EQ(text, "virginica");
    }
}

namespace {

class CountedVar : public VelContVar {
public:
    CountedVar(const std::string& name, int* deleted) : VelContVar(name), deleted_(deleted) {}
    ~CountedVar() override { ++*deleted_; }

private:
    int* deleted_;
};

}  // namespace

TEST(VelVarList, LookupBoundsAndOwnership) {
    int deleted = 0;
    {
        VelVarList list;
        EXPECT_EQ(list.Add(new CountedVar("x", &deleted)), 0);
        EXPECT_EQ(list.Add(new VelCatVar("y", kStringCategorical, Iris())), 1);
        EXPECT_EQ(list.Add(new CountedVar("z", &deleted)), 2);
        EXPECT_EQ(list.FindVariable("z"), 2);
        EXPECT_EQ(list.FindVariable("Z"), -1);
        EXPECT_EQ(list.GetVarAt(1)->GetKind(), kStringCategorical);
        EXPECT_EQ(list.GetVarAt(-1), nullptr);
        EXPECT_EQ(list.GetVarAt(3), nullptr);
        const auto* x = dynamic_cast<const VelContVar*>(list.GetVarAt(0));
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(x->GetMin(), -DBL_MAX);
        EXPECT_EQ(x->GetMax(), DBL_MAX);
    }
    EXPECT_EQ(deleted, 2);
}

TEST(VelVarList, FindsEachOfManyFieldsByNameUntilCleared) {
    // Looked up one by one, as a settings document of this many fields is read.
    const int count = 200000;
    VelVarList list;
    for (int i = 0; i < count; ++i) {
        list.Add(new VelContVar("f" + std::to_string(i)));
    }
    int found = 0;
    for (int i = 0; i < count; ++i) {
        found += list.FindVariable("f" + std::to_string(i)) == i ? 1 : 0;
    }
    EXPECT_EQ(found, count);
    EXPECT_EQ(list.FindVariable("f200000"), -1);
    // A second field of the same name leaves the first one found.
    EXPECT_EQ(list.Add(new VelContVar("f7")), count);
    EXPECT_EQ(list.FindVariable("f7"), 7);

    list.Clear();
    EXPECT_EQ(list.FindVariable("f7"), -1);
    list.Add(new VelContVar("f9"));
    EXPECT_EQ(list.FindVariable("f9"), 0);
}

namespace {

// The value DecimalToDouble reads from all of `text`, or NaN when it fails or stops early.
double Decimal(const char* text) {
    double value = std::nan("");
    const char* end = text + std::strlen(text);
    const auto result = VelCommon_940::DecimalToDouble(text, end, value);
    return result.ec == std::errc() && result.ptr == end ? value : std::nan("");
}

}  // namespace

TEST(DecimalToDouble, TooCloseToZeroReadsAsTheNearestDoubleAndOnlyTooLargeFails) {
    for (const char* zero : {"1e-400", "2.4703282292062327e-324", "0.0001e-320", "1000e-330",
                             "1e-99999999999999999999"}) {
        EXPECT_EQ(Decimal(zero), 0.0) << zero;
        EXPECT_FALSE(std::signbit(Decimal(zero))) << zero;
    }
    EXPECT_TRUE(std::signbit(Decimal("-1e-400")));
    EXPECT_EQ(Decimal("2.4703282292062328e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(Decimal("1.7976931348623157e308"), DBL_MAX);

    for (const char* large : {"1.8e308", "-1e400", "100000e99999", "0.1e310"}) {
        double value = 5.0;
        const auto result =
            VelCommon_940::DecimalToDouble(large, large + std::strlen(large), value);
        EXPECT_EQ(result.ec, std::errc::result_out_of_range) << large;
        EXPECT_EQ(value, 5.0) << large;
    }
}
