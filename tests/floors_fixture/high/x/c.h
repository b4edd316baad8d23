#pragma once

#include "high/y/d.h"
