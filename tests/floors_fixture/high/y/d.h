#pragma once

#include "high/x/c.h"
