// Texts of the log-on start entry and the desktop shortcut: how the command
// and the paths are formed and how a registry value reads as text. No
// Windows header: built natively too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace entrytext {

// Marker texts of ReadRegValue.
inline constexpr char16_t kError[] = u"Error";
inline constexpr char16_t kNotFound[] = u"ERROR_FILE_NOT_FOUND";

// Registry value types the read tells apart (winnt.h numbers).
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

// folder "\" name; a folder that already ends in a separator (a drive root,
// "C:\") gets no second one.
std::u16string InFolder(std::u16string_view folder, std::u16string_view name);

// The client's executable: folder "\" base ".exe", the extension always in
// lower case whatever the real file name says.
std::u16string ExeTarget(std::u16string_view folder, std::u16string_view exeBaseName);

// The Run value's data: the executable in double quotes, one blank,
// "/regstart".
std::u16string AutoRunCommand(std::u16string_view folder, std::u16string_view exeBaseName);

// A REG_SZ value's data up to its first NUL; "Error" when it holds none.
std::u16string RegSzText(std::u16string_view data);

// A REG_DWORD as signed 32-bit decimal (4294967295 reads "-1").
std::u16string RegDwordText(std::uint32_t value);

// The text of a value whose type and data were read: REG_SZ and REG_DWORD
// as above (a REG_DWORD that is not four bytes long cannot be read and gives
// "Error"; an odd byte at the end of a REG_SZ is no character and is left
// out), any other type the empty text. `bytes` are the data as stored
// (UTF-16LE for strings).
std::u16string RegValueText(std::uint32_t type, std::string_view bytes);

// What the log-on start entry needs in its two places. The installation is
// the user's own (in their profile), so its command starts at the user's
// log-on only: it goes under HKEY_CURRENT_USER, never machine-wide, where
// every user of the machine would run it. Only a value that holds exactly
// the client's command is ever deleted.
struct AutoRunPlan {
  bool writeUser = false;
  bool deleteMachine = false;  // this client's command machine-wide, written by an older client
  bool deleteUser = false;
  bool operator==(const AutoRunPlan&) const = default;
};

// The plan for switching the entry on or off, given what each place holds
// now (ReadRegValue's texts, markers included) and the client's command.
// On: the user's value is written unless it holds the command; the command
// machine-wide goes. Off: the command goes from where it is. A value of
// another install stays in either place.
AutoRunPlan PlanAutoRun(bool enable, std::u16string_view machine, std::u16string_view user,
                        std::u16string_view command);

}  // namespace entrytext
