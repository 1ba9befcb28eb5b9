// The filter record handed to the host, with its callbacks. Only this folder
// knows the host's records; everything below it works on ScopeInstance and
// frame views.
#pragma once

#include "sdk/filter_sdk.h"

extern sdk::FilterDefinition kivrelFilterDefinition;
