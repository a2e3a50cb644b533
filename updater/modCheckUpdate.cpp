#include "updater/modCheckUpdate.h"

#include <shellapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "common/product.h"
#include "common/win/files.h"
#include "common/win/heldfolder.h"
#include "common/win/inet.h"
#include "common/win/installation.h"
#include "common/win/msgloop.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"
#include "updater/modVerify.h"
#include "updater/timings.h"
#include "updater/transfer.h"
#include "updater/updatelogic.h"

namespace modCheckUpdate {

std::wstring DownDir;
std::wstring DownUrl;
std::wstring ExeName;
std::int32_t FileSize = 0;
std::int16_t OpenDownFile = 0;
std::vector<std::wstring> LocalVer;
std::vector<std::wstring> ServerVer;
std::vector<std::uint8_t> PublicKey;
bool bOfferSigned = false;
signedoffer::Digest InstallerSha256{};

namespace {

DWORD g_httpWaitMs = updatetimings::kHttpWaitMs;
DWORD g_stallLimitMs = updatetimings::kStallLimitMs;
DWORD g_deadlineBaseMs = updatetimings::kDeadlineBaseMs;
constexpr size_t kMaxTextBytes = 16u << 20;
std::function<void(std::size_t)> g_chunkObserver;

std::wstring DecodeText(const std::string& bytes) {
  if (auto u = updatelogic::DecodeUnicodeText(bytes)) return win::W(*u);
  // Neither UTF-8 nor UTF-16: the system's ANSI code page.
  const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::wstring TimeOfDaySuffix() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  const double seconds = t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
  return win::W(updatelogic::TimeSuffix(seconds));
}

// Both requests go to the server only: no copy in or from the system's
// cache, no cookies of the store the embedded browser shares, no answer to
// an authentication challenge (on a company network the user's Windows
// log-on), no dialog.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH;

// A worker's own timeouts run a little past the owner's limit: the owner
// decides, and a worker given up on (where closing its request does not
// end it) ends by itself soon after.
constexpr DWORD kWorkerGraceMs = 500;

// One attempt of GetHttpText. The last attempt is only sent: it waits for
// no answer.
std::unique_ptr<transfer::Transfer> StartAttempt(const std::wstring& address, bool sendOnly) {
  transfer::Options o;
  o.agent = L"velUpdate";
  o.flags = kRequestFlags;
  o.connectSendMs = g_httpWaitMs + kWorkerGraceMs;
  o.receiveMs = sendOnly ? 1 : g_httpWaitMs + kWorkerGraceMs;
  // Fields lie within the first 32767 characters: a body that goes on and
  // on is no manifest, and must not fill the memory.
  o.maxBytes = kMaxTextBytes;
  return transfer::Transfer::Start(address + L"?" + TimeOfDaySuffix(), o);
}

// Cancels the transfers and waits for their workers, serving messages.
void EndAll(std::vector<std::unique_ptr<transfer::Transfer>>& transfers, DWORD atMostMs) {
  for (auto& t : transfers) t->Cancel();
  const ULONGLONG deadline = ::GetTickCount64() + atMostMs;
  for (auto& t : transfers) {
    const ULONGLONG now = ::GetTickCount64();
    t->Join(now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
  }
  transfers.clear();
}

// --- files ---------------------------------------------------------------

std::wstring InstallerPath() { return DownDir + ExeName; }

std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// A name for a temporary file of ours in the download folder.
std::wstring TemporaryName() {
  std::uint64_t random = 0;
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof random,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    random = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64();
  return win::W(updatelogic::OwnTemporaryName(random));
}

// The download folder beside the updater, held while the updater works in
// it (win::HeldFolder); with `create`, made first when it is missing (one
// level). Something else of that name, or a link, is no place to work in.
win::HeldFolder HoldDownDir(bool create) {
  const std::wstring dir = WithoutTrailingSeparator(DownDir);
  const size_t slash = dir.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  if (create && ::GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryW(dir.c_str(), nullptr);
  return win::HeldFolder::Open(dir.substr(0, slash), dir.substr(slash + 1));
}

// Whether a file can be made in the folder: one the user may not write (an
// administrator's updater made it) is no place to download to, and the
// installer is not asked for. The probe goes when closed.
bool CanWriteIn(const win::HeldFolder& dir) { return static_cast<bool>(dir.CreateNew(TemporaryName(), true)); }

// Appends go to memory first and reach the file in large writes; the file
// gets the same bytes in the same order.
class BufferedFile {
 public:
  explicit BufferedFile(HANDLE file) : file_(file) { buf_.reserve(kSize); }
  bool Append(const char* data, DWORD n) {
    if (buf_.size() + n > kSize && !Flush()) return false;
    buf_.insert(buf_.end(), data, data + n);
    return true;
  }
  bool Flush() {
    if (buf_.empty()) return true;
    DWORD put = 0;
    const bool ok = ::WriteFile(file_, buf_.data(), static_cast<DWORD>(buf_.size()), &put, nullptr) && put == buf_.size();
    buf_.clear();
    return ok;
  }

 private:
  static constexpr size_t kSize = 1 << 20;
  HANDLE file_;
  std::vector<char> buf_;
};

// Whether the installer open on `file` may be started: not empty, of the
// announced size and, with a key, of the signed hash.
bool IsUsable(HANDLE file) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size) || !updatelogic::IsUsableInstaller(static_cast<std::uint64_t>(size.QuadPart), FileSize))
    return false;
  if (PublicKey.empty()) return true;
  signedoffer::Digest got{};
  return bOfferSigned && modVerify::HashFile(file, got) && got == InstallerSha256;
}

std::vector<std::u16string> U16(const std::vector<std::wstring>& parts) {
  std::vector<std::u16string> out;
  for (const auto& p : parts) out.push_back(win::U(p));
  return out;
}

std::int64_t UtcNow() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const ULONGLONG t = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<std::int64_t>((t - 116444736000000000ULL) / 10000000ULL);
}

