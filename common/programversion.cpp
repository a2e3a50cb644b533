// Compiled once per program with that program's version: programs of two
// versions (the tests' next revision) share every other object.
#include "common/product.h"

#if !defined(VELBOX_PROGRAM_VERSION_MAJOR) || !defined(VELBOX_PROGRAM_VERSION_MINOR) || \
    !defined(VELBOX_PROGRAM_VERSION_REVISION)
#error "the program's version is given by the build (vel_program_version)"
#endif

namespace product {

std::u16string ClientVersionText() {
  return VersionText(VELBOX_PROGRAM_VERSION_MAJOR, VELBOX_PROGRAM_VERSION_MINOR, VELBOX_PROGRAM_VERSION_REVISION);
}

}  // namespace product
