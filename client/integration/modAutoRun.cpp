#include "client/integration/modAutoRun.h"

#include <limits>
#include <string_view>
#include <utility>

#include "client/integration/entrytext.h"
#include "common/product.h"
#include "common/win/owners.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace modAutoRun {

namespace {

// A 64-bit client sees the keys a 32-bit one wrote; both views' Run entries
// are started at log-on.
constexpr REGSAM kView = KEY_WOW64_32KEY;

class SystemWriter final : public RegistryWriter {
 public:
  LSTATUS SetString(HKEY root, const std::wstring& subKey, const std::wstring& name,
                    const std::wstring& data) override {
    if (data.size() >= std::numeric_limits<DWORD>::max() / sizeof(wchar_t) - 1) return ERROR_INVALID_PARAMETER;
    win::UniqueKey key;
    LSTATUS status = ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE | kView, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    // The size counts the terminating NUL.
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
  }

  LSTATUS DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) override {
    win::UniqueKey key;
    const LSTATUS status = ::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE | kView, key.put());
    if (status != ERROR_SUCCESS) return status;
    return ::RegDeleteValueW(key.get(), name.c_str());
  }
};

RegistryWriter*& WriterOverride() {
  static RegistryWriter* writer = nullptr;
  return writer;
}

RegistryWriter& Writer() { return WriterOverride() ? *WriterOverride() : SystemRegistryWriter(); }

}  // namespace

const std::wstring& RunValueName() {
  static const std::wstring name = win::W(product::kSiteName);
  return name;
}

std::wstring ReadRegValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  const std::wstring error = win::W(entrytext::kError);
  win::UniqueKey key;
  if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS) return error;
  DWORD type = 0;
  DWORD size = 0;
  const LSTATUS probe = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size);
  if (probe == ERROR_FILE_NOT_FOUND) return win::W(entrytext::kNotFound);
  if (probe != ERROR_SUCCESS) return error;
  if (type != REG_SZ && type != REG_DWORD) return std::wstring();
  std::string bytes(size, '\0');
  DWORD got = size;
  // A value changed between the two calls (ERROR_MORE_DATA) is not read.
  if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                         &got) != ERROR_SUCCESS)
    return error;
  bytes.resize(got);
  return win::W(entrytext::RegValueText(type, bytes));
}

std::wstring AutoRunCommand() {
  return win::W(entrytext::AutoRunCommand(win::U(win::AppFolder()), win::U(win::ExeBaseName())));
}

RegistryWriter& SystemRegistryWriter() {
  static SystemWriter writer;
  return writer;
}

void SetRegistryWriterForTesting(RegistryWriter* writer) { WriterOverride() = writer; }

AutoRunChange SetAutoRun(bool enable) {
  RegistryWriter& writer = Writer();
  const std::wstring& name = RunValueName();
  const std::wstring command = AutoRunCommand();
  const entrytext::AutoRunPlan plan =
      entrytext::PlanAutoRun(enable, win::U(ReadRegValue(HKEY_LOCAL_MACHINE, kRunKey, name)),
                             win::U(ReadRegValue(HKEY_CURRENT_USER, kRunKey, name)), win::U(command));
  bool removed = true;
  for (const auto& [root, wanted] :
       {std::pair{HKEY_LOCAL_MACHINE, plan.deleteMachine}, std::pair{HKEY_CURRENT_USER, plan.deleteUser}}) {
    if (!wanted) continue;
    const LSTATUS status = writer.DeleteValue(root, kRunKey, name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) removed = false;
  }
  if (!enable) return removed ? AutoRunChange::kRemoved : AutoRunChange::kNotRemoved;
  if (!plan.writeUser) return AutoRunChange::kNone;
  if (writer.SetString(HKEY_CURRENT_USER, kRunKey, name, command) == ERROR_SUCCESS) return AutoRunChange::kWroteUser;
  return AutoRunChange::kNotWritten;
}

}  // namespace modAutoRun
