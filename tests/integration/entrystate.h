// The tests share one Wine prefix: one registry and one desktop. These put
// the Run value and the client's shortcuts aside for a test and bring back
// what was there before.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "client/integration/modAutoRun.h"
#include "tests/support/testsupport.h"

namespace entrystate {

// A registry value as stored: type and raw data.
struct RawValue {
  DWORD type = REG_NONE;
  std::string bytes;
  bool operator==(const RawValue&) const = default;
};

// The Run value "Velmora音乐网" in one place, 32-bit view unless `view`
// says otherwise.
std::optional<RawValue> GetRun(HKEY root, REGSAM view = KEY_WOW64_32KEY);
bool PutRun(HKEY root, const RawValue& value, REGSAM view = KEY_WOW64_32KEY);
void DeleteRun(HKEY root, REGSAM view = KEY_WOW64_32KEY);
// A REG_SZ as the client writes it: UTF-16 text and its terminating NUL.
RawValue Sz(const std::wstring& text);
RawValue Typed(DWORD type, const std::wstring& text);  // text + NUL, any type
RawValue Dword(DWORD value);

// Removes the Run value from both places (32-bit view) for the scope and
// puts back what was there.
class RunValueAside {
 public:
  RunValueAside();
  ~RunValueAside();
  RunValueAside(const RunValueAside&) = delete;
  RunValueAside& operator=(const RunValueAside&) = delete;

 private:
  std::optional<RawValue> machine_, user_;
};

// Moves every desktop entry whose name contains the title (any case) away
// for the scope; at its end removes what the test left and moves them back.
class DesktopAside {
 public:
  DesktopAside();
  ~DesktopAside();
  DesktopAside(const DesktopAside&) = delete;
  DesktopAside& operator=(const DesktopAside&) = delete;
  const std::wstring& desktop() const { return desktop_; }
  std::wstring operator/(const std::wstring& name) const { return desktop_ + L"\\" + name; }
  // Names of the desktop entries that contain the title, in any case.
  std::vector<std::wstring> TitledEntries() const;

 private:
  std::wstring desktop_;
  testsupport::TempDir store_;
  std::vector<std::wstring> moved_;
};

// Counts the registry writes and can refuse the machine-wide ones, as a
// user without admin rights finds them refused.
class CountingWriter final : public modAutoRun::RegistryWriter {
 public:
  CountingWriter();
  ~CountingWriter() override;
  LSTATUS SetString(HKEY root, const std::wstring& subKey, const std::wstring& name,
                    const std::wstring& data) override;
  LSTATUS DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) override;

  bool refuseMachine = false;
  int sets = 0;     // attempts, refused ones included
  int deletes = 0;  // attempts, refused ones included
};

// The installed client as the code under test sees it: a temporary folder
// with a (dummy) executable and icon, used as the application folder.
class ClientFolder {
 public:
  ClientFolder();
  const std::wstring& path() const { return dir_.path(); }
  std::wstring Exe() const;
  std::wstring Command() const;  // the expected Run value data

 private:
  testsupport::TempDir dir_;
  testsupport::AppFolderScope scope_{dir_.path()};
};

}  // namespace entrystate
