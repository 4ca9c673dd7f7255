#include "image/prepared.h"

#include "hostrt/sys.h"

namespace sicvm {

Image preparedImage(VmMachine *machine) noexcept {
  Image image = Image::of(machine);
  if (image.ok() && image.statusFlags() != nullptr) return image;
  _winseterrno(22);
  return Image();
}

}  // namespace sicvm
