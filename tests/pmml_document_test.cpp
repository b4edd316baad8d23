// The model document as a whole: skeleton and header, progress and temporary files, the data
// dictionary, the settings echo and mining schema, encodings, and exports that must write
// nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>

#include "PmmlTestSupport.h"
#include "TestSources.h"
#include "knn/core/KNNFactory.h"
#include "knn/selection/KNNFeatureSelection.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/tables/KNNTableFormat.h"

using namespace knn_test;
using KNN_800::FormatDouble;
using KNN_800::test::CountdownChecker;
using KNN_800::test::VectorRecordSource;
using VelCommon_940::ExportOptions;

namespace {

// id, x1, x2, x3, c, y, cls, focal, fold, label, then any extra fields.
std::vector<double> Case(double id, double x1, double cls, std::vector<double> extra = {}) {
    std::vector<double> values = {id, x1, 0, 0.5, 0, 10 * x1, cls, 1, 0, 0};
    values.insert(values.end(), extra.begin(), extra.end());
    return values;
}

VectorRecordSource SixCases(std::vector<double> extra = {}) {
    VectorRecordSource source;
    const double x1[] = {0, 1, 3, 7, 8, 10};
    for (int i = 0; i < 6; ++i) {
        source.Add(Case(i + 1, x1[i], i < 3 ? 0 : 1, extra));
    }
    return source;
}

SettingsDocument Classification(const std::string& tempFileDir) {
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Predictor("x1")
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", tempFileDir);
    return d;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> Names(const std::vector<const XmlNode*>& nodes,
                               const std::string& attribute = "name") {
    std::vector<std::string> names;
    for (const XmlNode* node : nodes)
        names.push_back(node->Attr(attribute));
    return names;
}

// Records, per notification, the stage code and the temporary files present at that moment.
class ListingSink : public VelCommon_940::ProgressSink {
public:
    explicit ListingSink(const ScratchDir& dir) : dir(dir) {}
    void Notify(VelCommon_940::ProgressReport* report) override {
        stages.push_back(report->DiscreteMeasure("ReportStage"));
        files.push_back(dir.Files());
    }
    std::vector<int> stages;
    std::vector<std::vector<std::string>> files;

private:
    const ScratchDir& dir;
};

}  // namespace

TEST(PmmlDocument, SkeletonHeaderStagesAndTemporaryFiles) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d = Classification(dir.Prefix());
    d.Param("fieldFormat", "string", "&lt;Field name=&quot;x1&quot; decimals=&quot;2&quot;/&gt;");
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(e.Build(d, source));
    ListingSink sink(dir);
    e.fixture.reader.Settings()->SetProgressSink(&sink);

    ASSERT_TRUE(e.Export().IsOK()) << e.status.GetMessage();
    EXPECT_EQ(e.document.rfind("<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<PMML ", 0), 0u);
    const XmlNode& root = e.root;
    EXPECT_EQ(root.AttrNames(),
              (std::vector<std::string>{"version", "xmlns", "xmlns:xsi", "xsi:schemaLocation"}));
    EXPECT_EQ(root.Attr("version"), "4.3");
    EXPECT_EQ(root.Attr("xsi:schemaLocation"), "http://www.dmg.org/PMML-4_3 pmml-4-3.xsd");
    EXPECT_EQ(root.ChildNames(),
              (std::vector<std::string>{"Header", "MiningBuildTask", "DataDictionary", "Extension",
                                        "Extension"}));
    EXPECT_EQ(Names(root.All("Extension")),
              (std::vector<std::string>{"DataDictionaryFieldProperties", "Orvex Models"}));
    EXPECT_EQ(root.All("Extension")[0]->Attr("extender"), KNN_800::kPMMLExtender);
    const XmlNode& fieldProperties = *root.All("Extension")[0];
    ASSERT_EQ(fieldProperties.ChildNames(), std::vector<std::string>{"Field"});
    EXPECT_EQ(fieldProperties.children[0].Attr("decimals"), "2");

