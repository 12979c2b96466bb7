#pragma once
#include <vector>

#include "config/SettingValues.h"

namespace tav {

// Empties `sets` and fills it with the built-in layout pattern sets, oldest
// layout first.
void FillDefaultPatternSets(std::vector<CRegexpPatternInfo>& sets);

}  // namespace tav
