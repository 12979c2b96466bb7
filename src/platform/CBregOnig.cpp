#include "platform/CBregOnig.h"

namespace tav {

CBregOnig::CBregOnig(bool load) : loaded_(load) {}

CBregOnig::~CBregOnig() { loaded_ = false; }

}  // namespace tav
