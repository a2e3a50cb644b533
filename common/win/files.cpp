#include "common/win/files.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "common/setaside.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"

namespace win {

bool IsNormalFile(const std::wstring& path) {
  if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) return false;
  WIN32_FIND_DATAW fd;
  UniqueFind find(::FindFirstFileW(path.c_str(), &fd));
  if (!find) return false;
  constexpr DWORD kNotNormal = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (fd.dwFileAttributes & kNotNormal) == 0;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attrs = ::GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buf[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) return false;
    if (got == 0) return true;
    bytes.append(buf, got);
  }
}

std::wstring TempPathBeside(const std::wstring& path) {
  static std::atomic<unsigned> counter{0};
  return path + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".tmp";
}

bool FlushToDisk(const std::wstring& path) {
  // The system's cache belongs to the file, not to the handle that wrote
  // it: a handle of our own flushes what another writer left there.
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && ::FlushFileBuffers(file.get());
}

bool ReplaceInOneStep(const std::wstring& source, const std::wstring& target) {
  // A read-only target is not ours to replace (Windows refuses it; Wine
  // would not).
  const DWORD attrs = ::GetFileAttributesW(target.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) return false;
  return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::wstring FinalPath(const std::wstring& path) {
  UniqueFile h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return {};
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(h.get(), out.data(), static_cast<DWORD>(out.size()), 0);
    if (n == 0) return {};
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n + 1);
  }
}

namespace {

// FILE_ID_INFO of Windows 8 and later (the headers offer it only to
// programs that require those); older systems refuse the class.
struct FileIdInformation {
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};
constexpr FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// A folder opened as itself for its identity only: no access beyond its
// attributes, any sharing, so that nobody else's work is in the way.
UniqueFile OpenFolderForIdentity(const std::wstring& path) {
  UniqueFile h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (h && (!::GetFileInformationByHandle(h.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
    h.reset();
  return h;
}

}  // namespace

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  const UniqueFile ha = OpenFolderForIdentity(a);
  const UniqueFile hb = OpenFolderForIdentity(b);
  if (!ha || !hb) return false;
  // The 128-bit id where the system has it (ReFS needs all of it), else
  // the volume serial number and 64-bit index every version gives.
  FileIdInformation ia, ib;
  if (::GetFileInformationByHandleEx(ha.get(), kFileIdInfo, &ia, sizeof ia) &&
      ::GetFileInformationByHandleEx(hb.get(), kFileIdInfo, &ib, sizeof ib))
    return ia.VolumeSerialNumber == ib.VolumeSerialNumber && std::memcmp(ia.FileId, ib.FileId, sizeof ia.FileId) == 0;
  BY_HANDLE_FILE_INFORMATION fa, fb;
  return ::GetFileInformationByHandle(ha.get(), &fa) && ::GetFileInformationByHandle(hb.get(), &fb) &&
         fa.dwVolumeSerialNumber == fb.dwVolumeSerialNumber && fa.nFileIndexHigh == fb.nFileIndexHigh &&
         fa.nFileIndexLow == fb.nFileIndexLow;
}

bool RestoreSetAside(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  const std::wstring folder = path.substr(0, slash + 1);
  const std::wstring name = path.substr(slash + 1);
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  std::vector<std::u16string> entries;
  WIN32_FIND_DATAW fd;
  UniqueFind find(::FindFirstFileW((path + L".*.old").c_str(), &fd));
  if (!find) return false;
  do {
    if ((fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
      entries.push_back(U(fd.cFileName));
  } while (::FindNextFileW(find.get(), &fd));
  const auto aside = setaside::AsideToRestore(U(name), entries);
  // The file moved aside is the running program's image: it may be renamed.
  return aside && ::MoveFileExW((folder + W(*aside)).c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
}

}  // namespace win
