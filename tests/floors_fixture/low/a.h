#pragma once

#include <vector>    // not a file of the tree
#include "high/b.h"  // up a floor
