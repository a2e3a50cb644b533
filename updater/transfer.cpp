#include "updater/transfer.h"

#include <atomic>
#include <mutex>

#include "common/text.h"
#include "common/win/inet.h"
#include "common/win/msgloop.h"
#include "common/win/winstr.h"
#include "updater/updatelogic.h"

namespace transfer {

namespace {

std::atomic<long> g_live{0};

// Signalled whenever the last worker of the process has ended.
HANDLE NoneLeft() {
  static HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

// Pieces are handed over in bulk: a wake per piece would cost more than the
// piece. The owner also looks by itself every few milliseconds.
constexpr std::size_t kWakeBytes = 256 * 1024;

}  // namespace

struct Transfer::Shared {
  std::wstring url;
  Options options;
  win::UniqueHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};

  std::mutex lock;  // guards everything below
  Progress progress;
  bool cancelled = false;
  // The request handle while the worker is inside a call on it: only then
  // may the owner close it, and the worker then never touches it again.
  HINTERNET request = nullptr;
  bool inCall = false;
  bool closedByOwner = false;
  bool ended = false;

  void Wake() { ::SetEvent(wake.get()); }

  // Around every call that may wait on the network.
  bool Enter(HINTERNET h) {
    std::lock_guard<std::mutex> g(lock);
    if (cancelled) return false;
    request = h;
    inCall = true;
    return true;
  }
  void Leave() {
    std::lock_guard<std::mutex> g(lock);
    inCall = false;
  }
  bool Cancelled() {
    std::lock_guard<std::mutex> g(lock);
    return cancelled;
  }
  void Finish(End end) {
    {
      std::lock_guard<std::mutex> g(lock);
      if (progress.end == End::kRunning) progress.end = cancelled ? End::kCancelled : end;
      ended = true;
    }
    Wake();
  }
};

namespace {

// WinINet reports a timeout of its own; some versions pass on the socket's.
End Failure() {
  const DWORD e = ::GetLastError();
  return e == ERROR_INTERNET_TIMEOUT || e == WSAETIMEDOUT ? End::kTimedOut : End::kFailed;
}

std::optional<std::uint64_t> ContentLength(HINTERNET request) {
  wchar_t buf[64];
  DWORD len = sizeof buf;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, buf, &len, nullptr)) return std::nullopt;
  return updatelogic::ParseContentLength(win::U(std::wstring_view(buf, len / sizeof(wchar_t))));
}

// Opens the request by parts so that its own timeouts apply (a session's
// timeouts are not passed on to its requests everywhere).
win::UniqueInet OpenRequest(HINTERNET inet, const std::wstring& url, const Options& options,
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
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return {};
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return {};
  connection.reset(::InternetConnectW(inet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return {};
  DWORD flags = options.flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  const std::wstring object = std::wstring(path) + extra;
  win::UniqueInet request(
      ::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return {};
  DWORD connectSend = options.connectSendMs;
  DWORD receive = options.receiveMs;
  ::InternetSetOptionW(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectSend, sizeof connectSend);
  ::InternetSetOptionW(request.get(), INTERNET_OPTION_SEND_TIMEOUT, &connectSend, sizeof connectSend);
  ::InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  return request;
}

DWORD StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD len = sizeof status;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr)) return 0;
  return status;
}

// The address a redirect answer names, made absolute against the address
// asked for; empty when it names none or none that may be fetched.
std::wstring RedirectTarget(HINTERNET request, const std::wstring& from) {
  wchar_t location[4096];
  DWORD len = sizeof location;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &len, nullptr)) return {};
  wchar_t target[4096];
  DWORD size = ARRAYSIZE(target);
  if (!::InternetCombineUrlW(from.c_str(), location, target, &size, 0)) return {};
  std::wstring to(target, size);
  return updatelogic::IsWebAddress(win::U(to)) ? to : std::wstring();
}

