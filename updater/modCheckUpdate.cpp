#include "updater/modCheckUpdate.h"

#include <shellapi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "common/product.h"
#include "common/win/files.h"
#include "common/win/inet.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"
#include "updater/modVerify.h"
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

DWORD g_httpWaitMs = 5000;
DWORD g_stallLimitMs = 60000;
constexpr size_t kMaxTextBytes = 16u << 20;
std::function<void(std::size_t)> g_chunkObserver;

// Handles pending window messages; false once WM_QUIT was seen (it is put
// back for the message loop).
bool PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

// Waits for the event up to `ms`, handling window messages meanwhile.
bool WaitPumping(HANDLE event, DWORD ms) {
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD r = ::MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;  // time is up, or the wait failed
    if (!PumpMessages()) return false;
  }
}

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

// --- one fetch on a worker thread -------------------------------------------
// The worker owns its WinINet handles and shares this state with the caller;
// whichever lets go last frees it, so an abandoned worker never touches
// freed memory. An abandoned worker stops at its next step, and its own
// timeouts bound a step that never returns.
struct Fetch {
  std::wstring url;
  DWORD timeoutMs = 0;
  win::UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> abandoned{false};
  // Written by the worker before it sets `done`.
  bool ok = false;
  std::string body;
};

// Opens the request by parts so that its own timeouts apply (a session's
// receive timeout is not passed on to its requests everywhere).
win::UniqueInet SendRequest(HINTERNET inet, const std::wstring& address, DWORD timeoutMs,
                            win::UniqueInet& connection) {
  URL_COMPONENTSW parts{sizeof parts};
  wchar_t host[256] = {};
  wchar_t path[4096] = {};
  wchar_t extra[4096] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = ARRAYSIZE(extra);
  if (!::InternetCrackUrlW(address.c_str(), 0, 0, &parts)) return {};
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return {};
  connection.reset(
      ::InternetConnectW(inet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return {};
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  const std::wstring object = std::wstring(path) + extra;
  win::UniqueInet request(::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr,
                                             flags, 0));
  if (!request) return {};
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    ::InternetSetOptionW(request.get(), option, &timeoutMs, sizeof timeoutMs);
  if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return {};
  return request;
}

DWORD WINAPI FetchWorker(void* param) {
  std::shared_ptr<Fetch> f = std::move(*static_cast<std::shared_ptr<Fetch>*>(param));
  delete static_cast<std::shared_ptr<Fetch>*>(param);
  win::UniqueInet inet(::InternetOpenW(L"velUpdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (inet) {
    ::InternetSetOptionW(inet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &f->timeoutMs, sizeof f->timeoutMs);
    // The request is sent even when abandoned meanwhile, as the request
    // object did: only what comes back is no longer wanted.
    win::UniqueInet connection;
    win::UniqueInet request = SendRequest(inet.get(), f->url, f->timeoutMs, connection);
    if (request) {
      char buf[16 * 1024];
      for (;;) {
        if (f->abandoned) break;
        DWORD got = 0;
        if (!::InternetReadFile(request.get(), buf, sizeof buf, &got)) break;
        if (got == 0) {
          f->ok = true;
          break;
        }
        f->body.append(buf, got);
        // Fields lie within the first 32767 characters: a body that goes on
        // and on is no manifest, and must not fill the memory.
        if (f->body.size() > kMaxTextBytes) break;
      }
    }
  }
  ::SetEvent(f->done.get());
  return 0;
}

// Workers that were abandoned and may still run.
std::vector<win::UniqueHandle>& Abandoned() {
  static std::vector<win::UniqueHandle> threads;
  return threads;
}

void ForgetFinishedWorkers() {
  auto& v = Abandoned();
  for (size_t i = 0; i < v.size();) {
    if (::WaitForSingleObject(v[i].get(), 0) == WAIT_OBJECT_0)
      v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
    else
      ++i;
  }
}

struct Started {
  std::shared_ptr<Fetch> fetch;
  win::UniqueHandle thread;
};

Started StartFetch(const std::wstring& address) {
  Started s;
  auto f = std::make_shared<Fetch>();
  if (!f->done) return s;
  f->url = address + L"?" + TimeOfDaySuffix();
  f->timeoutMs = g_httpWaitMs + 1000;
  auto* param = new std::shared_ptr<Fetch>(f);
  s.thread.reset(::CreateThread(nullptr, 0, &FetchWorker, param, 0, nullptr));
  if (!s.thread) {
    delete param;
    return s;
  }
  s.fetch = std::move(f);
  return s;
}

void Abandon(Started& s) {
  s.fetch->abandoned = true;
  Abandoned().push_back(std::move(s.thread));
}

// --- files ---------------------------------------------------------------

std::wstring InstallerPath() { return DownDir + ExeName; }

std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

bool FileSizeOf(const std::wstring& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return false;
  size = (static_cast<std::uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  return true;
}

// The download folder, made when it is missing (one level). Something else
// of that name is left alone.
bool EnsureDownDir() {
  const std::wstring dir = WithoutTrailingSeparator(DownDir);
  if (dir.empty()) return false;
  const DWORD attrs = ::GetFileAttributesW(dir.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (::CreateDirectoryW(dir.c_str(), nullptr)) return true;
  return win::IsDirectory(dir);
}

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

// Opened for reading only and shared for reading only: while it is open
// nobody can change or replace the file.
win::UniqueFile OpenHeld(const std::wstring& path) {
  return win::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool HasSignedHash(const std::wstring& path) {
  if (!bOfferSigned) return false;
  const win::UniqueFile file = OpenHeld(path);
  signedoffer::Digest got{};
  return file && modVerify::HashFile(file.get(), got) && got == InstallerSha256;
}

std::vector<std::u16string> U16(const std::vector<std::wstring>& parts) {
  std::vector<std::u16string> out;
  for (const auto& p : parts) out.push_back(win::U(p));
  return out;
}

// Accepts the offer of the manifest when its signature verifies with the
// built-in key over exactly the fields the download uses.
void CheckSignature(std::u16string_view manifest) {
  const auto offer = signedoffer::ReadSignedOffer(manifest);
  if (!offer) return;
  if (offer->downUrl != win::U(DownUrl) || offer->exeName != win::U(ExeName)) return;
  // The signed version must itself be newer: an older signed manifest
  // served after a made-up version is no update.
  if (!updatelogic::IsNewer(U16(LocalVer), updatelogic::SplitVersion(offer->version))) return;
  if (!modVerify::VerifySignature(PublicKey, offer->signedText, offer->signature)) return;
  bOfferSigned = true;
  InstallerSha256 = offer->sha256;
}

std::optional<std::uint64_t> ContentLength(HINTERNET request) {
  wchar_t buf[64];
  DWORD len = sizeof buf;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, buf, &len, nullptr)) return std::nullopt;
  return updatelogic::ParseContentLength(win::U(std::wstring_view(buf, len / sizeof(wchar_t))));
}

}  // namespace

// --- version check ---------------------------------------------------------

std::wstring GetHttpText(const std::wstring& address) {
  ForgetFinishedWorkers();
  Started s = StartFetch(address);
  if (!s.fetch) return L"";
  for (int attempts = 0;;) {
    if (WaitPumping(s.fetch->done.get(), g_httpWaitMs)) {
      // Finished: the worker no longer touches the state.
      return s.fetch->ok ? DecodeText(s.fetch->body) : L"";
    }
    Abandon(s);
    s = StartFetch(address);
    if (!s.fetch) return L"";
    if (++attempts == 3) {
      Abandon(s);
      return L"";
    }
  }
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

bool DownFileExists() {
  if (!updatelogic::IsPlainFileName(win::U(ExeName))) return false;
  const std::wstring path = InstallerPath();
  std::uint64_t size = 0;
  if (!win::IsNormalFile(path) || !FileSizeOf(path, size) || !updatelogic::IsUsableInstaller(size, FileSize))
    return false;
  return PublicKey.empty() || HasSignedHash(path);
}

namespace {

// --- the transfer of the installer on a worker thread ---------------------------
// The worker only reads: it hands each piece to the caller, which writes the
// file and watches the time. A server that goes quiet blocks the worker and
// not the updater, whatever the network layer's own timeouts are; the caller
// gives up on it like on an abandoned fetch, and the worker owns no file.
constexpr std::size_t kWakeBytes = 256 * 1024;

// Pieces as they were read, one after the other.
struct Pieces {
  std::string bytes;
  std::vector<std::uint32_t> sizes;
};
constexpr DWORD kLookEveryMs = 10;

struct Transfer {
  std::wstring url;
  win::UniqueHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // something new
  std::atomic<bool> abandoned{false};
  std::mutex lock;  // guards what follows
  bool opened = false;       // the answer's head has come
  DWORD status = 0;
  std::optional<std::uint64_t> contentLength;
  Pieces pieces;
  bool finished = false;     // the worker is done with the network
  bool endedAtEndOfData = false;
};

void Post(Transfer& t, const std::function<void()>& change) {
  {
    std::lock_guard<std::mutex> g(t.lock);
    change();
  }
  ::SetEvent(t.wake.get());
}

DWORD WINAPI TransferWorker(void* param) {
  std::shared_ptr<Transfer> t = std::move(*static_cast<std::shared_ptr<Transfer>*>(param));
  delete static_cast<std::shared_ptr<Transfer>*>(param);
  bool atEnd = false;
  win::UniqueInet inet(::InternetOpenW(L"VB OpenUrl", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  win::UniqueInet url;
  if (inet) url.reset(::InternetOpenUrlW(inet.get(), t->url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
  if (url && !t->abandoned) {
    DWORD status = 0;
    DWORD len = sizeof status;
    if (!::HttpQueryInfoW(url.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr))
      status = 0;
    const auto length = ContentLength(url.get());
    Post(*t, [&] {
      t->opened = true;
      t->status = status;
      t->contentLength = length;
    });
    DWORD available = 0;
    constexpr DWORD kChunk = 1025;
    char buf[kChunk];
    // An error page is not read: it is not an installer.
    while (status == 200 && !t->abandoned) {
      // Asking what is available lets WinINet fill its own buffer in one
      // receive, so that the reads of 1025 bytes are served from memory.
      if (available < kChunk && !::InternetQueryDataAvailable(url.get(), &available, 0, 0)) available = 0;
      DWORD got = 0;
      if (!::InternetReadFile(url.get(), buf, kChunk, &got)) break;
      available = got < available ? available - got : 0;
      if (got == 0) {
        atEnd = true;
        break;
      }
      // The caller looks every few milliseconds and is woken only when much
      // has piled up: a wake per piece would cost more than the piece.
      bool full = false;
      {
        std::lock_guard<std::mutex> g(t->lock);
        t->pieces.bytes.append(buf, got);
        t->pieces.sizes.push_back(got);
        full = t->pieces.bytes.size() >= kWakeBytes && t->pieces.bytes.size() - got < kWakeBytes;
      }
      if (full) ::SetEvent(t->wake.get());
    }
  }
  url.reset();
  inet.reset();
  Post(*t, [&] {
    t->finished = true;
    t->endedAtEndOfData = atEnd;
  });
  return 0;
}

}  // namespace

DownloadResult DownloadFile(const std::wstring& address) {
  if (!OfferAccepted()) return DownloadResult::NotAccepted;
  // The name comes over plain HTTP: it must not reach outside the folder.
  if (!updatelogic::IsPlainFileName(win::U(ExeName))) return DownloadResult::BadName;
  if (!EnsureDownDir()) return DownloadResult::FolderUnusable;

  auto t = std::make_shared<Transfer>();
  if (!t->wake) return DownloadResult::OpenFailed;
  t->url = address;
  auto* param = new std::shared_ptr<Transfer>(t);
  win::UniqueHandle worker(::CreateThread(nullptr, 0, &TransferWorker, param, 0, nullptr));
  if (!worker) {
    delete param;
    return DownloadResult::OpenFailed;
  }

  const std::wstring target = InstallerPath();
  const std::wstring temp = win::TempPathBeside(target);
  win::UniqueFile file;
  std::optional<BufferedFile> out;
  updatelogic::DownloadOutcome outcome;
  bool opened = false;
  DWORD answer = 0;
  bool written = true;
  bool stalled = false;
  bool quitting = false;
  bool finished = false;
  ULONGLONG lastByte = ::GetTickCount64();
  Pieces pieces;
  // With a key, the bytes are hashed as they are written.
  std::optional<modVerify::Hasher> hasher;
  if (!PublicKey.empty()) hasher.emplace();
  for (;;) {
    const ULONGLONG since = ::GetTickCount64() - lastByte;
    const DWORD left = since >= g_stallLimitMs ? 0 : static_cast<DWORD>(g_stallLimitMs - since);
    HANDLE wake = t->wake.get();
    const DWORD r = ::MsgWaitForMultipleObjects(1, &wake, FALSE, left < kLookEveryMs ? left : kLookEveryMs,
                                                QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 + 1 && !PumpMessages()) {
      quitting = true;  // the program is ending: the download with it
      break;
    }
    bool nowOpened = false;
    {
      std::lock_guard<std::mutex> g(t->lock);
      std::swap(pieces, t->pieces);
      nowOpened = t->opened && !opened;
      if (nowOpened) {
        answer = t->status;
        outcome.contentLength = t->contentLength;
      }
      finished = t->finished;
      outcome.endedAtEndOfData = t->endedAtEndOfData;
    }
    if (nowOpened) {
      opened = true;
      lastByte = ::GetTickCount64();
      if (answer != 200) break;  // an error page is not an installer
      file.reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) {
        written = false;
        break;
      }
      out.emplace(file.get());
    }
    bool enough = false;
    if (!pieces.sizes.empty()) lastByte = ::GetTickCount64();
    std::size_t at = 0;
    for (const std::uint32_t size : pieces.sizes) {
      if (!out || !out->Append(pieces.bytes.data() + at, size)) {
        written = false;
        break;
      }
      if (hasher) hasher->Add(pieces.bytes.data() + at, size);
      at += size;
      outcome.bytes += size;
      if (g_chunkObserver) g_chunkObserver(size);
      if (updatelogic::MoreThanAnnounced(outcome.bytes, outcome.contentLength, FileSize)) {
        enough = true;
        break;
      }
    }
    pieces.bytes.clear();
    pieces.sizes.clear();
    if (!written || enough || finished) break;
    if (::GetTickCount64() - lastByte >= g_stallLimitMs) {
      stalled = true;
      break;
    }
  }
  if (finished) {
    ::WaitForSingleObject(worker.get(), INFINITE);  // it has only its handles left to close
  } else {
    t->abandoned = true;
    Abandoned().push_back(std::move(worker));
  }
  const bool made = static_cast<bool>(file);
  if (out && !out->Flush()) written = false;
  out.reset();
  file.reset();

  if (!opened) return stalled ? DownloadResult::Stalled : DownloadResult::OpenFailed;
  if (answer != 200) return DownloadResult::NotOk;
  if (!made) return DownloadResult::FileFailed;
  if (stalled || quitting || !written || !updatelogic::IsCompleteDownload(outcome, FileSize)) {
    ::DeleteFileW(temp.c_str());
    if (stalled) return DownloadResult::Stalled;
    return written ? DownloadResult::Incomplete : DownloadResult::FileFailed;
  }
  // Only the signed installer gets the name it is started under (and is
  // checked once more, held, before it is started).
  signedoffer::Digest got{};
  if (hasher && (!hasher->Finish(got) || got != InstallerSha256)) {
    ::DeleteFileW(temp.c_str());
    return DownloadResult::HashMismatch;
  }
  if (!win::ReplaceInOneStep(temp, target)) {
    ::DeleteFileW(temp.c_str());
    return DownloadResult::NotPlaced;
  }
  return DownloadResult::Stored;
}

bool LaunchDownFile(HWND owner) {
  // Held from the check until the shell has started it.
  win::UniqueFile held;
  if (!PublicKey.empty()) {
    if (!updatelogic::IsPlainFileName(win::U(ExeName))) return false;
    held = OpenHeld(InstallerPath());
    if (!held) return false;
  }
  if (!DownFileExists()) return false;  // nothing complete (or not the signed installer) to start
  const HINSTANCE r = ::ShellExecuteW(owner, L"open", InstallerPath().c_str(), nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

bool WaitForAbandonedFetches(DWORD ms) {
  auto& v = Abandoned();
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  for (auto& t : v) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) break;
    ::WaitForSingleObject(t.get(), static_cast<DWORD>(deadline - now));
  }
  ForgetFinishedWorkers();
  return v.empty();
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

}  // namespace modCheckUpdate
