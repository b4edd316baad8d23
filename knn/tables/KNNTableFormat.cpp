#include "knn/tables/KNNTableFormat.h"

#include <utility>

namespace KNN_800 {

using VelXML_940::XMLElement;
using VelXML_940::XMLString;

std::string FormatDouble(double value) {
    return VelXML_940::ReplaceSep(value, "%.15g");
}

XMLElement* CreateTable(const std::string& kind, const std::string& name) {
    XMLElement* table = XMLElement::Create(kind);
    if (table != nullptr) {
        table->AddAttribute("name", name);
    }
    return table;
}

namespace {

// A finished element holding one line of text, handed over to `table`.
void AppendTextElement(XMLElement* table, const char* tag, std::string text) {
    XMLElement* element = XMLElement::Create(tag);
    if (element == nullptr) {
        return;
    }
    element->AddText(XMLString::Create(std::move(text)));
    table->AddChild(element);
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
