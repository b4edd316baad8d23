// Writing a settings document through the host's XML classes: a child element, a parameter.
#pragma once

#include <string>

#include "XMLElement.h"

namespace knncli {

// A new element `name`, the last child of `parent`, which owns it.
inline VelXML_940::XMLElement& AddElement(VelXML_940::XMLElement& parent, const char* name) {
    VelXML_940::XMLElement* child = VelXML_940::XMLElement::Create(name);
    parent.AddChild(child);
    return *child;
}

// <Parameter key="..." type="..." value="..."/> in `parameters`.
inline void AddParameter(VelXML_940::XMLElement& parameters, const char* key, const char* type,
                         const std::string& value) {
    VelXML_940::XMLElement& parameter = AddElement(parameters, "Parameter");
    parameter.AddAttribute("key", key);
    parameter.AddAttribute("type", type);
    parameter.AddAttribute("value", value);
}

}  // namespace knncli
