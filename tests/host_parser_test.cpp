// Settings parser: the dictionary, lists and parameters a document declares, and the status
// and message of every kind of faulty document.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <fstream>
#include <sstream>
#include <utility>

#include "VelSettingsParser.h"

namespace {

using namespace VelXML_940;

// The worked example of docs/settings-format.md, byte for byte.
const char kIrisExample[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<Settings version="1">
  <Dictionary>
    <Field name="row" kind="continuous" label="Row number" min="1" max="150"/>
    <Field name="sepal_length" kind="continuous" label="Sepal length (cm)" min="4.3" max="7.9">
      <Missing value="-1"/>
    </Field>
    <Field name="sepal_width" kind="continuous" label="Sepal width (cm)" min="2.0" max="4.4"/>
    <Field name="petal_length" kind="continuous" label="Petal length (cm)" min="1.0" max="6.9"/>
    <Field name="petal_width" kind="continuous" label="Petal width (cm)" min="0.1" max="2.5"/>
    <Field name="species" kind="categorical-string" label="Species">
      <Category value="setosa" label="Iris setosa"/>
      <Category value="versicolor" label="Iris versicolor"/>
      <Category value="virginica" label="Iris virginica"/>
      <Missing text=""/>
      <Missing text="unknown"/>
    </Field>
    <Field name="focal" kind="categorical-numeric" label="Focal case">
      <Category value="0" label="no"/>
      <Category value="1" label="yes"/>
    </Field>
    <Field name="fold" kind="categorical-numeric" label="Cross-validation fold">
      <Category value="1"/>
      <Category value="2"/>
      <Category value="3"/>
      <Category value="4"/>
      <Category value="5"/>
    </Field>
  </Dictionary>
  <Targets>
    <Target name="species"/>
  </Targets>
  <Predictors>
    <Predictor name="sepal_length"/>
    <Predictor name="sepal_width"/>
    <Predictor name="petal_length"/>
    <Predictor name="petal_width"/>
  </Predictors>
  <Parameters>
    <Parameter key="CaseIDVar" type="string" value="row"/>
    <Parameter key="FocalVar" type="string" value="focal"/>
    <Parameter key="FocalCaseValue" type="string" value="1"/>
    <Parameter key="RescaleMethod" type="bool" value="true"/>
    <Parameter key="DistMetric" type="string" value="Euclidean"/>
    <Parameter key="TempFileDir" type="string" value="/tmp/knn/"/>
    <Parameter key="IsAutoKSelection" type="bool" value="true"/>
    <Parameter key="MinK" type="int" value="3"/>
    <Parameter key="MaxK" type="int" value="7"/>
    <Parameter key="VFoldVar" type="string" value="fold"/>
    <Parameter key="VFoldValue" type="int" value="5"/>
  </Parameters>
</Settings>
)xml";

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "'" << text << "' lacks '" << part << "'";
}

// A document whose dictionary starts on line 3 and whose other sections follow it.
std::string Doc(const std::string& fields, const std::string& rest = "") {
    return "<Settings>\n<Dictionary>\n" + fields + "</Dictionary>\n" + rest + "</Settings>\n";
}

// A document with one line of parameters, which is line 5.
std::string Params(const std::string& line) {
    return Doc("", "<Parameters>\n" + line + "\n</Parameters>\n");
}

VelCommon_940::VelStatus Parse(VelSettingsParser& parser, const std::string& text) {
    std::istringstream in(text);
    return parser.ParseToDOM(in);
}

const VelContVar& Cont(const VelVarList& list, const char* name) {
    return dynamic_cast<const VelContVar&>(*list.GetVarAt(list.FindVariable(name)));
}

