#include "tests/integration/entrystate.h"

#include "client/integration/modCreDeskLink.h"
#include "common/product.h"
#include "common/win/owners.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace entrystate {

namespace {

const std::wstring& Name() { return modAutoRun::RunValueName(); }

bool ContainsTitle(const std::wstring& file) {
  const std::wstring title = win::W(product::kAppTitle);
  return ::FindStringOrdinal(FIND_FROMSTART, file.c_str(), static_cast<int>(file.size()), title.c_str(),
                             static_cast<int>(title.size()), TRUE) >= 0;
}

}  // namespace

std::optional<RawValue> GetRun(HKEY root, REGSAM view) {
  win::UniqueKey key;
  if (::RegOpenKeyExW(root, modAutoRun::kRunKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
  RawValue v;
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), Name().c_str(), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.bytes.resize(size);
  if (::RegQueryValueExW(key.get(), Name().c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(v.bytes.data()),
                         &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.bytes.resize(size);
  return v;
}

bool PutRun(HKEY root, const RawValue& value, REGSAM view) {
  win::UniqueKey key;
  if (::RegCreateKeyExW(root, modAutoRun::kRunKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
    return false;
  return ::RegSetValueExW(key.get(), Name().c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.bytes.data()),
                          static_cast<DWORD>(value.bytes.size())) == ERROR_SUCCESS;
}

void DeleteRun(HKEY root, REGSAM view) {
  win::UniqueKey key;
  if (::RegOpenKeyExW(root, modAutoRun::kRunKey, 0, KEY_SET_VALUE | view, key.put()) == ERROR_SUCCESS)
    ::RegDeleteValueW(key.get(), Name().c_str());
}

RawValue Typed(DWORD type, const std::wstring& text) {
  RawValue v;
  v.type = type;
  v.bytes.assign(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
  return v;
}

RawValue Sz(const std::wstring& text) { return Typed(REG_SZ, text); }

RawValue Dword(DWORD value) {
  RawValue v;
  v.type = REG_DWORD;
  v.bytes.assign(reinterpret_cast<const char*>(&value), sizeof value);
  return v;
}

RunValueAside::RunValueAside() : machine_(GetRun(HKEY_LOCAL_MACHINE)), user_(GetRun(HKEY_CURRENT_USER)) {
  DeleteRun(HKEY_LOCAL_MACHINE);
  DeleteRun(HKEY_CURRENT_USER);
}

RunValueAside::~RunValueAside() {
  DeleteRun(HKEY_LOCAL_MACHINE);
  DeleteRun(HKEY_CURRENT_USER);
  if (machine_) PutRun(HKEY_LOCAL_MACHINE, *machine_);
  if (user_) PutRun(HKEY_CURRENT_USER, *user_);
}

DesktopAside::DesktopAside() : desktop_(modCreDeskLink::DesktopFolder()) {
  for (const std::wstring& name : TitledEntries()) {
    const std::wstring from = *this / name;
    if (::MoveFileExW(from.c_str(), (store_ / name).c_str(), 0)) moved_.push_back(name);
  }
}

DesktopAside::~DesktopAside() {
  for (const std::wstring& name : TitledEntries()) {
    const std::wstring path = *this / name;
    if (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      testsupport::RemoveTree(path);
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  }
  for (const std::wstring& name : moved_) ::MoveFileExW((store_ / name).c_str(), (*this / name).c_str(), 0);
}

std::vector<std::wstring> DesktopAside::TitledEntries() const {
  std::vector<std::wstring> names;
  if (desktop_.empty()) return names;
  WIN32_FIND_DATAW fd;
  win::UniqueFind find(::FindFirstFileW((desktop_ + L"\\*").c_str(), &fd));
  if (!find) return names;
  do {
    const std::wstring name = fd.cFileName;
    if (name != L"." && name != L".." && ContainsTitle(name)) names.push_back(name);
  } while (::FindNextFileW(find.get(), &fd));
  return names;
}

CountingWriter::CountingWriter() { modAutoRun::SetRegistryWriterForTesting(this); }
CountingWriter::~CountingWriter() { modAutoRun::SetRegistryWriterForTesting(nullptr); }

LSTATUS CountingWriter::SetString(HKEY root, const std::wstring& subKey, const std::wstring& name,
                                  const std::wstring& data) {
  ++sets;
  if (refuseMachine && root == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
  return modAutoRun::SystemRegistryWriter().SetString(root, subKey, name, data);
}

LSTATUS CountingWriter::DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) {
  ++deletes;
  if (refuseMachine && root == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
  return modAutoRun::SystemRegistryWriter().DeleteValue(root, subKey, name);
}

ClientFolder::ClientFolder() {
  testsupport::WriteFileBytes(Exe(), "MZ");
  testsupport::WriteFileBytes(dir_ / L"Icon.ico", std::string("\0\0\1\0", 4));
}

// Named independently of the code under test: the test program itself.
std::wstring ClientFolder::Exe() const { return dir_ / L"client_tests.exe"; }

std::wstring ClientFolder::Command() const { return L"\"" + Exe() + L"\" /regstart"; }

}  // namespace entrystate
