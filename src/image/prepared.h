// The check that the exports taking a machine share.
#pragma once

#include "image/image.h"

namespace sicvm {

// The image of a machine whose set-up reached its State Block; !ok() after
// setting the host error number to 22 for a null machine or any other.
Image preparedImage(VmMachine *machine) noexcept;

}  // namespace sicvm