    // Defaults without export options.
    const XmlNode& header = *root.Child("Header");
    EXPECT_EQ(header.Attr("copyright"), KNN_800::kPMMLCopyright);
    EXPECT_EQ(header.Child("Application")->AttrNames(), std::vector<std::string>{"name"});
    EXPECT_EQ(header.Child("Application")->Attr("name"), "NearestNeighbor");

    const XmlNode& models = e.Models();
    EXPECT_EQ(models.ChildNames(),
              (std::vector<std::string>{"SimpleTable", "NearestNeighborModel"}));
    EXPECT_EQ(models.children[0].Attr("name"), "originalData");
    const XmlNode& model = e.Model(0);
    EXPECT_EQ(model.AttrNames(), (std::vector<std::string>{"modelName", "response"}));
    EXPECT_EQ(model.Attr("modelName"), "cls");
    EXPECT_EQ(Names(model.All("SimpleTable")),
              (std::vector<std::string>{"AnalysisOptions", "neighborsDistances",
                                        "predictionProbability"}));
    EXPECT_EQ(model.ChildNames(),
              (std::vector<std::string>{"SimpleTable", "MiningSchema", "SimpleTable", "SimpleTable",
                                        "ComplexTable"}));

    // Stages in order; the field properties and every case table sit in their own file,
    // named after TempFileDir, until the writer is gone.
    EXPECT_EQ(sink.stages, (std::vector<int>{9, 10, 11}));
    ASSERT_EQ(sink.files.size(), 3u);
    EXPECT_EQ(sink.files[0].size(), 2u);
    EXPECT_EQ(sink.files[1].size(), 4u);
    EXPECT_EQ(sink.files[2].size(), 4u);
    for (const std::string& name : sink.files[2]) {
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(_knn[0-9]+\.tmp)"))) << name;
    }
    EXPECT_TRUE(dir.Files().empty());

    // Options replace the defaults; empty texts fall back to them exactly.
    const ExportOptions named{false, "host", "2.1", "(c) host"};
    ASSERT_TRUE(e.Export(&named).IsOK());
    const XmlNode& application = *e.root.Child("Header")->Child("Application");
    EXPECT_EQ(e.root.Child("Header")->Attr("copyright"), "(c) host");
    EXPECT_EQ(application.AttrNames(), (std::vector<std::string>{"name", "version"}));
    EXPECT_EQ(application.Attr("name") + " " + application.Attr("version"), "host 2.1");
    ASSERT_TRUE(e.Export().IsOK());
    const std::string defaults = e.document;
    const ExportOptions empty{false, "", "", ""};
    ASSERT_TRUE(e.Export(&empty).IsOK());
    EXPECT_EQ(e.document, defaults);
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PmmlDocument, DataDictionaryDescribesEveryField) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d;
    d.ExtraField(
         "<Field name=\"when\" kind=\"continuous\" format=\"date\" min=\"0\" max=\"5e4\"/>"
         "<Field name=\"grade\" kind=\"categorical-string\" label=\"Grade\">"
         "<Category value=\"A\" label=\"top\"/><Category value=\"B\" label=\"mid\"/>"
         "<Category value=\"C\"/></Field>")
        .Param("CaseIDVar", "string", "id")
        .Param("FocalVar", "string", "label")
        .Param("FocalCaseValue", "string", "q")
        .Target("cls")
        .Predictor("x1")
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = SixCases({100, 1});
    ASSERT_TRUE(e.Build(d, source));
    ASSERT_TRUE(e.Export().IsOK());

    const XmlNode& dictionary = *e.root.Child("DataDictionary");
    EXPECT_EQ(dictionary.Attr("numberOfFields"), "12");
    const std::vector<const XmlNode*> fields = dictionary.All("DataField");
    ASSERT_EQ(Names(fields), (std::vector<std::string>{"id", "x1", "x2", "x3", "c", "y", "cls",
                                                       "focal", "fold", "label", "when", "grade"}));
    const auto type = [&](int i) {
        return fields[i]->Attr("optype") + "/" + fields[i]->Attr("dataType");
    };
    // Only the case identifier is an integer; a date format wins over the kind.
    EXPECT_EQ(type(kId), "continuous/integer");
    EXPECT_EQ(type(kX2), "continuous/double");
    EXPECT_EQ(type(10), "continuous/date");
    EXPECT_EQ(type(kFocal), "categorical/double");
    EXPECT_EQ(type(11), "categorical/string");

    const XmlNode& interval = *fields[kX2]->Child("Interval");
    EXPECT_EQ(interval.AttrNames(),
              (std::vector<std::string>{"closure", "leftMargin", "rightMargin"}));
    EXPECT_EQ(interval.Attr("closure") + " " + interval.Attr("leftMargin") + " " +
                  interval.Attr("rightMargin"),
              "openClosed -5 5");
    EXPECT_EQ(fields[10]->Child("Interval")->Attr("rightMargin"), "50000");

    // Display labels where the categories have them; the third category has none.
    const XmlNode& grade = *fields[11];
    EXPECT_EQ(grade.AttrNames(),
              (std::vector<std::string>{"name", "displayName", "optype", "dataType"}));
    EXPECT_EQ(grade.Attr("displayName"), "Grade");
    const std::vector<const XmlNode*> values = grade.All("Value");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0]->AttrNames(),
              (std::vector<std::string>{"value", "displayValue", "property"}));
    EXPECT_EQ(Names(values, "value"), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(Names(values, "displayValue"), (std::vector<std::string>{"top", "mid", ""}));
    EXPECT_EQ(values[2]->AttrNames(), (std::vector<std::string>{"value", "property"}));
    EXPECT_EQ(Names(fields[kFocal]->All("Value"), "value"), (std::vector<std::string>{"0", "1"}));

    // The string focal field names its focal value, ahead of its values as the schema wants;
    // the numeric one does not.
    const XmlNode& label = *fields[kLabel];
    EXPECT_EQ(label.ChildNames(), (std::vector<std::string>{"Extension", "Value", "Value"}));
    const XmlNode& flag = label.children[0];
    EXPECT_EQ(flag.AttrNames(), (std::vector<std::string>{"extender", "name", "value"}));
    EXPECT_EQ(flag.Attr("name") + "=" + flag.Attr("value"), "flagTypeTrueValue=q");
    EXPECT_EQ(fields[kFocal]->Child("Extension"), nullptr);
}

