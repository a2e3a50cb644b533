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

std::u16string InAppFolder(std::u16string_view folder, std::u16string_view literal) {
  std::u16string path(folder);
  const bool folderEnds = !path.empty() && (path.back() == u'\\' || path.back() == u'/');
  const bool literalStarts = !literal.empty() && (literal.front() == u'\\' || literal.front() == u'/');
  if (folderEnds && literalStarts) literal.remove_prefix(1);
  path += literal;
  return path;
}

}  // namespace product