TEST(HostParserTest, WorkedExampleMatchesTheDocumentationAndRoundTrips) {
    std::ifstream docFile(KNN_SOURCE_DIR "/docs/settings-format.md");
    const std::string docText((std::istreambuf_iterator<char>(docFile)), {});
    EXPECT_TRUE(Contains(docText, kIrisExample)) << "keep the doc's worked example in sync";

    VelSettingsParser parser;
    ASSERT_TRUE(Parse(parser, kIrisExample).IsOK()) << parser.GetLastMessage();
    VelVarList list;
    ASSERT_TRUE(parser.FillVarList(list, false).IsOK());
    ASSERT_TRUE(parser.FillTransDict(list).IsOK());

    ASSERT_EQ(list.Size(), 8);
    const int kinds[] = {1, 1, 1, 1, 1, 3, 2, 2};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(list.GetVarAt(i)->GetKind(), kinds[i]) << i;
        EXPECT_EQ(list.GetVarAt(i)->GetFormat(), kFormatNone);
    }
    EXPECT_EQ(Cont(list, "row").GetMin(), 1.0);
    EXPECT_EQ(Cont(list, "petal_width").GetMin(), 0.1);
    EXPECT_EQ(Cont(list, "sepal_length").GetMax(), 7.9);
    std::string label;
    list.GetVarAt(1)->GetLabel(label);
    EXPECT_EQ(label, "Sepal length (cm)");

    const IVelVariable* species = list.GetVarAt(5);
    ASSERT_EQ(species->GetCategoryCount(), 3);
    std::string text;
    EXPECT_TRUE(species->GetValueTable()->GetValueText(text, 2));
    EXPECT_EQ(text, "virginica");
    EXPECT_EQ(species->GetCategoryLabels()->GetLabels(),
              (std::vector<std::string>{"Iris setosa", "Iris versicolor", "Iris virginica"}));
    EXPECT_TRUE(species->GetValueTable()->IsMissingText(""));
    EXPECT_TRUE(species->GetValueTable()->IsMissingText("unknown"));
    EXPECT_FALSE(species->GetValueTable()->IsMissingText("setosa"));
    EXPECT_TRUE(list.GetVarAt(1)->GetValueTable()->IsMissingValue(-1.0));
    EXPECT_FALSE(list.GetVarAt(2)->GetValueTable()->IsMissingValue(-1.0));
    EXPECT_EQ(list.GetVarAt(7)->GetCategoryCount(), 5);
    EXPECT_EQ(list.GetVarAt(7)->GetValueTable()->GetNumericValue(4), 5.0);

    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(parser.GetTargetVars(names).IsOK());
    EXPECT_EQ(names, std::vector<std::string>{"species"});
    ASSERT_TRUE(parser.GetPredictors(names).IsOK());
    EXPECT_EQ(names, (std::vector<std::string>{"sepal_length", "sepal_width", "petal_length",
                                               "petal_width"}));
    std::string fold;
    int maxK = 0;
    bool autoK = false;
    EXPECT_TRUE(parser.GetParameter("VFoldVar", fold, nullptr).IsOK());
    EXPECT_TRUE(parser.GetParameter("MaxK", maxK, nullptr).IsOK());
    EXPECT_TRUE(parser.GetParameter("IsAutoKSelection", autoK, nullptr).IsOK());
    EXPECT_EQ(fold, "fold");
    EXPECT_EQ(maxK, 7);
    EXPECT_TRUE(autoK);
}