// Accepts the offer of the manifest when its signature verifies with the
// built-in key over exactly the fields the download uses, and it has not
// expired (an offer withheld or replayed lasts no longer than that).
void CheckSignature(std::u16string_view manifest) {
  const auto offer = signedoffer::ReadSignedOffer(manifest);
  if (!offer) return;
  if (offer->downUrl != win::U(DownUrl) || offer->exeName != win::U(ExeName)) return;
  // The signed version must itself be newer: an older signed manifest
  // served after a made-up version is no update.
  if (!updatelogic::IsNewer(U16(LocalVer), updatelogic::SplitVersion(offer->version))) return;
  if (signedoffer::CheckExpiry(offer->expires, UtcNow()) != signedoffer::Freshness::kFresh) return;
  if (!modVerify::VerifySignature(PublicKey, offer->signedText, offer->signature)) return;
  bOfferSigned = true;
  InstallerSha256 = offer->sha256;
}


}  // namespace

// --- leftovers -------------------------------------------------------------

int ClearLeftovers() {
  const win::HeldFolder dir = HoldDownDir(false);
  int cleared = 0;
  for (const auto& name : dir.Names())
    if (updatelogic::IsOwnTemporaryName(win::U(name)) && dir.DeletePlainFile(name)) ++cleared;
  return cleared;
}

// --- version check ---------------------------------------------------------

std::wstring GetHttpText(const std::wstring& address) {
  std::vector<std::unique_ptr<transfer::Transfer>> attempts;
  std::unique_ptr<transfer::Transfer> last;
  std::wstring text;
  for (int unanswered = 0;;) {
    auto attempt = StartAttempt(address, false);
    if (!attempt) break;
    attempts.push_back(std::move(attempt));
    transfer::Transfer& t = *attempts.back();
    const win::Waited w = win::WaitForObjectWithMessages(t.Worker(), g_httpWaitMs);
    if (w == win::Waited::kQuit) break;  // the program is ending
    const transfer::Progress p = t.Take();
    if (w == win::Waited::kSignalled && p.end != transfer::End::kTimedOut) {
      if (p.end == transfer::End::kAtEnd) text = DecodeText(p.bytes);
      break;
    }
    // Not answered within the wait: sent anew, three times at most; the
    // last one goes out and is given up on at once.
    t.Cancel();
    if (++unanswered == 3) {
      last = StartAttempt(address, true);
      break;
    }
  }
  // The last one is not cancelled: it must still go out, and ends by itself
  // once it has.
  if (last) last->Join(g_httpWaitMs + 2000);
  EndAll(attempts, g_httpWaitMs + 2000);
  return text;
}

namespace {

// Cuts the version between the tags out of the text and splits it.
bool ReadVersion(const std::wstring& text, std::u16string_view open, std::u16string_view close,
                 std::vector<std::wstring>& into) {
  if (text.empty()) return false;
  const auto value = updatelogic::ReadField(win::U(text), open, close);
  if (!value) return false;
  into.clear();
  for (const auto& part : updatelogic::SplitVersion(*value)) into.push_back(win::W(part));
  return true;
}

}  // namespace

