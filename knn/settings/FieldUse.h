// Which fields of the dictionary the component reads from every case, given the roles that the
// settings give them. The settings reader decides by these functions, and a host that reads the
// same settings (knn) asks them too: it tells which cases the component will drop, and why,
// before it hands the records over. Header-only, so that a host links nothing of the component.
#pragma once

#include <vector>

namespace KNN_800 {

// Whether the component assigns the cases to cross-validation folds by the fold field
// (VFoldVar): it does when it chooses K automatically for a target, unless forward selection
// chooses the features as well, which predicts every case from all the others instead.
constexpr bool UsesFolds(bool hasTarget, bool autoK, bool featureSelection) {
    return hasTarget && autoK && !featureSelection;
}

// The fields that the settings give a role, by dictionary index; -1 or empty for none.
struct FieldRoles {
    int caseId = -1;
    int caseLabel = -1;  // only when use_caselabels is true
    int focal = -1;
    int fold = -1;  // VFoldVar
    std::vector<int> targets;
    // The predictors that measure distance: all but the case identifier, label and focal
    // fields, and but the fold field while it assigns the folds.
    std::vector<int> features;
    std::vector<int> forced;     // ForcedVariables
    std::vector<int> specified;  // SpecifiedFeature
    bool autoK = false;
    bool featureSelection = false;
};

// The fields the component reads from every case, each once, in this order: the case
// identifier, the case label, the focal field, the targets, the features, the forced variables
// (with feature selection), the fold field (while it assigns the folds) and the fixed features.
// A case is dropped when one of them has no usable value, except the case label, which only
// names the case.
inline std::vector<int> UsedFields(const FieldRoles& roles) {
    std::vector<int> used;
    std::vector<bool> listed;  // per field index, so that many fields take linear time
    const auto add = [&used, &listed](int field) {
        if (field < 0) {
            return;
        }
        if (static_cast<size_t>(field) >= listed.size()) {
            listed.resize(static_cast<size_t>(field) + 1, false);
        }
        if (!listed[static_cast<size_t>(field)]) {
            listed[static_cast<size_t>(field)] = true;
            used.push_back(field);
        }
    };
    add(roles.caseId);
    add(roles.caseLabel);
    add(roles.focal);
    for (const std::vector<int>* list : {&roles.targets, &roles.features}) {
        for (int field : *list) {
            add(field);
        }
    }
    if (roles.featureSelection) {
        for (int field : roles.forced) {
            add(field);
        }
    }
    if (UsesFolds(!roles.targets.empty(), roles.autoK, roles.featureSelection)) {
        add(roles.fold);
    }
    for (int field : roles.specified) {
        add(field);
    }
    return used;
}

}  // namespace KNN_800
