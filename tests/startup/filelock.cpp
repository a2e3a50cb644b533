// Holds a file open as another program would, for the end-to-end tests.
//   velFileLock.exe FILE none|read SECONDS READY
// Opens FILE for reading with no sharing at all ("none") or sharing reads
// only ("read"), writes "locked" (or "failed <error>") to READY, keeps the
// handle for SECONDS and ends.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void Report(const wchar_t* file, const std::string& text) {
  HANDLE h = ::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  ::CloseHandle(h);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  const std::wstring mode = argv[2];
  DWORD share = 0;
  if (mode == L"read") {
    share = FILE_SHARE_READ;
  } else if (mode != L"none") {
    return 2;
  }
  HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Report(argv[4], "failed " + std::to_string(::GetLastError()));
    return 1;
  }
  Report(argv[4], "locked");
  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) * 1000);
  ::CloseHandle(h);
  return 0;
}