bool ReadLocalVersion() {
  // Read straight from the file: a local file needs no HTTP request.
  const std::wstring path = win::AppFile(win::W(product::kConfigFile));
  if (!win::IsNormalFile(path)) return false;
  std::string bytes;
  if (!win::ReadWholeFile(path, bytes)) return false;
  return ReadVersion(DecodeText(bytes), u"<ver>", u"</ver>", LocalVer);
}

bool ReadServerVersion() {
  return ReadVersion(GetHttpText(win::W(product::ManifestAddress())), u"<version>", u"</version>", ServerVer);
}

bool CheckUpdate() {
  if (!ReadLocalVersion()) return false;  // the server is not asked at all
  if (!ReadServerVersion()) return false;
  return updatelogic::IsNewer(U16(LocalVer), U16(ServerVer));
}

void ReadUpdateInfo() {
  bOfferSigned = false;
  InstallerSha256 = {};
  const std::wstring text = GetHttpText(win::W(product::ManifestAddress()));
  if (text.empty()) return;
  const std::u16string manifest = win::U(text);
  updatelogic::UpdateInfo info{win::U(DownUrl), win::U(ExeName), FileSize, OpenDownFile};
  updatelogic::ReadUpdateFields(manifest, info);
  DownUrl = win::W(info.downUrl);
  ExeName = win::W(info.exeName);
  FileSize = info.fileSize;
  OpenDownFile = info.openDownFile;
  if (!PublicKey.empty()) CheckSignature(manifest);
}

bool OfferAccepted() { return PublicKey.empty() || bOfferSigned; }

// --- download and launch -----------------------------------------------------

namespace {

// The installer in the held download folder, opened for reading and held
// against changes, when it is there to be started: a plain file, neither
// hidden nor system (those count as absent), and usable.
win::UniqueFile HeldInstaller(const win::HeldFolder& dir) {
  if (!dir || !updatelogic::IsPlainFileName(win::U(ExeName))) return {};
  win::UniqueFile file = dir.OpenPlainFile(ExeName, GENERIC_READ, true);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) || !IsUsable(file.get()))
    file.reset();
  return file;
}

}  // namespace

bool DownFileExists() { return static_cast<bool>(HeldInstaller(HoldDownDir(false))); }

namespace {

// Looks at the transfer this often for what has come; it wakes the owner
// by itself only when much has piled up.
constexpr DWORD kLookEveryMs = 10;

std::unique_ptr<transfer::Transfer> StartDownload(const std::wstring& address) {
  transfer::Options o;
  o.agent = L"VB OpenUrl";
  o.flags = kRequestFlags;
  o.connectSendMs = g_stallLimitMs + kWorkerGraceMs;
  o.receiveMs = g_stallLimitMs + kWorkerGraceMs;
  o.readSize = 1025;
  o.readErrorBodies = false;  // an error page is not an installer
  return transfer::Transfer::Start(address, o);
}

}  // namespace

