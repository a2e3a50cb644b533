// Folder and name of the running executable; every file path of both
// programs is built from the folder and a literal beginning with "\".
#pragma once

#include <string>
#include <string_view>

namespace win {

// Folder of the running executable, without a trailing separator
// (except at a drive root, as the platform reports it).
const std::wstring& AppFolder();
// The program folder joined with a literal that begins with "\\"
// (product::kConfigFile, ...), with one separator also at a drive root.
std::wstring AppFile(std::wstring_view literal);
// File name of the executable without its extension ("velBox").
const std::wstring& ExeBaseName();
// Full path of the running executable.
const std::wstring& ExePath();

// Tests run the code against a folder of their own.
void OverrideAppFolderForTesting(const std::wstring& folder);

}  // namespace win
