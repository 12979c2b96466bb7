#pragma once
#include <string>

namespace tav {

// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();

}  // namespace tav
