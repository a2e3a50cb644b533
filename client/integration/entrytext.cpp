#include "client/integration/entrytext.h"

namespace entrytext {

std::u16string InFolder(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (path.empty() || (path.back() != u'\\' && path.back() != u'/')) path += u'\\';
  path += name;
  return path;
}

std::u16string ExeTarget(std::u16string_view folder, std::u16string_view exeBaseName) {
  return InFolder(folder, std::u16string(exeBaseName) + u".exe");
}

std::u16string AutoRunCommand(std::u16string_view folder, std::u16string_view exeBaseName) {
  std::u16string command(1, u'"');
  command += ExeTarget(folder, exeBaseName);
  command += u"\" /regstart";
  return command;
}

std::u16string RegSzText(std::u16string_view data) {
  const size_t nul = data.find(u'\0');
  if (nul == std::u16string_view::npos) return kError;
  return std::u16string(data.substr(0, nul));
}

std::u16string RegDwordText(std::uint32_t value) {
  // Two's complement reading without relying on a narrowing conversion.
  const bool negative = value > 0x7FFFFFFFu;
  std::uint32_t magnitude = negative ? ~value + 1u : value;
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10u));
    magnitude /= 10u;
  } while (magnitude != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string RegValueText(std::uint32_t type, std::string_view bytes) {
  const auto byte = [&](size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])); };
  if (type == kRegSz) {
    // An odd byte left over is no character; the text ends before it.
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(byte(2 * i) | (byte(2 * i + 1) << 8));
    return RegSzText(units);
  }
  if (type == kRegDword) {
    if (bytes.size() != 4) return kError;
    return RegDwordText(byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24));
  }
  return std::u16string();
}

AutoRunPlan PlanAutoRun(bool enable, std::u16string_view machine, std::u16string_view user,
                        std::u16string_view command) {
  AutoRunPlan plan;
  plan.deleteMachine = machine == command;
  if (enable)
    plan.writeUser = user != command;
  else
    plan.deleteUser = user == command;
  return plan;
}

}  // namespace entrytext