TEST(HostParserTest, DictionaryDetails) {
    VelSettingsParser parser;
    ASSERT_TRUE(Parse(parser, Doc(R"(<Field name="Länge" kind="1" format="date" min="-2.5"/>
<Field name="t" kind="continuous" format="5" max="1e3"/>
<Field name="stamp" kind="continuous" format="DateTime"/>
<Field name="grade" kind="categorical-string" format="none">
  <Category value=" a " code="10"/><Category value="b" label="Bé"/><Missing value="-9"/>
</Field>
<Field name="n" kind="categorical-numeric"><Category value=" +2.0 "/></Field>
)"))
                    .IsOK())
        << parser.GetLastMessage();
    VelVarList list;
    ASSERT_TRUE(parser.FillVarList(list, false).IsOK());
    ASSERT_TRUE(parser.FillTransDict(list).IsOK());

    EXPECT_EQ(list.FindVariable("Länge"), 0);
    EXPECT_EQ(list.GetVarAt(0)->GetFormat(), kFormatDate);
    EXPECT_EQ(list.GetVarAt(1)->GetFormat(), kFormatTime);
    EXPECT_EQ(list.GetVarAt(2)->GetFormat(), kFormatDateTime);
    EXPECT_EQ(Cont(list, "Länge").GetMin(), -2.5);
    EXPECT_EQ(Cont(list, "Länge").GetMax(), DBL_MAX);
    EXPECT_EQ(Cont(list, "t").GetMin(), -DBL_MAX);
    EXPECT_EQ(Cont(list, "t").GetMax(), 1000.0);

    // String categories keep their text as written and number themselves unless coded.
    const auto& grade = list.GetVarAt(3)->GetValueTable()->Categories();
    ASSERT_EQ(grade.size(), 2u);
    EXPECT_EQ(grade[0].text, " a ");
    EXPECT_EQ(grade[0].numeric, 10.0);
    EXPECT_EQ(grade[1].numeric, 1.0);
    EXPECT_EQ(grade[1].label, "Bé");
    EXPECT_TRUE(list.GetVarAt(3)->GetValueTable()->IsMissingValue(-9.0));
    const auto& n = list.GetVarAt(4)->GetValueTable()->Categories();
    EXPECT_EQ(n[0].text, "+2.0");
    EXPECT_EQ(n[0].numeric, 2.0);
}

TEST(HostParserTest, FillVarListAppendsOrReplacesAndNeverHalfFills) {
    VelSettingsParser parser;
    ASSERT_TRUE(
        Parse(parser, Doc("<Field name='a' kind='continuous'/>\n"
                          "<Field name='b' kind='continuous'><Missing value='0'/></Field>\n"))
            .IsOK());
    VelVarList list;
    list.Add(new VelContVar("x"));
    ASSERT_TRUE(parser.FillVarList(list, true).IsOK());
    EXPECT_EQ(list.Size(), 3);
    EXPECT_EQ(list.FindVariable("b"), 2);

    EXPECT_EQ(parser.FillVarList(list, true).GetErrorCode(), kParserDictionary);
    EXPECT_TRUE(Contains(parser.GetLastMessage(), "line 3: field 'a'"));
    EXPECT_EQ(list.Size(), 3);

    ASSERT_TRUE(parser.FillVarList(list, false).IsOK());
    EXPECT_EQ(list.Size(), 2);

    VelVarList partial;
    partial.Add(new VelContVar("b"));
    EXPECT_EQ(parser.FillTransDict(partial).GetErrorCode(), kParserDictionary);
    EXPECT_FALSE(partial.GetVarAt(0)->GetValueTable()->IsMissingValue(0.0));
}

TEST(HostParserTest, ParametersAnswerOnlyTheirOwnTypeAndAbsentKeysKeepDefaults) {
    VelSettingsParser parser;
    ASSERT_TRUE(Parse(parser, Params(R"(<Parameter key="i" type="int" value=" -2147483648 "/>
<Parameter key="s" type="string"> two  words </Parameter>
<Parameter key="xml" type="string"><![CDATA[<F a="1"/>]]></Parameter>
<Parameter key="plus" type="int" value="+3"/><Parameter key="d" type="double" value="1e-3"/>
<Parameter key="t" type="bool" value="1"/><Parameter key="f" type="bool">false</Parameter>
<Array key="names" type="string"><Item value="a"/><Item>b c</Item></Array>
<Array key="weights" type="double"><Item value="0.5"/><Item value="-2"/></Array>
<Array key="none" type="string"/>)"))
                    .IsOK())
        << parser.GetLastMessage();
    std::string s, xml, absent = ".\\temp";
    int i = 0, plus = 0, absentInt = 3;
    double d = 0, widened = 0;
    bool t = false, f = true;
    std::vector<std::string> names, none{"preset"}, absentList{"x"};
    std::vector<double> weights;
    for (const VelCommon_940::VelStatus& status :
         {parser.GetParameter("i", i, nullptr), parser.GetParameter("s", s, nullptr),
          parser.GetParameter("xml", xml, nullptr), parser.GetParameter("plus", plus, nullptr),
          parser.GetParameter("d", d, nullptr), parser.GetParameter("plus", widened, nullptr),
          parser.GetParameter("t", t, nullptr), parser.GetParameter("f", f, nullptr),
          parser.GetArray("names", names, nullptr), parser.GetArray("weights", weights, nullptr),
          parser.GetArray("none", none, nullptr),
          parser.GetParameter("TempFileDir", absent, nullptr),
          parser.GetParameter("MinK", absentInt, nullptr),
          parser.GetArray("ForcedVariables", absentList, nullptr)}) {
        EXPECT_TRUE(status.IsOK()) << status.GetMessage();
    }
    EXPECT_EQ(i, INT_MIN);
    EXPECT_EQ(s, " two  words ");
    EXPECT_EQ(xml, "<F a=\"1\"/>");
    EXPECT_EQ(plus, 3);
    EXPECT_EQ(d, 0.001);
    EXPECT_EQ(widened, 3.0);
    EXPECT_TRUE(t);
    EXPECT_FALSE(f);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b c"}));
    EXPECT_EQ(weights, (std::vector<double>{0.5, -2.0}));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(absent, ".\\temp");
    EXPECT_EQ(absentInt, 3);
    EXPECT_EQ(absentList, std::vector<std::string>{"x"});

    // Another type is an error that leaves the value alone; only int widens to double.
    std::string keep = "keep";
    EXPECT_EQ(parser.GetParameter("i", keep, nullptr).GetErrorCode(), kParserWrongType);
    EXPECT_EQ(parser.GetLastMessage(),
              "line 5: parameter 'i' is an int, but was asked for as a string");
    EXPECT_EQ(keep, "keep");
    EXPECT_EQ(parser.GetParameter("d", plus, nullptr).GetErrorCode(), kParserWrongType);
    EXPECT_EQ(parser.GetParameter("plus", t, nullptr).GetErrorCode(), kParserWrongType);
    EXPECT_EQ(parser.GetArray("weights", names, nullptr).GetErrorCode(), kParserWrongType);
    EXPECT_TRUE(Contains(parser.GetLastMessage(), "array 'weights' is a double array"));
    EXPECT_EQ(parser.GetArray("s", names, nullptr).GetErrorCode(), kParserWrongType);
    EXPECT_EQ(plus, 3);
    EXPECT_EQ(names.size(), 2u);

    // Absent lists are empty lists.
    EXPECT_TRUE(parser.GetTargetVars(names).IsOK());
    EXPECT_TRUE(names.empty());
}

TEST(HostParserTest, QuestionsNeedASuccessfullyParsedDocument) {
    VelSettingsParser parser;
    VelVarList list;
    std::vector<std::string> names;
    int i = 0;
    EXPECT_EQ(parser.FillVarList(list, false).GetErrorCode(), kParserNoDocument);
    EXPECT_EQ(parser.FillTransDict(list).GetErrorCode(), kParserNoDocument);
    EXPECT_EQ(parser.GetPredictors(names).GetErrorCode(), kParserNoDocument);
    EXPECT_EQ(parser.GetParameter("MinK", i, nullptr).GetErrorCode(), kParserNoDocument);
    EXPECT_FALSE(parser.GetLastMessage().empty());

    // A failed parse discards the document of an earlier successful one.
    ASSERT_TRUE(Parse(parser, Params("<Parameter key='MinK' type='int' value='4'/>")).IsOK());
    ASSERT_TRUE(Parse(parser, "<Settings>").IsError());
    EXPECT_EQ(parser.GetParameter("MinK", i, nullptr).GetErrorCode(), kParserNoDocument);
    EXPECT_EQ(i, 0);
}

TEST(HostParserTest, NumbersTooCloseToZeroReadAsZeroAndOnlyTooLargeOnesAreRefused) {
    VelSettingsParser parser;
    ASSERT_TRUE(Parse(parser, Params("<Parameter key='d' type='double' value='-1e-400'/>")).IsOK())
        << parser.GetLastMessage();
    double d = 1.0;
    EXPECT_TRUE(parser.GetParameter("d", d, nullptr).IsOK());
    EXPECT_TRUE(d == 0.0 && std::signbit(d));

    EXPECT_EQ(
        Parse(parser, Params("<Parameter key='d' type='double' value='1.8e308'/>")).GetErrorCode(),
        kParserBadValue);
    EXPECT_TRUE(Contains(parser.GetLastMessage(), "'1.8e308', which is outside the double range"));
}

TEST(HostParserTest, CheckXMLContentTakesOnlyWellFormedContentWithoutEntities) {
    std::string reason = "unchanged";
    for (const char* good : {"", "<Field name=\"row\" decimals=\"0\"/>",
                             "text &amp; &lt;<b>bold</b><!-- note --><?pi x?>&#x41;<![CDATA[<]]>",
                             "<a xmlns:p=\"urn:x\"><p:b/></a>\n<a/>"}) {
        EXPECT_TRUE(CheckXMLContent(good, reason)) << good << ": " << reason;
    }
    EXPECT_EQ(reason, "unchanged");

    const std::pair<const char*, const char*> bad[] = {
        {"<Field name=\"a\">", "line 1: Opening and ending tag mismatch: Field"},
        {"<a/>\n</b>", "line 2:"},
        {"&nbsp;", "Entity 'nbsp' not defined"},
        {"<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>&e;", "line 1:"},
        {"<?xml version=\"1.0\"?><a/>", "line 1:"},
        {"a]]>b", "line 1:"},
        {"<p:b/>", "Namespace prefix p"},
        // The text cannot end the element it is read in and start another.
        {"</content><content>", "line 1:"},
    };
    for (const auto& [text, part] : bad) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(CheckXMLContent(text, reason)) << text;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << text;
        EXPECT_TRUE(Contains(reason, part)) << text;
    }
}

struct BadDocument {
    const char* what;
    std::string text;
    long code;
    std::string message;  // expected part of the message
};

TEST(HostParserTest, FaultyDocumentsNameTheLineAndTheCulprit) {
    const BadDocument cases[] = {
        {"tag mismatch", "<Settings>\n<Dictionary>\n</Settings>\n", kParserMalformed,
         "line 3: malformed XML: Opening and ending tag mismatch"},
        {"undeclared entity", Params("<Parameter key='a' type='string' value='&x;'/>"),
         kParserMalformed, "line 5: malformed XML"},
        {"document type",
         "<!DOCTYPE Settings [<!ENTITY x SYSTEM 'file:///etc/hostname'>]>\n"
         "<Settings><Dictionary>&x;</Dictionary></Settings>",
         kParserStructure, "document type declarations are not allowed"},
        {"no dictionary", "<Settings/>", kParserStructure, "has no <Dictionary>"},
        {"unknown element", Params("<Paramter key='MinK' type='int' value='3'/>"), kParserStructure,
         "line 5: unknown element <Paramter> in <Parameters>"},
        {"unknown attribute", Doc("<Field name='a' kind='continuous' maximum='3'/>\n"),
         kParserStructure, "line 3: unknown attribute 'maximum' on <Field>"},
        {"missing attribute", Params("<Parameter key='MinK' value='3'/>"), kParserStructure,
         "line 5: <Parameter> lacks the attribute 'type'"},
        {"stray text", Doc("oops\n"), kParserStructure, "unexpected text 'oops' in <Dictionary>"},
        {"duplicate key",
         Params("<Parameter key='k' type='int' value='1'/>\n<Array key='k' type='string'/>"),
         kParserStructure, "line 6: the key 'k' is already given on line 5"},
        {"unreadable int", Params("<Parameter key='MinK' type='int' value='three'/>"),
         kParserBadValue,
         "line 5: parameter 'MinK' of type int has the value 'three', which is not an integer"},
        {"int overflow", Params("<Parameter key='MaxK' type='int' value='2147483648'/>"),
         kParserBadValue, "which is outside the int range"},
        {"decimal comma", Params("<Parameter key='e' type='double' value='0,01'/>"),
         kParserBadValue, "parameter 'e' of type double has the value '0,01'"},
        {"not finite", Params("<Parameter key='e' type='double' value='nan'/>"), kParserBadValue,
         "not a finite number"},
        {"bool word", Params("<Parameter key='b' type='bool' value='yes'/>"), kParserBadValue,
         "parameter 'b' of type bool has the value 'yes'"},
        {"array item",
         Params("<Array key='W' type='double'>\n<Item value='1'/><Item value='x'/></Array>"),
         kParserBadValue, "line 6: item 2 of array 'W' of type double has the value 'x'"},
        {"range bound", Doc("<Field name='a' kind='continuous' min='low'/>\n"), kParserBadValue,
         "line 3: field 'a' has min='low', which is not a number"},
        {"numeric category",
         Doc("<Field name='a' kind='categorical-numeric'>\n<Category value='one'/></Field>\n"),
         kParserBadValue, "line 4: field 'a' has the category value 'one'"},
        {"duplicate field",
         Doc("<Field name='a' kind='continuous'/>\n<Field name='a' kind='continuous'/>\n"),
         kParserDictionary, "line 4: field 'a' is already declared on line 3"},
        {"unknown kind", Doc("<Field name='a' kind='ordinal'/>\n"), kParserDictionary,
         "field 'a' has the unknown kind 'ordinal'"},
        {"unknown format", Doc("<Field name='a' kind='continuous' format='money'/>\n"),
         kParserDictionary, "field 'a' has the unknown format 'money'"},
        {"categories on continuous",
         Doc("<Field name='a' kind='continuous'>\n<Category value='x'/></Field>\n"),
         kParserDictionary, "line 4: field 'a' is continuous and cannot have categories"},
        {"min above max", Doc("<Field name='a' kind='continuous' min='2' max='1'/>\n"),
         kParserDictionary, "field 'a' has min 2 greater than max 1"},
        {"same numeric category",
         Doc("<Field name='a' kind='categorical-numeric'><Category value='2'/>"
             "<Category value='2.0'/></Field>\n"),
         kParserDictionary, "field 'a' has the category '2.0' more than once"},
        {"same numeric category as another's code",
         Doc("<Field name='a' kind='categorical-string'><Category value='x' code='1'/>"
             "<Category value='y' code='-0'/><Category value='z' code='0'/></Field>\n"),
         kParserDictionary, "the category 'z' more than once (same value or code as 'y')"},
    };
    for (const BadDocument& c : cases) {
        VelSettingsParser parser;
        testing::internal::CaptureStderr();
        const VelCommon_940::VelStatus status = Parse(parser, c.text);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
        EXPECT_EQ(status.GetErrorCode(), c.code) << c.what << ": " << status.GetMessage();
        EXPECT_TRUE(Contains(status.GetMessage(), c.message)) << c.what;
        EXPECT_EQ(parser.GetLastMessage(), status.GetMessage()) << c.what;
    }
}

}  // namespace
