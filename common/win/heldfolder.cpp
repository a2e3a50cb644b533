#include "common/win/heldfolder.h"

#include <winternl.h>

#include <cstring>

#include "common/win/files.h"

namespace win {

namespace {

// FILE_RENAME_INFORMATION of the native interface: the kernel32 form would
// take the name for a path of the current folder, not of RootDirectory.
struct RenameInformation {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
};
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);

std::wstring FinalPathOf(HANDLE h) {
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), 0);
    if (n == 0) return {};
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n + 1);
  }
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A name that can only mean an entry directly in the folder.
bool IsEntryName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." && name.size() < 256 &&
         name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

}  // namespace

HeldFolder HeldFolder::Open(const std::wstring& parent, const std::wstring& name) {
  HeldFolder held;
  if (!IsEntryName(name)) return held;
  const std::wstring parentFinal = FinalPath(parent);
  if (parentFinal.empty()) return held;
  UniqueFile h(::CreateFileW((parent + L"\\" + name).c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return held;
  FILE_ATTRIBUTE_TAG_INFO tag;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY ||
      !::GetFileInformationByHandle(h.get(), &info))
    return held;
  const std::wstring final = FinalPathOf(h.get());
  if (!SamePath(final, parentFinal + L"\\" + name)) return held;
  held.folder_ = std::move(h);
  held.final_ = final;
  held.volume_ = info.dwVolumeSerialNumber;
  return held;
}

std::vector<std::wstring> HeldFolder::Names() const {
  // Listed through the handle: the folder is not to be opened again by its
  // path (and may not be, without delete sharing).
  std::vector<std::wstring> names;
  if (!folder_) return names;
  std::vector<ULONGLONG> buf(8 * 1024);
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
       ::GetFileInformationByHandleEx(folder_.get(), kind, buf.data(), static_cast<DWORD>(buf.size() * sizeof buf[0]));
       kind = FileIdBothDirectoryInfo) {
    const auto* at = reinterpret_cast<const unsigned char*>(buf.data());
    for (;;) {
      const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring n(e->FileName, e->FileNameLength / sizeof(wchar_t));
      if (n != L"." && n != L"..") names.push_back(n);
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
  return names;
}

UniqueFile HeldFolder::OpenRelative(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                                    ULONG options) const {
  if (!folder_ || !IsEntryName(name)) return UniqueFile();
  UNICODE_STRING us;
  us.Buffer = const_cast<PWSTR>(name.c_str());
  us.Length = us.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, folder_.get(), nullptr);
  IO_STATUS_BLOCK io;
  HANDLE h = nullptr;
  const NTSTATUS status =
      ::NtCreateFile(&h, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                     options | FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  return UniqueFile(status >= 0 && h ? h : INVALID_HANDLE_VALUE);
}

UniqueFile HeldFolder::OpenPlainFile(const std::wstring& name, ACCESS_MASK access, bool denyWrites) const {
  UniqueFile f = OpenRelative(name, access | FILE_READ_ATTRIBUTES,
                              denyWrites ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                              FILE_OPEN_REPARSE_POINT);
  if (!f) return f;
  FILE_ATTRIBUTE_TAG_INFO tag;
  FILE_STANDARD_INFO standard;
  BY_HANDLE_FILE_INFORMATION info;
  // Wine opens a symbolic link to a file as that file, with nothing to show
  // for it but where it resolves to.
  const bool plain = ::GetFileInformationByHandleEx(f.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
                     !(tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                     ::GetFileInformationByHandleEx(f.get(), FileStandardInfo, &standard, sizeof standard) &&
                     !standard.Directory && standard.NumberOfLinks == 1 &&
                     ::GetFileInformationByHandle(f.get(), &info) && info.dwVolumeSerialNumber == volume_ &&
                     SamePath(FinalPathOf(f.get()), final_ + L"\\" + name);
  if (!plain) f.reset();
  return f;
}

UniqueFile HeldFolder::CreateNew(const std::wstring& name, bool deleteOnClose) const {
  return OpenRelative(name, GENERIC_WRITE | DELETE, 0, FILE_CREATE, deleteOnClose ? FILE_DELETE_ON_CLOSE : 0);
}

bool HeldFolder::DeleteOpen(HANDLE file) {
  FILE_DISPOSITION_INFO d{TRUE};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &d, sizeof d) != FALSE;
}

bool HeldFolder::DeletePlainFile(const std::wstring& name) const {
  const UniqueFile f = OpenPlainFile(name, DELETE);
  return f && DeleteOpen(f.get());
}

bool HeldFolder::RenameInto(HANDLE file, const std::wstring& name) const {
  if (!folder_ || !IsEntryName(name)) return false;
  {
    // What is there already must be a plain file, and not read-only: not
    // ours to replace otherwise (Windows refuses a read-only one; Wine
    // would not).
    const UniqueFile existing =
        OpenRelative(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     FILE_OPEN_REPARSE_POINT);
    if (existing) {
      const UniqueFile plain = OpenPlainFile(name, 0);
      BY_HANDLE_FILE_INFORMATION info;
      if (!plain || !::GetFileInformationByHandle(plain.get(), &info) ||
          (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return false;
    }
  }
  std::vector<unsigned char> buf(sizeof(RenameInformation) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<RenameInformation*>(buf.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = folder_.get();
  info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  IO_STATUS_BLOCK io;
  return ::NtSetInformationFile(file, &io, info, static_cast<ULONG>(buf.size()), kFileRenameInformation) >= 0;
}

bool HeldFolder::DeleteIfEmpty() const { return folder_ && DeleteOpen(folder_.get()); }

}  // namespace win