DownloadResult DownloadFile(const std::wstring& address) {
  if (!OfferAccepted()) return DownloadResult::kNotAccepted;
  // The name comes over plain HTTP: it must not reach outside the folder.
  if (!updatelogic::IsPlainFileName(win::U(ExeName))) return DownloadResult::kBadName;
  // Held from before the first byte until the installer has its name.
  const win::HeldFolder dir = HoldDownDir(true);
  if (!dir || !CanWriteIn(dir)) return DownloadResult::kFolderUnusable;

  std::unique_ptr<transfer::Transfer> t = StartDownload(address);
  if (!t) return DownloadResult::kOpenFailed;

  updatelogic::TransferFacts facts;
  win::UniqueFile file;
  std::optional<BufferedFile> out;
  // With a key, the bytes are hashed as they are written.
  std::optional<modVerify::Hasher> hasher;
  if (!PublicKey.empty()) hasher.emplace();
  const ULONGLONG began = ::GetTickCount64();
  ULONGLONG lastByte = began;
  ULONGLONG deadline = began + updatelogic::DownloadDeadlineMs(g_deadlineBaseMs, FileSize, std::nullopt);
  transfer::End end = transfer::End::kRunning;
  // Until the transfer ends, the file is complete, or a limit is reached.
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now - lastByte >= g_stallLimitMs) {
      facts.stalled = true;
      break;
    }
    if (now >= deadline) {
      facts.pastDeadline = true;
      break;
    }
    const ULONGLONG untilLimit = std::min<ULONGLONG>(lastByte + g_stallLimitMs, deadline) - now;
    if (win::WaitForObjectWithMessages(t->Wake(), static_cast<DWORD>(std::min<ULONGLONG>(untilLimit, kLookEveryMs))) ==
        win::Waited::kQuit) {
      facts.quitting = true;  // the program is ending: the download with it
      break;
    }
    transfer::Progress p = t->Take();
    end = p.end;
    if (p.headed && !facts.headed) {
      facts.headed = true;
      facts.status = p.status;
      facts.outcome.contentLength = p.contentLength;
      lastByte = ::GetTickCount64();
      if (FileSize <= 0)  // nothing announced: the server's length, when it gives one
        deadline = began + updatelogic::DownloadDeadlineMs(g_deadlineBaseMs, FileSize, p.contentLength);
      if (p.status != 200) break;  // an error page is not an installer
      file = dir.CreateNew(TemporaryName());
      facts.fileMade = static_cast<bool>(file);
      if (!file) break;
      out.emplace(file.get());
    }
    if (!p.sizes.empty()) lastByte = ::GetTickCount64();
    bool enough = false;
    std::size_t at = 0;
    for (const std::uint32_t size : p.sizes) {
      if (!out || !out->Append(p.bytes.data() + at, size)) {
        facts.written = false;
        break;
      }
      if (hasher) hasher->Add(p.bytes.data() + at, size);
      at += size;
      facts.outcome.bytes += size;
      if (g_chunkObserver) g_chunkObserver(size);
      if (updatelogic::MoreThanAnnounced(facts.outcome.bytes, facts.outcome.contentLength, FileSize)) {
        enough = true;
        break;
      }
    }
    if (!facts.written || enough || end != transfer::End::kRunning) break;
  }
  // The network said nothing for as long as the limit (the worker's own
  // timeout came first).
  if (end == transfer::End::kTimedOut) facts.stalled = true;
  facts.outcome.endedAtEndOfData = end == transfer::End::kAtEnd;
  t->Cancel();
  t->Join(g_stallLimitMs + 5000);
  t.reset();
  if (out && !out->Flush()) facts.written = false;
  out.reset();

  if (hasher && facts.written && updatelogic::IsCompleteDownload(facts.outcome, FileSize)) {
    signedoffer::Digest got{};
    facts.hashMatches = hasher->Finish(got) && got == InstallerSha256;
  }
  const DownloadResult result = updatelogic::DecideDownload(facts, FileSize);
  if (result != DownloadResult::kStored) {
    if (file) win::HeldFolder::DeleteOpen(file.get());
    return result;
  }
  // Only the whole (and signed) installer gets the name it is started
  // under, once it is on the disk; it is checked once more, held, before
  // it is started.
  if (!::FlushFileBuffers(file.get()) || !dir.RenameInto(file.get(), ExeName)) {
    win::HeldFolder::DeleteOpen(file.get());
    return DownloadResult::kNotPlaced;
  }
  return DownloadResult::kStored;
}

bool ProductInstalled() {
  return win::IsNormalFile(win::AppFile(win::W(product::kClientFile))) && win::IsTheInstallation(win::AppFolder());
}

bool LaunchDownFile(HWND owner) {
  if (!ProductInstalled()) return false;
  // The folder and the file are held from the check until the shell has
  // started it: neither can be swapped or changed meanwhile.
  const win::HeldFolder dir = HoldDownDir(false);
  const win::UniqueFile held = HeldInstaller(dir);
  if (!held) return false;  // nothing complete (or not the signed installer) to start
  const HINSTANCE r = ::ShellExecuteW(owner, L"open", InstallerPath().c_str(), nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

void ResetStateForTesting() {
  DownDir.clear();
  DownUrl.clear();
  ExeName.clear();
  FileSize = 0;
  OpenDownFile = 0;
  LocalVer.clear();
  ServerVer.clear();
  PublicKey.clear();
  bOfferSigned = false;
  InstallerSha256 = {};
}

void SetHttpWaitForTesting(DWORD ms) { g_httpWaitMs = ms; }

void SetChunkObserverForTesting(std::function<void(std::size_t)> observer) { g_chunkObserver = std::move(observer); }

void SetStallLimitForTesting(DWORD ms) { g_stallLimitMs = ms; }

void SetDeadlineBaseForTesting(DWORD ms) { g_deadlineBaseMs = ms; }

}  // namespace modCheckUpdate