namespace {

// 40 cases; cls follows x1 (with noise), x2 and x3 are noise; c cycles through a, b, c.
VectorRecordSource NoisyCases() {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    for (int i = 0; i < 40; ++i) {
        const double x1 = 10.0 * unit(random);
        const double x2 = -5.0 + 10.0 * unit(random);
        const double x3 = unit(random);
        const double cls = x1 + 2.0 * unit(random) > 6.0 ? 1 : 0;
        source.Add({double(i + 1), x1, x2, x3, double(i % 3), 0, cls, 1, double(i % 3), 0});
    }
    return source;
}

}  // namespace

TEST(PmmlDocument, SettingsEchoAndMiningSchemaAfterSelection) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Predictor("x1")
        .Predictor("x2")
        .Predictor("x3")
        .Predictor("c")
        .Param("IsFeatureSelection", "bool", "true")
        .Array("ForcedVariables", "string", {"x3"})
        .Param("NSpecifiedFeatures", "int", "1")
        .Param("IsFeatureWeight", "bool", "true")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = NoisyCases();
    ASSERT_TRUE(e.Build(d, source));
    const KNN_800::KNNSingleResponseModel& model = e.fixture.Model(0);
    // The forced field comes first in the model's list, so list order and candidate order
    // differ; the importances differ too, so a mix-up would show.
    ASSERT_EQ(model.Features(), (std::vector<int>{kX3, kX1}));
    ASSERT_NE(model.Importances()[0], model.Importances()[1]);
    ASSERT_TRUE(e.Export().IsOK());

    const XmlNode& parameters = *e.root.Child("MiningBuildTask")
                                     ->Child("Extension", "Orvex Model Settings")
                                     ->Child("Parameters");
    std::vector<std::string> echo;
    for (const XmlNode& p : parameters.children) {
        echo.push_back(p.Attr("name") +
                       (p.Has("type") ? "(" + p.Attr("type") + ")=" + p.Attr("value") : ""));
        EXPECT_EQ(p.AttrNames().front(), "name");
        for (const XmlNode* value :
             p.Has("type") ? std::vector<const XmlNode*>{} : p.Child("ListValue")->All("Value")) {
            echo.back() += " " + value->Attr("value");
        }
    }
    EXPECT_EQ(echo, (std::vector<std::string>{
                        "CaseIDVar(fieldName)=id", "FocalVar(fieldName)=focal",
                        "RescaleMethod(enum)=true", "DistMetric(enum)=Euclidean",
                        "ComputePredValFunc(enum)=Mean", "use_caselabels(boolean)=false",
                        "IsFeatureImportance(boolean)=true", "IsFeatureSelection(boolean)=true",
                        "IsAutoFeatureSelection(boolean)=false", "IsFeatureWeight(boolean)=true",
                        "IsAutoKSelection(boolean)=false", "NSpecifiedFeatures(integer)=1",
                        "SpecifiedK(integer)=3", "VFoldValue(integer)=10",
                        "TempFileDir(string)=" + dir.Prefix(), "ForcedVariables x3", "target cls",
                        "inputs x1 x2 x3 c"}));

    // Candidates in dictionary order; dropped ones are supplementary; importance and weight
    // are those of the field, wherever it stands in the model's list.
    const XmlNode& schema = *e.Model(0).Child("MiningSchema");
    std::vector<std::string> fields;
    for (const XmlNode& f : schema.children) {
        fields.push_back(f.Attr("name") + ":" + f.Attr("usageType"));
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"x1:active", "x2:supplementary", "x3:active",
                                                "c:supplementary", "cls:predicted"}));
    const XmlNode& x1 = schema.children[0];
    const XmlNode& x3 = schema.children[2];
    EXPECT_EQ(x1.AttrNames(), (std::vector<std::string>{"name", "importance", "usageType"}));
    EXPECT_EQ(x1.Attr("importance"), FormatDouble(model.Importances()[1]));
    EXPECT_EQ(x3.Attr("importance"), FormatDouble(model.Importances()[0]));
    ASSERT_NE(x1.Child("Extension"), nullptr);
    EXPECT_EQ(x1.Child("Extension")->AttrNames(), (std::vector<std::string>{"name", "value"}));
    EXPECT_EQ(x1.Child("Extension")->Attr("value"), FormatDouble(model.Weights()[1]));
    EXPECT_EQ(x3.Child("Extension")->Attr("value"), FormatDouble(model.Weights()[0]));
    EXPECT_TRUE(schema.children[1].children.empty());

    // The forward selection's history: the forced list alone, then the added feature.
    const XmlNode& history = *e.Model(0).Table("FeatureSelection");
    const std::vector<double>& errors =
        e.fixture.model->Selection()->GetFeatureSelection()->GetErrorHistories()[0];
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(history.Child("Metadata")->Attr("value"), "forwardSelection");
    EXPECT_EQ(history.Columns(), "model;features;error;selected");
    EXPECT_EQ(history.Rows(),
              (std::vector<std::string>{"0;x3;" + FormatDouble(errors[0]) + ";no",
                                        "1;x1;" + FormatDouble(errors[1]) + ";yes"}));
    // Forced fields are not counted as selected.
    EXPECT_EQ(e.Model(0).Table("AnalysisOptions")->Rows(),
              std::vector<std::string>{"Euclidean;Normalized;one-of-c;Mean;3;1"});
}

