#include "shell/CSetting.h"

#include "acquire/PatternSets.h"
#include "platform/CBregOnig.h"

namespace tav {

CSetting::CSetting(bool loadRegexEngine) : bregexp_(std::make_unique<CBregOnig>(loadRegexEngine)) {
  SettingValues defaults;
  FillDefaultPatternSets(defaults.PatternSets);
  snapshot_ = std::make_shared<const SettingValues>(std::move(defaults));
}

CSetting::~CSetting() = default;

std::shared_ptr<const SettingValues> CSetting::Snapshot() const {
  std::lock_guard lock(snapshotMutex_);
  return snapshot_;
}

void CSetting::Publish(SettingValues values) {
  auto next = std::make_shared<const SettingValues>(std::move(values));
  std::lock_guard lock(snapshotMutex_);
  snapshot_ = std::move(next);
}

void CSetting::ResetColumns() {
  Update([](SettingValues& v) {
    v.ColumnOrder = kDefaultColumnOrder;
    v.ColumnWidth = kDefaultColumnWidths;
  });
}

// --- INI file (placeholder until the file layer lands) ---

int CSetting::Load(const std::string& path) {
  iniPath_ = path;
  return -1;
}

int CSetting::Save() { return -1; }

std::string CSetting::EncodePassword(std::string_view password) { return std::string(password); }
std::string CSetting::DecodePassword(std::string_view stored) { return std::string(stored); }

}  // namespace tav
