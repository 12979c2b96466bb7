#pragma once
// `tavrilox --check-config`: reads a settings file and tells what the proxy
// would do with it, with every warning and every error a user must fix.

#include <cstdio>
#include <string>

namespace tav {

// Exit codes of the check.
enum class ConfigCheckResult : int { kOk = 0, kErrors = 1, kNoFile = 2 };

// Writes the report to `out`; warnings and errors are lines starting with
// "warning: " and "error: ".
ConfigCheckResult CheckConfig(const std::string& iniPath, std::FILE* out);

}  // namespace tav
