// Symbol visibility for the host libraries: everything is hidden unless marked.
#pragma once

#define VEL_API __attribute__((visibility("default")))
