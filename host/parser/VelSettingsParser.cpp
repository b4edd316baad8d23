// The settings parser: ParseToDOM reads the whole document into a small in-memory form
// (ParsedSettings.cpp, which checks it against the settings format); every question afterwards
// is answered from that form. Only a type mismatch between a declared parameter and the
// question asked can surface after parsing.
#include "VelSettingsParser.h"

#include <exception>
#include <istream>
#include <iterator>
#include <memory>

#include "ParsedSettings.h"

namespace VelXML_940 {

using VelCommon_940::VelStatus;
using namespace parsed;

namespace {

VelStatus Error(long code, const std::string& message) {
    VelStatus status(code, false);
    status.SetMessage(message);
    return status;
}

}  // namespace

struct VelSettingsParser::Impl {
    bool parsed = false;
    Document doc;
    std::string lastMessage;

    VelStatus Report(long code, const std::string& message) {
        lastMessage = message;
        return Error(code, message);
    }

    VelStatus NoDocument() {
        return Report(kParserNoDocument, "no settings document has been parsed");
    }

    // Finds the entry of `key` and checks that it can answer a question of type `asked`.
    // `found` stays null when the document does not give the key.
    VelStatus Lookup(const char* key, ParamType asked, const ParamDecl*& found) {
        found = nullptr;
        if (!parsed) {
            return NoDocument();
        }
        if (key == nullptr) {
            return Report(kParserStructure, "a parameter was asked for without a key");
        }
        const auto it = doc.params.find(key);
        if (it == doc.params.end()) {
            return VelStatus();
        }
        const ParamDecl& param = it->second;
        const bool widened = asked == ParamType::kDouble && param.type == ParamType::kInt;
        if (param.type != asked && !widened) {
            return Report(
                kParserWrongType,
                AtLine(param.line, std::string(IsArray(param.type) ? "array '" : "parameter '") +
                                       key + "' is " + Describe(param.type) +
                                       ", but was asked for as " + Describe(asked)));
        }
        found = &param;
        return VelStatus();
    }
};

VelSettingsParser::VelSettingsParser() : impl_(std::make_unique<Impl>()) {}

VelSettingsParser::~VelSettingsParser() = default;

const std::string& VelSettingsParser::GetLastMessage() const {
    return impl_->lastMessage;
}

VelStatus VelSettingsParser::ParseToDOM(std::istream& in) {
    impl_->parsed = false;
    impl_->doc = Document();
    try {
        if (in.rdbuf() == nullptr) {
            return impl_->Report(kParserMalformed, "the settings stream has no buffer");
        }
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        impl_->doc = ParseText(text);
    } catch (const ParseFailure& failure) {
        impl_->doc = Document();
        return impl_->Report(failure.code, failure.message);
    } catch (const std::exception& e) {
        impl_->doc = Document();
        return impl_->Report(kParserMalformed,
                             std::string("the settings document could not be read: ") + e.what());
    } catch (...) {
        impl_->doc = Document();
        return impl_->Report(kParserMalformed, "the settings document could not be read");
    }
    impl_->parsed = true;
    return VelStatus();
}

VelStatus VelSettingsParser::FillVarList(VelVarList& list, bool append) {
    if (!impl_->parsed) {
        return impl_->NoDocument();
    }
    if (!append) {
        list.Clear();
    }
    // Check before adding anything, so that a failed call leaves the list as it was.
    for (const FieldDecl& field : impl_->doc.fields) {
        if (list.FindVariable(field.name) >= 0) {
            return impl_->Report(
                kParserDictionary,
                AtLine(field.line, "field '" + field.name + "' is already in the variable list"));
        }
    }
    for (const FieldDecl& field : impl_->doc.fields) {
        std::unique_ptr<IVelVariable> variable;
        if (field.kind == kContinuous) {
            variable = std::make_unique<VelContVar>(field.name, field.min, field.max);
        } else {
            variable = std::make_unique<VelCatVar>(field.name, field.kind, field.categories);
        }
        variable->SetLabel(field.label);
        variable->SetFormat(field.format);
        list.Add(variable.release());
    }
    return VelStatus();
}

VelStatus VelSettingsParser::FillTransDict(VelVarList& list) {
    if (!impl_->parsed) {
        return impl_->NoDocument();
    }
    std::vector<IVelVariable*> targets;
    for (const FieldDecl& field : impl_->doc.fields) {
        IVelVariable* variable = list.GetVarAt(list.FindVariable(field.name));
        if (variable == nullptr) {
            return impl_->Report(
                kParserDictionary,
                AtLine(field.line, "field '" + field.name + "' is not in the variable list"));
        }
        targets.push_back(variable);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        const FieldDecl& field = impl_->doc.fields[i];
        targets[i]->ValueTable().SetMissing(field.missingValues, field.missingTexts);
    }
    return VelStatus();
}

VelStatus VelSettingsParser::GetTargetVars(std::vector<std::string>& names) {
    if (!impl_->parsed) {
        return impl_->NoDocument();
    }
    names = impl_->doc.targets;
    return VelStatus();
}

VelStatus VelSettingsParser::GetPredictors(std::vector<std::string>& names) {
    if (!impl_->parsed) {
        return impl_->NoDocument();
    }
    names = impl_->doc.predictors;
    return VelStatus();
}

VelStatus VelSettingsParser::GetParameter(const char* key, std::string& value, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kString, param);
    if (param != nullptr) {
        value = param->text;
    }
    return status;
}

VelStatus VelSettingsParser::GetParameter(const char* key, int& value, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kInt, param);
    if (param != nullptr) {
        value = param->intValue;
    }
    return status;
}

VelStatus VelSettingsParser::GetParameter(const char* key, double& value, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kDouble, param);
    if (param != nullptr) {
        value = param->doubleValue;
    }
    return status;
}

VelStatus VelSettingsParser::GetParameter(const char* key, bool& value, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kBool, param);
    if (param != nullptr) {
        value = param->boolValue;
    }
    return status;
}

VelStatus VelSettingsParser::GetArray(const char* key, std::vector<std::string>& values, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kStringArray, param);
    if (param != nullptr) {
        values = param->texts;
    }
    return status;
}

VelStatus VelSettingsParser::GetArray(const char* key, std::vector<double>& values, void*) {
    const ParamDecl* param = nullptr;
    VelStatus status = impl_->Lookup(key, ParamType::kDoubleArray, param);
    if (param != nullptr) {
        values = param->doubles;
    }
    return status;
}

}  // namespace VelXML_940