TEST(PmmlDocument, NonAsciiNamesInBothEncodings) {
    ScratchDir dir;
    const std::string name =
        "Gr\xC3\xB6\xC3\x9F"
        "e \xE2\x82\xAC";  // "Größe €"
    ExportedModel e;
    SettingsDocument d;
    d.ExtraField("<Field name=\"" + name + "\" kind=\"continuous\" min=\"0\" max=\"10\"/>")
        .Roles()
        .Target("cls")
        .Predictor(name)
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = SixCases({0});
    for (VelCommon_940::Record& record : source.records) {
        record.Values()[10] = record[kX1];
    }
    ASSERT_TRUE(e.Build(d, source));

    const ExportOptions utf8{true, "", "", ""};
    ASSERT_TRUE(e.Export(&utf8).IsOK());
    EXPECT_EQ(e.document.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(e.document.find("<DataField name=\"" + name + "\""), std::string::npos);
    EXPECT_NE(e.document.find(";focal;fold;label;" + name + "</ColumnNames>"), std::string::npos);
    EXPECT_EQ(e.Model(0).Child("MiningSchema")->children[0].Attr("name"), name);

    ASSERT_TRUE(e.Export().IsOK());
    EXPECT_TRUE(std::all_of(e.document.begin(), e.document.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    EXPECT_NE(e.document.find("Gr&#xF6;&#xDF;e &#x20AC;"), std::string::npos);
    EXPECT_EQ(e.root.Child("DataDictionary")->All("DataField")[10]->Attr("name"), name);
    EXPECT_TRUE(EndsWith(e.Models().Table("originalData")->Columns(), ";" + name));
}

TEST(PmmlDocument, FailedExportsWriteNothingAndLeaveNoFiles) {
    ScratchDir dir;
    {
        // A TempFileDir that does not exist, with and without field properties.
        for (const bool withFieldFormat : {false, true}) {
            ExportedModel e;
            SettingsDocument d = Classification(dir.Prefix() + "missing/");
            if (withFieldFormat)
                d.Param("fieldFormat", "string", "&lt;a/&gt;");
            VectorRecordSource source = SixCases();
            ASSERT_TRUE(e.Build(d, source));
            KNN_800::test::CountingSink sink;
            e.fixture.reader.Settings()->SetProgressSink(&sink);
            EXPECT_EQ(e.Export().GetErrorCode(), 200057);
            EXPECT_EQ(e.document, "");
            // The original data stage is reported even when it fails; nothing after it.
            EXPECT_EQ(sink.values, withFieldFormat ? std::vector<int>{} : std::vector<int>{9});
        }
    }
    // A path through a regular file cannot hold files either.
    std::ofstream(dir.Path() + "/plain") << "x";
    {
        ExportedModel e;
        SettingsDocument d = Classification(dir.Prefix() + "plain/");
        VectorRecordSource source = SixCases();
        ASSERT_TRUE(e.Build(d, source));
        EXPECT_EQ(e.Export().GetErrorCode(), 200057);
        EXPECT_EQ(e.document, "");
    }
    std::filesystem::remove(dir.Path() + "/plain");

    // Interruption while the original data are written (after 2 rows) and while the cases
    // are scored (6 original rows, then 2 scored cases), through the host interface.
    for (const int callsBeforeStop : {2, 8}) {
        SCOPED_TRACE(callsBeforeStop);
        KNN_800::KNNFactory factory;
        std::istringstream settings(Classification(dir.Prefix()).Xml());
        std::unique_ptr<VelCommon_940::IVelAlgorithm> algorithm(
            factory.CreateVelAlgorithm(settings));
        ASSERT_NE(algorithm, nullptr);
        VectorRecordSource source = SixCases();
        ASSERT_TRUE(algorithm->Build(source).IsOK());
        CountdownChecker checker(callsBeforeStop);
        algorithm->SetInterruptChecker(&checker);
        std::ostringstream out;
        EXPECT_EQ(algorithm->Export(out, nullptr).GetErrorCode(), 1);
        EXPECT_EQ(checker.calls, callsBeforeStop + 1);
        EXPECT_EQ(out.str(), "");
        EXPECT_TRUE(dir.Files().empty());
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PmmlDocument, ExportThroughTheAlgorithm) {
    ScratchDir dir;
    KNN_800::KNNFactory factory;
    std::istringstream settings(Classification(dir.Prefix()).Xml());
    std::unique_ptr<VelCommon_940::IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(settings));
    ASSERT_NE(algorithm, nullptr);
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(algorithm->Build(source).IsOK());
    std::ostringstream out;
    const VelCommon_940::VelStatus status = algorithm->Export(out, nullptr);
    ASSERT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
    EXPECT_TRUE(MatchesSchema(out.str()));
    EXPECT_EQ(ParseXml(out.str()).Child("Header")->Child("Application")->Attr("name"),
              "NearestNeighbor");
    EXPECT_TRUE(dir.Files().empty());
}
