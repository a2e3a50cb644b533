// The log-on start entry: the value "Velmora音乐网" under the Run key, and a
// general registry read. Every registry access uses the 32-bit view, where a
// 32-bit client of earlier installs kept its entry.
#pragma once

#include <windows.h>

#include <string>

namespace modAutoRun {

inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The value's name: the site name.
const std::wstring& RunValueName();

// The value as text: "Error" when the key cannot be opened or the value not
// read, "ERROR_FILE_NOT_FOUND" when it does not exist, a REG_SZ up to its
// first NUL ("Error" without one), a REG_DWORD as signed decimal, any other
// type the empty text. Never fails towards its caller.
std::wstring ReadRegValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

// The client's log-on command: "\"<folder>\<exe base>.exe\" /regstart".
std::wstring AutoRunCommand();

// Writes go through this, so tests can count them and can refuse the
// machine-wide ones as a user without admin rights would find them refused.
class RegistryWriter {
 public:
  virtual ~RegistryWriter() = default;
  // Creates the key when missing and stores `data` as REG_SZ.
  virtual LSTATUS SetString(HKEY root, const std::wstring& subKey, const std::wstring& name,
                            const std::wstring& data) = 0;
  virtual LSTATUS DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name) = 0;
};
RegistryWriter& SystemRegistryWriter();
// Null puts the system writer back.
void SetRegistryWriterForTesting(RegistryWriter* writer);

// What SetAutoRun did. The client ignores it; tests check it.
enum class AutoRunChange {
  kNone,        // on: the command was in place
  kWroteUser,   // on: written under HKEY_CURRENT_USER
  kNotWritten,  // on: the write was refused
  kRemoved,     // off: the command is gone from where it was
  kNotRemoved,  // off: a place refused the deletion
};

// On: makes sure the user's Run value holds AutoRunCommand, and takes this
// client's command away from the machine-wide Run key where it may (an
// older client wrote it there; a refusal is silent). Off: deletes the value
// where it holds exactly AutoRunCommand. A value of another install stays.
// Failures are silent.
AutoRunChange SetAutoRun(bool enable);

}  // namespace modAutoRun
