// A folder a program works in, held open for the whole work: opened with
// delete access and without delete sharing, it cannot be renamed, swapped
// for a link or removed meanwhile; its entries are opened relative to that
// handle without following a link, checked on their own handles and
// deleted or renamed through them. A check by name followed by an action by
// name could be raced; this cannot.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/win/owners.h"

namespace win {

class HeldFolder {
 public:
  HeldFolder() = default;

  // Holds `parent`\`name` when it is a folder lying there itself: no link,
  // junction or mount point, and resolved to that very place (Wine follows
  // a symbolic link it cannot open as itself). Empty otherwise, or while
  // another program holds it without delete sharing.
  static HeldFolder Open(const std::wstring& parent, const std::wstring& name);

  explicit operator bool() const { return static_cast<bool>(folder_); }
  HANDLE get() const { return folder_.get(); }

  // Names of the entries directly in it, listed through the handle. A
  // listing only proposes names: each decision is made on the entry opened
  // through the handle.
  std::vector<std::wstring> Names() const;

  // Opens `name` relative to the folder, never through a link, when it is a
  // plain file: a regular file, no reparse point, one link only, on the
  // folder's volume and resolved to the folder itself. `access` is what the
  // caller needs besides reading the attributes; nobody may delete or
  // rename it while it is open, nor, with `denyWrites`, change it.
  UniqueFile OpenPlainFile(const std::wstring& name, ACCESS_MASK access, bool denyWrites = false) const;

  // Makes the new file `name` in the folder for writing (and, for a rename
  // or delete through it, with delete access); fails when the name exists.
  // `deleteOnClose`: it goes when its handle is closed.
  UniqueFile CreateNew(const std::wstring& name, bool deleteOnClose = false) const;

  // Deletes `name` when OpenPlainFile takes it, through that handle.
  bool DeletePlainFile(const std::wstring& name) const;

  // Deletes the file open on `file` (opened with delete access).
  static bool DeleteOpen(HANDLE file);

  // Gives the file open on `file` (made by CreateNew) the name `name` in
  // this folder in one step, replacing what is there only when that is a
  // plain file that may be written.
  bool RenameInto(HANDLE file, const std::wstring& name) const;

  // Removes the folder itself, through its handle, when it is empty.
  bool DeleteIfEmpty() const;

 private:
  UniqueFile OpenRelative(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options) const;

  UniqueFile folder_;
  std::wstring final_;  // what the system resolves the folder to
  DWORD volume_ = 0;
};

}  // namespace win
