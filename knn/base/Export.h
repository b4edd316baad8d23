// Marks the few names the component library makes visible to its host.
#pragma once

#define KNN_EXPORT __attribute__((visibility("default")))
