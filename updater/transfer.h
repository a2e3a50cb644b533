// One HTTP GET on a worker thread, owned by one object. The worker only
// talks to the network and hands over what arrives; the owner watches the
// time, decides and writes. Cancel closes the request handle, which ends a
// call that is waiting on the network (where WinINet does not end it, the
// request's own timeouts do); the owner then waits for the worker, so no
// transfer outlives the code that started it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/win/owners.h"

namespace transfer {

struct Options {
  std::wstring agent;
  // HttpOpenRequest flags. Redirects are always followed here, not by
  // WinINet: only to http or https addresses, and kMaxRedirects at most.
  DWORD flags = 0;
  DWORD connectSendMs = 0;    // connect and send timeouts
  DWORD receiveMs = 0;        // how long one receive may wait for a byte
  DWORD readSize = 16 * 1024; // bytes asked for per read
  bool readErrorBodies = true;  // false: only a 200 answer's body is read
  std::uint64_t maxBytes = UINT64_MAX;  // reading stops beyond this
};

inline constexpr int kMaxRedirects = 5;

// How the worker ended.
enum class End {
  kRunning,    // not yet
  kAtEnd,      // the last read returned no byte
  kNotRead,    // the answer's status kept its body from being read
  kFailed,     // a call failed, or a redirect led nowhere it may go
  kTimedOut,   // the network said nothing for a timeout
  kCancelled,  // the owner cancelled
  kTooLong,    // more than maxBytes arrived
};

// What has arrived since the last Take.
struct Progress {
  bool headed = false;   // the answer's head has come (status and length below)
  DWORD status = 0;
  std::optional<std::uint64_t> contentLength;
  std::string bytes;                  // the pieces, one after the other
  std::vector<std::uint32_t> sizes;   // as each read returned them
  End end = End::kRunning;
};

class Transfer {
 public:
  // Null when no worker could be started.
  static std::unique_ptr<Transfer> Start(const std::wstring& url, const Options& options);
  ~Transfer();  // cancels; owners Join before they let go
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Signalled when the head came, when pieces piled up, and when the worker
  // ended (auto-reset).
  HANDLE Wake() const;
  // Signalled for good once the worker has ended.
  HANDLE Worker() const { return thread_.get(); }
  bool Ended() const;
  // Moves out the pieces that have arrived; the head and the end as known.
  Progress Take();
  void Cancel();
  // Waits for the worker, handling window messages meanwhile; true when it
  // has ended.
  bool Join(DWORD ms);

  // Workers of the process still running: each one ends shortly after its
  // owner let go (tests wait for none to be left).
  static long Live();
  static bool WaitForNone(DWORD ms);

  struct Shared;

 private:
  Transfer() = default;
  std::shared_ptr<Shared> shared_;
  win::UniqueHandle thread_;
};

}  // namespace transfer
