// How an update names a running program's file that it moved aside: the
// installer renames "<name>" to "<name>.<pid>-<tick>.old" (the running
// program goes on from it) and gives the name to the new file. A cut between
// the two renames leaves the name missing. No Windows header: built natively
// too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setaside {

// True when `entry` is a file that "<name>" was moved aside to. The name is
// compared without regard to case, as the file system does.
bool IsAsideOf(std::u16string_view entry, std::u16string_view name);

// Which entry of a folder listing gives "<name>" back: none while "<name>"
// is there or nothing was moved aside; else the one moved aside last (the
// largest tick), a whole copy of the program as it was. A file the
// uninstaller moved aside ("<name>.0-<tick>.old") never gives its name back.
std::optional<std::u16string> AsideToRestore(std::u16string_view name, const std::vector<std::u16string>& entries);

}  // namespace setaside
