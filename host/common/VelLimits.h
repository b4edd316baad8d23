// Limits shared by the analysis component and its hosts, so that a host can keep within them
// before it hands a settings document over.
#pragma once

namespace VelCommon_940 {

// The most categories a categorical target or predictor may have. A categorical target's
// confusion matrix grows with the square of its categories, and a field with more distinct
// values than this is an identifier or a measurement rather than a set of categories.
inline constexpr int kMaxCategories = 1000;

}  // namespace VelCommon_940
