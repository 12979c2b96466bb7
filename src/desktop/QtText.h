#pragma once
// Conversions between the core's UTF-16 texts and QString.

#include <QString>
#include <string>

#include "config/StringTable.h"

namespace tav {

inline QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }
inline std::u16string ToU16(const QString& text) { return text.toStdU16String(); }
inline QString ProgramTitle() { return QString::fromUtf16(kProgramTitle); }

}  // namespace tav
