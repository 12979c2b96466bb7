// Parses arbitrary bytes as a settings file and reads keys the way the
// settings load does; then checks that writing and re-reading keeps them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace {

constexpr std::u16string_view kKeys[][2] = {
    {u"Setting", u"GatewayHost"}, {u"Setting", u"DatMode"}, {u"Window", u"ColumnWidth"},
    {u"2chAPI", u"Name00"},       {u"2chAPI", u"Count"},    {u"FTPBug", u"Res00"},
    {u"AutoRule", u"Rule00"},     {u"Ronin", u"Pass"},      {u"", u""},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tav::IniFile ini = tav::IniFile::Parse(bytes);

  tav::IniFile copy;
  for (const auto& [section, key] : kKeys) {
    std::optional<std::u16string> value = ini.GetString(section, key);
    (void)ini.GetInt(section, key, -1);
    if (value) {
      (void)tav::IniFile::ParseInt(*value);
      copy.SetString(section, key, *value);
    }
  }
  for (const std::u16string& section : ini.SectionNames()) (void)ini.KeyNames(section);

  // Values read from a file come back unchanged from the file image written
  // for them.
  const tav::IniFile again = tav::IniFile::Parse(copy.Serialize());
  for (const auto& [section, key] : kKeys) {
    if (copy.GetString(section, key) != again.GetString(section, key)) std::abort();
  }
  return 0;
}
