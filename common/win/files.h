// File-system helpers shared by both programs.
#pragma once

#include <string>

namespace win {

// True when a directory lookup of the exact path, restricted to normal
// files, finds it: a folder, or a file with the hidden or system
// attribute, counts as absent.
bool IsNormalFile(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// A name beside `path` for a file that will replace it ("<path>.<n>.tmp").
std::wstring TempPathBeside(const std::wstring& path);

// Writes what the system still holds of a closed file to the disk; false
// when the file cannot be opened for writing or the flush fails.
bool FlushToDisk(const std::wstring& path);

// Replaces `target` by `source` in one step (same folder). On failure the
// target stays as it was and the caller still owns `source`. `source`
// should be on the disk first (FlushToDisk): the move may reach the disk
// before the data, and a power cut then leaves a file of zeros.
bool ReplaceInOneStep(const std::wstring& source, const std::wstring& target);

// The path the system resolves `path` to, the entry opened as itself (a
// link is not followed where the system can open it as itself); empty when
// it cannot be opened.
std::wstring FinalPath(const std::wstring& path);

// True when both paths name the same existing folder, whatever their
// spelling (short or long names, case, separators, "\\?\"): both opened,
// the same volume and the same file id. A copy, or a folder that cannot be
// opened, is not the same.
bool SameFolder(const std::wstring& a, const std::wstring& b);

// Gives the program file at `path` its name back when an update was cut off
// after moving it aside and before putting the new one there
// (setaside::AsideToRestore). True when it did.
bool RestoreSetAside(const std::wstring& path);

}  // namespace win
