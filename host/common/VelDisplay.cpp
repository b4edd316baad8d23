#include "VelDisplay.h"

#include <iostream>
#include <ostream>

#include "XMLElement.h"

namespace VelDisplay_940 {

namespace {

std::ostream* g_out = &std::cout;

// Numbers look the same as in the documents the library writes, whatever the locale.
std::string Number(double value) {
    return VelXML_940::ReplaceSep(value, "%.15g");
}

std::ostream& Labelled(const char* label) {
    return *g_out << (label != nullptr ? label : "") << ":";
}

}  // namespace

void SetOutStream(std::ostream& out) {
    g_out = &out;
}

std::ostream& OutStream() {
    return *g_out;
}

void DisplayText(const long& /*level*/, const char* text) {
    *g_out << (text != nullptr ? text : "") << '\n';
}

void DisplayI(const char* label, int value) {
    Labelled(label) << ' ' << value << '\n';
}

void DisplayD(const char* label, double value) {
    Labelled(label) << ' ' << Number(value) << '\n';
}

void DisplayB(const char* label, bool value) {
    Labelled(label) << ' ' << (value ? "true" : "false") << '\n';
}

void DisplayS(const char* label, const std::string& value) {
    Labelled(label) << ' ' << value << '\n';
}

void DisplayIV(const char* label, const std::vector<int>& values) {
    std::ostream& out = Labelled(label);
    for (int value : values) {
        out << ' ' << value;
    }
    out << '\n';
}

void DisplayDV(const char* label, const std::vector<double>& values, bool onePerLine) {
    std::ostream& out = Labelled(label);
    for (double value : values) {
        out << (onePerLine ? "\n  " : " ") << Number(value);
    }
    out << '\n';
}

void DisplayVPD(const char* label, const std::vector<std::pair<double, double>>& values) {
    std::ostream& out = Labelled(label);
    for (const std::pair<double, double>& value : values) {
        out << " (" << Number(value.first) << ", " << Number(value.second) << ")";
    }
    out << '\n';
}

}  // namespace VelDisplay_940
