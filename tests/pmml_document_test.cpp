// The model document as a whole: skeleton and header, progress and temporary files, the data
// dictionary, the settings echo and mining schema, encodings, and exports that must write
// nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "PmmlTestSupport.h"
#include "TestSources.h"
#include "knn/api/KNNFactory.h"
#include "knn/data/KNNContVariable.h"
#include "knn/selection/KNNFeatureSelection.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/tables/KNNTableFormat.h"

using namespace knn_test;
using KNN_800::FormatDouble;
using KNN_800::test::VectorRecordSource;
using VelCommon_940::ExportOptions;
using Lines = std::vector<std::string>;

namespace {

// Six cases along x1 = 0, 1, 3, 7, 8, 10; cls 0 for the first three. `extra` is appended to
// every record (fields added with ExtraField).
VectorRecordSource SixCases(std::vector<double> extra = {}) {
    VectorRecordSource source;
    const double x1[] = {0, 1, 3, 7, 8, 10};
    for (int i = 0; i < 6; ++i) {
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        std::vector<double> values = {i + 1.0, x1[i], 0, 0.5, 0, 0, i < 3 ? 0.0 : 1.0, 1, 0, 0};
        values.insert(values.end(), extra.begin(), extra.end());
        source.Add(values);
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

// Per notification: the stage code and how many temporary files exist at that moment.
class ListingSink : public VelCommon_940::ProgressSink {
public:
    explicit ListingSink(const ScratchDir& dir) : dir(dir) {}
    void Notify(VelCommon_940::ProgressReport* report) override {
        stages.push_back(report->DiscreteMeasure("ReportStage"));
        files.push_back(dir.Files().size());
    }
    std::vector<int> stages;
    std::vector<size_t> files;

private:
    const ScratchDir& dir;
};

// `document` without its case tables, each with the line break before it; `removed` counts them.
std::string WithoutCaseTables(std::string document, size_t& removed) {
    removed = 0;
    for (size_t at = 0; (at = document.find("<SimpleTable", at)) != std::string::npos;) {
        const size_t nameAt = document.find_first_not_of(" \n", at + 12);
        bool caseTable = false;
        for (const char* name : {"originalData", "neighborsDistances", "predictionProbability"}) {
            const std::string attribute = "name=\"" + std::string(name) + "\">";
            caseTable |= document.compare(nameAt, attribute.size(), attribute) == 0;
        }
        if (!caseTable) {
            at += 12;
            continue;
        }
        const size_t lineStart = document.rfind('\n', at);
        const std::string end = "</SimpleTable>";
        const size_t endAt = document.find(end, at);
        document.erase(lineStart, endAt + end.size() - lineStart);
        at = lineStart;
        ++removed;
    }
    return document;
}

}  // namespace

TEST(PmmlDocument, SkeletonHeaderStagesAndTemporaryFiles) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d = Classification(dir.Prefix());
    d.Param("fieldFormat", "string", "&lt;Field name=&quot;x1&quot; decimals=&quot;2&quot;/&gt;");
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(e.Build(d, source));
    ListingSink sink(dir);
    e.fixture.context.SetProgressSink(&sink);
    ASSERT_TRUE(e.Export().IsOK()) << e.status.GetMessage();

    const std::string& doc = e.document;
    EXPECT_EQ(doc.substr(0, doc.find('\n', 50)),
              "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<PMML version=\"4.3\" "
              "xmlns=\"http://www.dmg.org/PMML-4_3\" "
              "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
              "xsi:schemaLocation=\"http://www.dmg.org/PMML-4_3 pmml-4-3.xsd\">");
    EXPECT_EQ(TagLines(doc, 2),
              (Lines{"<Header copyright=\"Copyright (c) 2026 the knn component authors\">",
                     "<MiningBuildTask>", "<DataDictionary numberOfFields=\"10\">", "<Extension",
                     "<Extension extender=\"orvex.knn\" name=\"Orvex Models\">"}));
    EXPECT_EQ(Element(doc, "<Header"),
              "<Header copyright=\"Copyright (c) 2026 the knn component authors\">\n"
              "    <Application name=\"NearestNeighbor\"/>\n  </Header>");
    // The field properties are copied as they stand.
    EXPECT_EQ(
        Element(doc, "<Extension\n"),
        "<Extension\n    extender=\"orvex.knn\"\n    name=\"DataDictionaryFieldProperties\">\n"
        "    <Field name=\"x1\" decimals=\"2\"/>\n  </Extension>");
    EXPECT_EQ(TagLines(Element(doc, "<NearestNeighborModels>"), 6),
              (Lines{"<SimpleTable", "<NearestNeighborModel modelName=\"cls\" response=\"cls\">"}));
    EXPECT_EQ(TagLines(e.Model(0), 8),
              (Lines{"<SimpleTable name=\"AnalysisOptions\">", "<MiningSchema>", "<SimpleTable",
                     "<SimpleTable", "<ComplexTable name=\"modelQuality\">"}));

    // Stages in order. The field properties and each case table have a file named after
    // TempFileDir until the writer is gone.
    EXPECT_EQ(sink.stages, (std::vector<int>{9, 10, 11}));
    EXPECT_EQ(sink.files, (std::vector<size_t>{2, 4, 4}));
    EXPECT_TRUE(dir.Files().empty());

    // Options replace the defaults; empty texts fall back to them exactly.
    const std::string defaults = doc;
    const ExportOptions named{false, "host", "2.1", "(c) host"};
    ASSERT_TRUE(e.Export(&named).IsOK());
    EXPECT_EQ(Element(e.document, "<Header"),
              "<Header copyright=\"(c) host\">\n"
              "    <Application name=\"host\" version=\"2.1\"/>\n  </Header>");
    const ExportOptions empty{false, "", "", ""};
    ASSERT_TRUE(e.Export(&empty).IsOK());
    EXPECT_EQ(e.document, defaults);
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PmmlDocument, DataDictionaryInBothEncodings) {
    ScratchDir dir;
    const std::string name =
        "Gr\xC3\xB6\xC3\x9F"
        "e \xE2\x82\xAC";  // "Größe €", the one predictor
    ExportedModel e;
    SettingsDocument d;
    d.ExtraField("<Field name=\"" + name +
                 "\" kind=\"continuous\" min=\"0\" max=\"10\"/>"
                 "<Field name=\"when\" kind=\"continuous\" format=\"date\" min=\"0\" max=\"9\"/>"
                 "<Field name=\"grade\" kind=\"categorical-string\" label=\"Grade\">"
                 "<Category value=\"A\" label=\"top\"/><Category value=\"B\" label=\"mid\"/>"
                 "<Category value=\"C\"/></Field>")
        .Param("CaseIDVar", "string", "id")
        .Param("FocalVar", "string", "label")
        .Param("FocalCaseValue", "string", "q")
        .Target("cls")
        .Predictor(name)
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = SixCases({0, 0, 1});
    for (VelCommon_940::Record& record : source.records)
        record.Values()[kExtra] = record[kX1];
    ASSERT_TRUE(e.Build(d, source));

    const ExportOptions utf8{true, "", "", ""};
    ASSERT_TRUE(e.Export(&utf8).IsOK());
    EXPECT_EQ(e.document.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(e.document.find("<DataField name=\"" + name + "\""), std::string::npos);
    EXPECT_NE(e.document.find(";label;" + name + ";when;grade</ColumnNames>"), std::string::npos);
    // Otherwise pure ASCII, also in the tables that went through temporary files.
    ASSERT_TRUE(e.Export().IsOK());
    EXPECT_TRUE(std::all_of(e.document.begin(), e.document.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    EXPECT_NE(e.document.find(";label;Gr&#xF6;&#xDF;e &#x20AC;;when;"), std::string::npos);

    // The case identifier is the only integer; a date format wins over the kind; categories
    // with their display labels where they have one; a string focal field names its focal
    // value (ahead of its values, as the schema wants).
    const std::string dictionary = Element(e.document, "<DataDictionary");
    EXPECT_EQ(TagLines(dictionary, 0)[0], "<DataDictionary numberOfFields=\"13\">");
    EXPECT_EQ(TagLines(dictionary, 4).size(), 13u);
    const auto field = [&](const char* n) {
        return Element(dictionary, "<DataField name=\"" + std::string(n) + "\"");
    };
    EXPECT_EQ(field("id"),
              "<DataField name=\"id\" optype=\"continuous\" dataType=\"integer\">\n"
              "      <Interval closure=\"openClosed\" leftMargin=\"1\" rightMargin=\"1000\"/>\n"
              "    </DataField>");
    EXPECT_EQ(TagLines(field("x2") + "\n" + field("when"), 0),
              (Lines{"<DataField name=\"x2\" optype=\"continuous\" dataType=\"double\">",
                     "<DataField name=\"when\" optype=\"continuous\" dataType=\"date\">"}));
    EXPECT_EQ(field("grade"),
              "<DataField name=\"grade\" displayName=\"Grade\" optype=\"categorical\" "
              "dataType=\"string\">\n"
              "      <Value value=\"A\" displayValue=\"top\" property=\"valid\"/>\n"
              "      <Value value=\"B\" displayValue=\"mid\" property=\"valid\"/>\n"
              "      <Value value=\"C\" property=\"valid\"/>\n    </DataField>");
    EXPECT_EQ(field("label"),
              "<DataField name=\"label\" optype=\"categorical\" dataType=\"string\">\n"
              "      <Extension extender=\"orvex.knn\" name=\"flagTypeTrueValue\" value=\"q\"/>\n"
              "      <Value value=\"p\" property=\"valid\"/>\n"
              "      <Value value=\"q\" property=\"valid\"/>\n    </DataField>");
    EXPECT_EQ(TagLines(field("focal"), 0)[0],
              "<DataField name=\"focal\" optype=\"categorical\" dataType=\"double\">");
}

TEST(PmmlDocument, TextsThatAreNotUtf8AreReplacedInBothEncodings) {
    ScratchDir dir;
    ExportedModel e;
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(e.Build(Classification(dir.Prefix()), source));
    // A host may hand over a dictionary whose texts are not UTF-8 (the settings parser never
    // makes one).
    e.fixture.reader.Dictionary().GetVarAt(kX1)->SetLabel(
        "a\xFF"
        "b\xC3");
    for (const bool utf8 : {true, false}) {
        const ExportOptions options{utf8, "", "", ""};
        ASSERT_TRUE(e.Export(&options).IsOK());  // and valid against the schema
        const std::string replaced = utf8 ? "a\xEF\xBF\xBD"
                                            "b\xEF\xBF\xBD"
                                          : "a&#xFFFD;b&#xFFFD;";
        EXPECT_NE(e.document.find("<DataField name=\"x1\" displayName=\"" + replaced + "\""),
                  std::string::npos);
    }
}

TEST(PmmlDocument, SettingsEchoAndMiningSchemaAfterSelection) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d = FeatureSelection("cls");
    d.Array("ForcedVariables", "string", {"x3"})
        .Param("NSpecifiedFeatures", "int", "1")
        .Param("IsFeatureWeight", "bool", "true")
        .Param("TempFileDir", "string", dir.Prefix());
    // cls follows x1 (with noise); x2 and x3 are noise.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    for (int i = 0; i < 40; ++i) {
        const double x1 = 10.0 * unit(random), x2 = 10.0 * unit(random) - 5.0, x3 = unit(random);
        const double cls = x1 + 2.0 * unit(random) > 6.0 ? 1 : 0;
        source.Add({i + 1.0, x1, x2, x3, i % 3 + 0.0, 0, cls, 1, 0, 0});
    }
    ASSERT_TRUE(e.Build(d, source));
    const KNN_800::KNNSingleResponseModel& model = e.fixture.Model(0);
    // The forced field leads the model's list, so list and candidate order differ.
    ASSERT_EQ(model.Features(), (std::vector<int>{kX3, kX1}));
    ASSERT_NE(model.Importances()[0], model.Importances()[1]);
    ASSERT_TRUE(e.Export().IsOK());

    // Every setting in order (no K range, fold field or error range here), then the lists.
    std::string echo;
    for (const std::string& line : TagLines(Element(e.document, "<Parameters>"), 8)) {
        echo += line.substr(17, line.find('"', 17) - 17) + " ";
    }
    EXPECT_EQ(echo,
              "CaseIDVar FocalVar RescaleMethod DistMetric ComputePredValFunc use_caselabels "
              "IsFeatureImportance IsFeatureSelection IsAutoFeatureSelection IsFeatureWeight "
              "IsAutoKSelection NSpecifiedFeatures SpecifiedK VFoldValue TempFileDir "
              "ForcedVariables target inputs ");
    EXPECT_NE(e.document.find("name=\"use_caselabels\" type=\"boolean\" value=\"false\"/>\n"
                              "        <Parameter name=\"IsFeatureImportance\" type=\"boolean\" "
                              "value=\"true\"/>"),
              std::string::npos);
    EXPECT_EQ(Element(e.document, "<Parameter name=\"inputs\">"),
              "<Parameter name=\"inputs\">\n"
              "          <ListValue>\n"
              "            <Value value=\"x1\"/>\n            <Value value=\"x2\"/>\n"
              "            <Value value=\"x3\"/>\n            <Value value=\"c\"/>\n"
              "          </ListValue>\n        </Parameter>");

    // Candidates in dictionary order, dropped ones supplementary; importance and weight are
    // those of the field, wherever it stands in the model's list.
    const auto active = [&](const char* name, size_t at) {
        return "<MiningField name=\"" + std::string(name) + "\" importance=\"" +
               FormatDouble(model.Importances()[at]) +
               "\" usageType=\"active\">\n            <Extension name=\"weight\" value=\"" +
               FormatDouble(model.Weights()[at]) + "\"/>\n          </MiningField>";
    };
    const std::string schema = Element(e.Model(0), "<MiningSchema>");
    EXPECT_EQ(schema, "<MiningSchema>\n          " + active("x1", 1) +
                          "\n          <MiningField name=\"x2\" usageType=\"supplementary\"/>"
                          "\n          " +
                          active("x3", 0) +
                          "\n          <MiningField name=\"c\" usageType=\"supplementary\"/>"
                          "\n          <MiningField name=\"cls\" usageType=\"predicted\"/>"
                          "\n        </MiningSchema>");

    // The forward selection's history: the forced list alone, then the added feature; the
    // forced field does not count as selected.
    const std::vector<double>& errors =
        e.fixture.model->Selection()->GetFeatureSelection()->GetErrorHistories()[0];
    ASSERT_EQ(errors.size(), 2u);
    const std::string history = Table(e.Model(0), "FeatureSelection");
    EXPECT_NE(history.find("<Metadata name=\"method\" value=\"forwardSelection\"/>\n"
                           "          <RowNames/>\n"
                           "          <ColumnNames>model;features;error;selected</ColumnNames>"),
              std::string::npos);
    EXPECT_EQ(Texts(history), (Lines{"0;x3;" + FormatDouble(errors[0]) + ";no",
                                     "1;x1;" + FormatDouble(errors[1]) + ";yes"}));
    EXPECT_EQ(Texts(Table(e.Model(0), "AnalysisOptions")),
              Lines{"Euclidean;Normalized;one-of-c;Mean;3;1"});
}

// Fixed features are the model's own: the echo names them in their order with their weights,
// and the mining schema shows one that is not a candidate as well.
TEST(PmmlDocument, FixedFeaturesAndDeclaredMissingValuesAreInTheDocument) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d = Classification(dir.Prefix());
    d.Array("SpecifiedFeature", "string", {"x3", "x1"})
        .Array("SpecifiedFeatureWeight", "double", {"2", "0.5"})
        .ExtraField(
            "<Field name=\"m\" kind=\"continuous\" min=\"0\" max=\"1\"><Missing value=\"-99\"/>"
            "<Missing text=\"none\"/></Field>");
    VectorRecordSource source = SixCases({0});
    ASSERT_TRUE(e.Build(d, source));
    ASSERT_TRUE(e.Export().IsOK());
    EXPECT_EQ(Element(e.document, "<Parameter name=\"SpecifiedFeature\">"),
              "<Parameter name=\"SpecifiedFeature\">\n          <ListValue>\n"
              "            <Value value=\"x3\"/>\n            <Value value=\"x1\"/>\n"
              "          </ListValue>\n        </Parameter>");
    EXPECT_EQ(
        Texts(Element(e.document, "<Parameter name=\"SpecifiedFeatureWeight\">"), "ListValue"),
        Lines{"\n            <Value value=\"2\"/>\n            <Value value=\"0.5\"/>\n"
              "          "});
    EXPECT_EQ(TagLines(Element(e.Model(0), "<MiningSchema>"), 10),
              (Lines{"<MiningField name=\"x1\" usageType=\"active\"/>",
                     "<MiningField name=\"x3\" usageType=\"active\"/>",
                     "<MiningField name=\"cls\" usageType=\"predicted\"/>"}));
    EXPECT_EQ(TagLines(Element(e.document, "<DataField name=\"m\""), 6),
              (Lines{"<Interval closure=\"openClosed\" leftMargin=\"0\" rightMargin=\"1\"/>",
                     "<Value value=\"-99\" property=\"missing\"/>",
                     "<Value value=\"none\" property=\"missing\"/>"}));
}

TEST(PmmlDocument, FailedExportsWriteNothingAndLeaveNoFiles) {
    ScratchDir dir;
    std::ofstream(dir.Path() + "/plain") << "x";
    // A TempFileDir that does not exist or runs through a regular file; with field
    // properties the first temporary file is theirs.
    for (const std::string& tempDir : {dir.Prefix() + "missing/", dir.Prefix() + "plain/"}) {
        for (const bool withFieldFormat : {false, true}) {
            ExportedModel e;
            SettingsDocument d = Classification(tempDir);
            if (withFieldFormat)
                d.Param("fieldFormat", "string", "&lt;a/&gt;");
            VectorRecordSource source = SixCases();
            ASSERT_TRUE(e.Build(d, source));
            KNN_800::test::CountingSink sink;
            e.fixture.context.SetProgressSink(&sink);
            EXPECT_EQ(e.Export().GetErrorCode(), 200057);
            EXPECT_EQ(e.document, "");
            // The original data stage is reported even when it fails; nothing after it.
            EXPECT_EQ(sink.values, withFieldFormat ? std::vector<int>{} : std::vector<int>{9});
        }
    }
    std::filesystem::remove(dir.Path() + "/plain");

    // Through the host interface: interrupted while the original data are written (after 2
    // rows) or while the cases are scored (6 rows, then 2 cases); then not interrupted.
    for (const int callsBeforeStop : {2, 8, 1000}) {
        SCOPED_TRACE(callsBeforeStop);
        KNN_800::KNNFactory factory;
        std::istringstream settings(Classification(dir.Prefix()).Xml());
        std::unique_ptr<VelCommon_940::IVelAlgorithm> algorithm(
            factory.CreateVelAlgorithm(settings));
        VectorRecordSource source = SixCases();
        ASSERT_TRUE(algorithm->Build(source).IsOK());
        KNN_800::test::CountdownChecker checker(callsBeforeStop);
        algorithm->SetInterruptChecker(&checker);
        std::ostringstream out;
        const VelCommon_940::VelStatus status = algorithm->Export(out, nullptr);
        if (callsBeforeStop < 1000) {
            // Stopped in the original data: 1; stopped in the scoring pass: its failure.
            EXPECT_EQ(status.GetErrorCode(), callsBeforeStop == 2 ? 1 : 200063);
            EXPECT_EQ(checker.calls, callsBeforeStop + 1);
            EXPECT_EQ(out.str(), "");
        } else {
            EXPECT_TRUE(status.IsOK()) << status.GetMessage();
            EXPECT_TRUE(MatchesSchema(out.str()));
        }
        EXPECT_TRUE(dir.Files().empty());
    }
}

TEST(PmmlDocument, CompactDocumentIsTheFullOneWithoutItsCaseTables) {
    ScratchDir dir;
    // Two targets, one categorical: K chosen by folds, one search serving both; and forward
    // selection with weights, one scoring pass per target.
    SettingsDocument folds = AutoK("cls", 2, 5);
    folds.Target("y").Param("TempFileDir", "string", dir.Prefix());
    SettingsDocument selected = FeatureSelection("cls");
    selected.Target("y")
        .Param("NSpecifiedFeatures", "int", "2")
        .Param("IsFeatureWeight", "bool", "true")
        .Param("TempFileDir", "string", dir.Prefix());
    for (const SettingsDocument* d : {&folds, &selected}) {
        std::mt19937 random(5);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        VectorRecordSource source;
        for (int i = 0; i < 60; ++i) {
            const double x1 = 10.0 * unit(random);
            // id, x1, x2, x3, c, y, cls, focal, fold, label
            source.Add({i + 1.0, x1, 10.0 * unit(random) - 5.0, unit(random), i % 3 + 0.0,
                        10.0 * x1 + 5.0 * unit(random), x1 > 5.0 ? 1.0 : 0.0, 1, i % 3 + 0.0, 0});
        }
        ExportedModel e;
        ASSERT_TRUE(e.Build(*d, source));
        ASSERT_TRUE(e.Export().IsOK()) << e.status.GetMessage();
        const std::string full = e.document;
        ExportOptions compact;
        compact.caseTables = false;
        ASSERT_TRUE(e.Export(&compact).IsOK()) << e.status.GetMessage();  // and schema-valid

        size_t removed = 0;
        EXPECT_EQ(e.document, WithoutCaseTables(full, removed));
        // Four case tables (original data, two neighbour tables, one probability table) gone;
        // the model-quality tables, made from the same scoring pass, stay.
        EXPECT_EQ(removed, 4u);
        EXPECT_NE(e.document.find("<ComplexTable name=\"modelQuality\""), std::string::npos);
        EXPECT_EQ(dir.Files().size(), 0u);

        // Without the model-quality tables as well, the rest is still the same.
        std::string withoutQuality = e.document;
        for (size_t at; (at = withoutQuality.find("<ComplexTable name=\"modelQuality\"")) !=
                        std::string::npos;) {
            const size_t lineStart = withoutQuality.rfind('\n', at);
            const std::string end = "</ComplexTable>";
            withoutQuality.erase(lineStart, withoutQuality.find(end, at) + end.size() - lineStart);
        }
        compact.qualityTables = false;
        ASSERT_TRUE(e.Export(&compact).IsOK()) << e.status.GetMessage();
        EXPECT_EQ(e.document, withoutQuality);
    }
}

TEST(PmmlDocument, ExactNumbersReadBackAsTheValuesTheModelHolds) {
    ScratchDir dir;
    // A range over which mapping a rescaled value back misses the value it came from about
    // once in a thousand, and full-precision values; w is an extra field after the others.
    const double min = 385.83779945665361;
    const double max = 19610.415799976556;
    SettingsDocument d = Classification(dir.Prefix());
    d.Predictor("x2").Predictor("w").ExtraField(
        "<Field name=\"w\" kind=\"continuous\" min=\"385.83779945665361\" "
        "max=\"19610.415799976556\"/>");
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    std::vector<std::vector<double>> values;  // x1, x2, w of every case
    for (int i = 0; i < 3000; ++i) {
        const double x1 = i == 7 ? 2.5 : 10.0 * unit(random);
        const double x2 = std::nextafter(-5.0, 0.0) + (i % 3) * 1e-15 * i;
        const double w = min + (max - min) * unit(random);
        values.push_back({x1, x2, w});
        // id, x1, x2, x3, c, y, cls, focal, fold, label, w
        source.Add({i + 1.0, x1, x2, 0.5, 0, 0, x1 > 5.0 ? 1.0 : 0.0, 1, 0, 0, w});
    }
    ExportedModel e;
    ASSERT_TRUE(e.Build(d, source));
    ExportOptions exact;
    exact.exactNumbers = true;
    ASSERT_TRUE(e.Export(&exact).IsOK()) << e.status.GetMessage();
    const Lines rows = Texts(Table(e.document, "originalData"));
    ASSERT_EQ(rows.size(), values.size());
    const double ranges[][2] = {{0, 10}, {-5, 5}, {min, max}};
    const size_t columns[] = {2, 3, 11};  // ID;id;x1;x2;x3;c;y;cls;focal;fold;label;w
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> cells;
        std::stringstream row(rows[i]);
        for (std::string cell; std::getline(row, cell, ';');) {
            cells.push_back(cell);
        }
        ASSERT_EQ(cells.size(), 12u) << rows[i];
        // Each measurement rescales to exactly the prepared value.
        for (size_t f = 0; f < 3; ++f) {
            const double lo = ranges[f][0];
            const double hi = ranges[f][1];
            EXPECT_EQ(KNN_800::KNNContVariable::Rescaled(std::stod(cells[columns[f]]), lo, hi),
                      KNN_800::KNNContVariable::Rescaled(values[i][f], lo, hi))
                << rows[i];
        }
    }
    // A value read from a short text keeps its text, as without the option.
    EXPECT_EQ(rows[7].substr(0, rows[7].find(";", rows[7].find(";", 2) + 1) + 1), "8;8;2.5;");
}
