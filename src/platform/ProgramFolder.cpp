#include "platform/ProgramFolder.h"

#include <filesystem>
#include <system_error>

namespace tav {

std::string ProgramFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "./";
  return exe.parent_path().string() + "/";
}

}  // namespace tav
