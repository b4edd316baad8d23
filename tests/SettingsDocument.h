// Builds settings documents for tests: a fixed dictionary plus whatever targets, predictors and
// parameters a test names.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace knn_test {

class SettingsDocument {
public:
    // Fields: id (continuous, 1..1000), x1..x3 (continuous, declared ranges), c (string
    // categorical a/b/c), y (continuous target range), cls (string categorical target),
    // focal (numeric categorical 0/1), fold (numeric categorical 1..3), label (string
    // categorical), free (continuous without a declared range, used by range tests only
    // through `withFreeField`).
    SettingsDocument& Target(const std::string& name) {
        targets_.push_back(name);
        return *this;
    }
    SettingsDocument& Predictor(const std::string& name) {
        predictors_.push_back(name);
        return *this;
    }
    SettingsDocument& Param(const std::string& key, const std::string& type,
                            const std::string& value) {
        params_ += "<Parameter key=\"" + key + "\" type=\"" + type + "\" value=\"" + value + "\"/>";
        return *this;
    }
    SettingsDocument& Array(const std::string& key, const std::string& type,
                            const std::vector<std::string>& items) {
        params_ += "<Array key=\"" + key + "\" type=\"" + type + "\">";
        for (const std::string& item : items) {
            params_ += "<Item value=\"" + item + "\"/>";
        }
        params_ += "</Array>";
        return *this;
    }
    SettingsDocument& ExtraField(const std::string& xml) {
        extraFields_ += xml;
        return *this;
    }
    // The usual required pair: id as case identifier, focal as focal field.
    SettingsDocument& Roles() {
        return Param("CaseIDVar", "string", "id").Param("FocalVar", "string", "focal");
    }

    std::string Xml() const {
        std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Dictionary>"
            "<Field name=\"id\" kind=\"continuous\" min=\"1\" max=\"1000\"/>"
            "<Field name=\"x1\" kind=\"continuous\" min=\"0\" max=\"10\"/>"
            "<Field name=\"x2\" kind=\"continuous\" min=\"-5\" max=\"5\"/>"
            "<Field name=\"x3\" kind=\"continuous\" min=\"0\" max=\"1\"/>"
            "<Field name=\"c\" kind=\"categorical-string\"><Category value=\"a\"/>"
            "<Category value=\"b\"/><Category value=\"c\"/></Field>"
            "<Field name=\"y\" kind=\"continuous\" min=\"0\" max=\"100\"/>"
            "<Field name=\"cls\" kind=\"categorical-string\"><Category value=\"no\"/>"
            "<Category value=\"yes\"/></Field>"
            "<Field name=\"focal\" kind=\"categorical-numeric\"><Category value=\"0\"/>"
            "<Category value=\"1\"/></Field>"
            "<Field name=\"fold\" kind=\"categorical-numeric\"><Category value=\"1\"/>"
            "<Category value=\"2\"/><Category value=\"3\"/></Field>"
            "<Field name=\"label\" kind=\"categorical-string\"><Category value=\"p\"/>"
            "<Category value=\"q\"/></Field>" +
            extraFields_ + "</Dictionary><Targets>";
        for (const std::string& t : targets_)
            xml += "<Target name=\"" + t + "\"/>";
        xml += "</Targets><Predictors>";
        for (const std::string& p : predictors_)
            xml += "<Predictor name=\"" + p + "\"/>";
        xml += "</Predictors><Parameters>" + params_ + "</Parameters></Settings>\n";
        return xml;
    }

private:
    std::vector<std::string> targets_;
    std::vector<std::string> predictors_;
    std::string params_;
    std::string extraFields_;
};

// Automatic K from `minK` to `maxK` over the three folds of "fold", with predictors x1, x2.
inline SettingsDocument AutoK(const char* target, int minK, int maxK) {
    SettingsDocument d;
    d.Roles()
        .Target(target)
        .Predictor("x1")
        .Predictor("x2")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("MinK", "int", std::to_string(minK))
        .Param("MaxK", "int", std::to_string(maxK))
        .Param("VFoldVar", "string", "fold")
        .Param("VFoldValue", "int", "3");
    return d;
}

// Forward feature selection for `target` over the predictors x1, x2, x3 and c.
inline SettingsDocument FeatureSelection(const char* target) {
    SettingsDocument d;
    d.Roles().Target(target).Predictor("x1").Predictor("x2").Predictor("x3").Predictor("c").Param(
        "IsFeatureSelection", "bool", "true");
    return d;
}

// Dictionary indices of the fields above.
enum Field { kId = 0, kX1, kX2, kX3, kC, kY, kCls, kFocal, kFold, kLabel, kExtra };

}  // namespace knn_test
