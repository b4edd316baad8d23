// The one table format of the model document. A "SimpleTable" holds optional "Metadata", an
// empty "RowNames", a "ColumnNames" line and one "Row" per row; cells are joined by ';'. A
// "ComplexTable" groups simple tables. Appending goes through the table's AddChild, so a
// disk-backed table writes each part to its file at once and keeps nothing in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "VelVarList.h"
#include "XMLElement.h"

namespace KNN_800 {

// Every double of the document: the text of "%.15g" in the C locale (a point as the decimal
// separator, whatever the process's locale), made by std::to_chars, which is defined to give
// exactly that text and neither allocates nor reads the locale.
std::string FormatDouble(double value);
// The same text appended to `out`.
void AppendDouble(std::string& out, double value);
// The shortest text that reads back as exactly `value` (of a non-finite value, as AppendDouble).
void AppendExactDouble(std::string& out, double value);
std::string FormatExactDouble(double value);

// The name of dictionary field `index`; empty when there is none.
std::string FieldName(const VelXML_940::VelVarList& dictionary, int index);
// The names of `fields` joined by '+'.
std::string JoinedNames(const VelXML_940::VelVarList& dictionary, const std::vector<int>& fields);

// Hands `child` over to `parent`, which owns it from here on, and returns what the parent's
// AddChild returns. The host's XML element takes its children as plain pointers (and deletes
// one it cannot keep), so this is where an element leaves the component's unique_ptr.
int Append(VelXML_940::XMLElement& parent, std::unique_ptr<VelXML_940::XMLElement> child);

// A new "SimpleTable" or "ComplexTable" element (by `kind`) with its "name" attribute.
std::unique_ptr<VelXML_940::XMLElement> CreateTable(const std::string& kind,
                                                    const std::string& name);

// Appends an empty "RowNames" and a "ColumnNames" holding `names` (already joined by ';').
void AddColumnNames(VelXML_940::XMLElement* table, std::string names);
// Appends one "Row" holding `cells` (already joined by ';').
void AddRow(VelXML_940::XMLElement* table, std::string cells);
// Appends one "Row" of decimal integers joined by ';'. An empty list gives an empty row.
void AddIntegerRow(VelXML_940::XMLElement* table, const std::vector<int>& values);

}  // namespace KNN_800
