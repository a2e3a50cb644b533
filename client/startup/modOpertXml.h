// "cfg.xml" beside the client: the three options and the installed version.
// Every call opens and parses the file anew; nothing is cached. Nothing is
// written once the installation was removed under the client
// (win::RemovedUnder).
#pragma once

#include <string>

namespace modOpertXml {

// Folder of the client followed by "\cfg.xml".
std::wstring ConfigPath();
// The existence test shared by the operations: a normal file at ConfigPath().
bool ConfigFileExists();

// Creates the file with its defaults when it is absent; an existing file is
// never checked or repaired. False only when a needed save failed.
bool EnsureConfigFile();

// Text of the first element named `key` anywhere in the document; the empty
// text when the file, the element or the text is missing or unreadable.
std::wstring ReadConfigKey(const std::wstring& key);

// Replaces the text of the first element named `key` and saves the file;
// a text that is there already is not written again (the start records its
// version every time). Never creates the file. False (file untouched) when
// the file is absent or unparsable, the key has no element, or the save
// failed.
bool WriteConfigKey(const std::wstring& key, const std::wstring& value);

}  // namespace modOpertXml
