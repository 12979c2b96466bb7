#pragma once
#include <vector>

#include "config/SettingValues.h"

namespace tav {

// Empties `sets` and fills it with the five built-in layout pattern sets.
void FillDefaultPatternSets(std::vector<CRegexpPatternInfo>& sets);

}  // namespace tav
