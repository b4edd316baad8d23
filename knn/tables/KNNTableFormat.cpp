#include "knn/tables/KNNTableFormat.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <utility>

namespace KNN_800 {

using VelXML_940::XMLElement;
using VelXML_940::XMLString;

void AppendDouble(std::string& out, double value) {
    char text[32];  // "%.15g" needs at most 24: sign, 15 digits, point, "e-308"
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    out.append(text, end.ptr);
}

std::string FormatDouble(double value) {
    std::string text;
    AppendDouble(text, value);
    return text;
}

void AppendExactDouble(std::string& out, double value) {
    // The text of AppendDouble when it reads back as `value`, which it does for every number
    // that was itself read from at most 15 significant digits; else the shortest exact text.
    char text[32];  // either text needs at most 24 characters: sign, 17 digits, point, "e-308"
    std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    double back = 0.0;
    if (std::isfinite(value) &&
        (std::from_chars(text, end.ptr, back).ptr != end.ptr || back != value)) {
        end = std::to_chars(text, text + sizeof text, value);
    }
    out.append(text, end.ptr);
}

std::string FormatExactDouble(double value) {
    std::string text;
    AppendExactDouble(text, value);
    return text;
}

std::string FieldName(const VelXML_940::VelVarList& dictionary, int index) {
    std::string name;
    if (const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(index)) {
        variable->GetName(name);
    }
    return name;
}

std::string JoinedNames(const VelXML_940::VelVarList& dictionary, const std::vector<int>& fields) {
    std::string names;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            names += '+';
        }
        names += FieldName(dictionary, fields[i]);
    }
    return names;
}

std::unique_ptr<XMLElement> CreateTable(const std::string& kind, const std::string& name) {
    std::unique_ptr<XMLElement> table(XMLElement::Create(kind));
    table->AddAttribute("name", name);
    return table;
}

int Append(XMLElement& parent, std::unique_ptr<XMLElement> child) {
    return parent.AddChild(child.release());
}

namespace {

// A finished element holding one line of text, handed over to `table`.
void AppendTextElement(XMLElement* table, const char* tag, std::string text) {
    std::unique_ptr<XMLElement> element(XMLElement::Create(tag));
    element->AddText(XMLString::Create(std::move(text)));
    Append(*table, std::move(element));
}

}  // namespace

void AddColumnNames(XMLElement* table, std::string names) {
    if (table == nullptr) {
        return;
    }
    table->AddChild(XMLElement::Create("RowNames"));
    AppendTextElement(table, "ColumnNames", std::move(names));
}

void AddRow(XMLElement* table, std::string cells) {
    if (table != nullptr) {
        AppendTextElement(table, "Row", std::move(cells));
    }
}

void AddIntegerRow(XMLElement* table, const std::vector<int>& values) {
    std::string cells;
    for (int value : values) {
        cells += std::to_string(value);
        cells += ';';
    }
    if (!cells.empty()) {
        cells.pop_back();
    }
    AddRow(table, std::move(cells));
}

}  // namespace KNN_800
