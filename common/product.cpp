#include "common/product.h"

namespace product {

namespace {
std::u16string Decimal(unsigned v) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v != 0);
  return s;
}
}  // namespace

std::u16string VersionText(unsigned major, unsigned minor, unsigned revision) {
  return Decimal(major) + u"." + Decimal(minor) + u"." + Decimal(revision);
}

}  // namespace product