End Run(Transfer::Shared& s, win::UniqueInet& request) {
  win::UniqueInet inet(::InternetOpenW(s.options.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!inet) return End::kFailed;
  DWORD connectSend = s.options.connectSendMs;
  ::InternetSetOptionW(inet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectSend, sizeof connectSend);
  win::UniqueInet connection;
  std::wstring url = s.url;
  DWORD status = 0;
  for (int redirects = 0;; ++redirects) {
    request.reset();
    request = OpenRequest(inet.get(), url, s.options, connection);
    if (!request) return End::kFailed;
    if (!s.Enter(request.get())) return End::kCancelled;
    const BOOL sent = ::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0);
    const End sendFailure = sent ? End::kRunning : Failure();
    s.Leave();
    if (!sent) return sendFailure;
    if (s.Cancelled()) return End::kCancelled;
    status = StatusOf(request.get());
    if (!updatelogic::IsRedirectStatus(status)) break;
    // Followed here, so that no redirect leads to another scheme (a local
    // file, a program's protocol) or goes round for ever.
    if (redirects == kMaxRedirects) return End::kFailed;
    url = RedirectTarget(request.get(), url);
    if (url.empty()) return End::kFailed;
  }
  const HINTERNET r = request.get();
  const auto length = ContentLength(r);
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.progress.headed = true;
    s.progress.status = status;
    s.progress.contentLength = length;
  }
  s.Wake();
  if (status != 200 && !s.options.readErrorBodies) return End::kNotRead;

  const DWORD size = s.options.readSize;
  std::string buf(size, '\0');
  std::uint64_t total = 0;
  DWORD available = 0;
  for (;;) {
    if (!s.Enter(r)) return End::kCancelled;
    // Asking what is available lets WinINet fill its own buffer in one
    // receive, so that small reads are served from memory.
    if (available < size && !::InternetQueryDataAvailable(r, &available, 0, 0)) available = 0;
    DWORD got = 0;
    const BOOL read = ::InternetReadFile(r, buf.data(), size, &got);
    const End readFailure = read ? End::kRunning : Failure();
    s.Leave();
    if (!read) return readFailure;
    if (got == 0) return End::kAtEnd;
    available = got < available ? available - got : 0;
    total += got;
    bool wake = false;
    {
      std::lock_guard<std::mutex> g(s.lock);
      s.progress.bytes.append(buf.data(), got);
      s.progress.sizes.push_back(got);
      const std::size_t piled = s.progress.bytes.size();
      wake = piled >= kWakeBytes && piled - got < kWakeBytes;
    }
    if (wake) s.Wake();
    if (total > s.options.maxBytes) return End::kTooLong;
  }
}

DWORD WINAPI WorkerMain(void* param) {
  std::shared_ptr<Transfer::Shared> s = std::move(*static_cast<std::shared_ptr<Transfer::Shared>*>(param));
  delete static_cast<std::shared_ptr<Transfer::Shared>*>(param);
  win::UniqueInet request;
  const End end = Run(*s, request);
  {
    std::lock_guard<std::mutex> g(s->lock);
    if (s->closedByOwner) request.release();  // already closed; its value may be taken again
    s->request = nullptr;
  }
  request.reset();
  s->Finish(end);
  if (--g_live == 0) ::SetEvent(NoneLeft());
  return 0;
}

}  // namespace

std::unique_ptr<Transfer> Transfer::Start(const std::wstring& url, const Options& options) {
  auto s = std::make_shared<Shared>();
  if (!s->wake) return nullptr;
  s->url = url;
  s->options = options;
  std::unique_ptr<Transfer> t(new Transfer);
  t->shared_ = s;
  auto* param = new std::shared_ptr<Shared>(s);
  if (g_live++ == 0) ::ResetEvent(NoneLeft());
  t->thread_.reset(::CreateThread(nullptr, 0, &WorkerMain, param, 0, nullptr));
  if (!t->thread_) {
    delete param;
    if (--g_live == 0) ::SetEvent(NoneLeft());
    return nullptr;
  }
  return t;
}

Transfer::~Transfer() {
  // A worker the owner did not wait for is left to its own timeouts: it
  // keeps its share of the state, and the tests see it in Live().
  Cancel();
}

HANDLE Transfer::Wake() const { return shared_->wake.get(); }

bool Transfer::Ended() const {
  std::lock_guard<std::mutex> g(shared_->lock);
  return shared_->ended;
}

Progress Transfer::Take() {
  std::lock_guard<std::mutex> g(shared_->lock);
  Progress out;
  std::swap(out.bytes, shared_->progress.bytes);
  std::swap(out.sizes, shared_->progress.sizes);
  out.headed = shared_->progress.headed;
  out.status = shared_->progress.status;
  out.contentLength = shared_->progress.contentLength;
  out.end = shared_->progress.end;
  return out;
}

void Transfer::Cancel() {
  std::lock_guard<std::mutex> g(shared_->lock);
  if (shared_->cancelled || shared_->ended) return;
  shared_->cancelled = true;
  if (shared_->inCall && shared_->request) {
    ::InternetCloseHandle(shared_->request);
    shared_->closedByOwner = true;
  }
}

bool Transfer::Join(DWORD ms) {
  const win::Waited w = win::WaitForObjectWithMessages(thread_.get(), ms);
  return w == win::Waited::kSignalled || ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0;
}

long Transfer::Live() { return g_live.load(); }

bool Transfer::WaitForNone(DWORD ms) { return ::WaitForSingleObject(NoneLeft(), ms) == WAIT_OBJECT_0; }

}  // namespace transfer
