// File-system moves the installer tests make from inside Wine, where the
// share modes of the programs under test apply to them:
//   fsdriver.exe short PATH
//       prints the short (8.3) form of PATH.
//   fsdriver.exe swap FOLDER STOPFILE
//       until STOPFILE exists, moves FOLDER\DownTmp aside to
//       FOLDER\DownTmp.real and back, again and again, leaving the name free
//       a moment each time for the test to put a link there (Wine's own
//       rename would follow a link, and it makes none). Prints "swapping"
//       when it begins and "aside N refused M" at the end: how often
//       DownTmp was moved aside, and how often it could not be because a
//       program held it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// A move that must happen (the way back): tried until it does.
void MoveSurely(const std::wstring& from, const std::wstring& to) {
  for (int i = 0; i < 5000 && !::MoveFileExW(from.c_str(), to.c_str(), 0); ++i) ::Sleep(1);
}

int Swap(const std::wstring& folder, const std::wstring& stop) {
  const std::wstring down = folder + L"\\DownTmp";
  const std::wstring aside = folder + L"\\DownTmp.real";
  unsigned long moved = 0, refused = 0;
  std::printf("swapping\n");
  std::fflush(stdout);
  while (::GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::MoveFileExW(down.c_str(), aside.c_str(), 0)) {
      ++moved;
      ::Sleep(3);
      // Back as soon as the link the test put there is gone again, and
      // there for a moment too.
      MoveSurely(aside, down);
      ::Sleep(3);
    } else if (::GetLastError() == ERROR_SHARING_VIOLATION || ::GetLastError() == ERROR_ACCESS_DENIED) {
      ++refused;
    } else {
      ::Sleep(1);  // gone (or a link stands there)
    }
  }
  std::printf("aside %lu refused %lu\n", moved, refused);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"short") {
    wchar_t out[MAX_PATH * 2];
    const DWORD n = ::GetShortPathNameW(argv[2], out, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return 1;
    // UTF-8, for the test to read.
    char bytes[MAX_PATH * 8];
    const int m = ::WideCharToMultiByte(CP_UTF8, 0, out, static_cast<int>(n), bytes, sizeof bytes, nullptr, nullptr);
    std::fwrite(bytes, 1, static_cast<size_t>(m), stdout);
    std::printf("\n");
    return 0;
  }
  if (argc == 4 && std::wstring(argv[1]) == L"swap") return Swap(argv[2], argv[3]);
  return 2;
}
