// Versions and numbers from the manifest and cfg.xml: splitting, part values
// and the comparison must not fault and must stay consistent.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "updater/updatelogic.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string all = text::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  // Two versions separated by the first line feed.
  const size_t cut = all.find(u'\n');
  const std::u16string a = all.substr(0, cut);
  const std::u16string b = cut == std::u16string::npos ? std::u16string() : all.substr(cut + 1);

  const auto local = updatelogic::SplitVersion(a);
  const auto server = updatelogic::SplitVersion(b);
  // Splitting keeps every character but the dots.
  size_t chars = 0;
  for (const auto& p : local) chars += p.size();
  Check(a.empty() ? local.empty() : chars + local.size() - 1 == a.size());
  for (const auto& p : local) {
    const double v = updatelogic::PartValue(p);
    Check(!std::isnan(v));
  }
  // Never newer both ways, and never newer than itself.
  Check(!(updatelogic::IsNewer(local, server) && updatelogic::IsNewer(server, local)));
  Check(!updatelogic::IsNewer(local, local));

  // The narrow conversion agrees with the wide one wherever it succeeds.
  const auto i16 = updatelogic::ToInteger(a);
  const auto i32 = updatelogic::ToLong(a);
  if (i16) Check(i32 && *i32 == *i16);
  updatelogic::ParseContentLength(a);
  return 0;
}
