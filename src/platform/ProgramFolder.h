#pragma once
#include <string>

namespace tav {

// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();

// `name` itself when it holds a slash, else the first executable of that
// name on PATH; empty when there is none.
std::string FindExecutable(const std::string& name);

}  // namespace tav
