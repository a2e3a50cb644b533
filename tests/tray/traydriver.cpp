// Drives a running client from outside, as the shell and the installer do,
// for the end-to-end tests:   traydriver.exe COMMAND [ARGS]
//   find [ms]                  window of class "velBoxMenu" (waits up to ms)
//   main MENU                  the client's main window: its other top-level
//                              form window with a minimise box (the hook's)
//   shown MENU                 the client's shown top-level windows, one a
//                              line: "HWND CLASS"
//   children HWND              the classes of HWND's own child windows, one
//                              a line
//   state HWND                 "exists visible iconic zoomed" as 0/1
//   send HWND MSG WP LP        SendMessageTimeout; prints the result
//   post HWND MSG WP LP
//   closeall HWND              posts WM_CLOSE to every top-level window of
//                              the window's process, as taskkill without /F
//   keys HWND VK...            posts key presses, in order, to the keyboard
//                              focus of the window's thread as it is now
//   icon HWND UID              1 when the shell knows the icon (a modify
//                              that changes nothing), else 0
//   drop HWND UID              deletes the icon, as a lost taskbar would
//   menu [ms]                  waits for a shown pop-up menu (Wine does not
//                              let other processes read its items)
//   key VK...                  posts key presses to the shown pop-up menu
//   balloon [ms]               waits for a balloon tip shown by the
//                              notification area's process
//   foreground                 the foreground window and its class
//   end EXE [ms]               asks the client running from EXE (a Windows
//                              path) to exit as its installer does, and
//                              waits up to ms for it to end
//   parent HWND                the executable of the process that started
//                              the one that owns the window (the started
//                              process's parent, by its id)
//   focus MAIN                 the keyboard focus of MAIN's thread
//                              (GetGUIThreadInfo): "HWND CLASS IN", IN 1
//                              when it lies in the tree of the browser in
//                              MAIN's frame window (class velFrame)
//   test CMD [ARG]             a test-only command of the quick client
//                              (client/testcommands.h); prints its answer
//   rect HWND                  the window's rectangle: "left top right bottom"
//   work HWND                  the work area of the window's monitor, alike
//   acc X Y                    what an accessibility client finds at screen
//                              point (X, Y) (AccessibleObjectFromPoint):
//                              "name<TAB>role<TAB>left top width
//                              height<TAB>state<TAB>default action"
//   accdo X Y                  its default action (accDoDefaultAction)
// MSG may be a number or "TaskbarCreated". Numbers take 0x for hex.
// Found windows are printed as decimal handles. Output is UTF-8; exit code
// 0 on success, 1 when the thing is not there.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <oleacc.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

void Out(const std::wstring& text) {
  std::wstring line = text + L"\n";
  int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

unsigned long long Number(const wchar_t* s) {
  if (std::wcscmp(s, L"TaskbarCreated") == 0) return ::RegisterWindowMessageW(L"TaskbarCreated");
  return std::wcstoull(s, nullptr, 0);
}

HWND Handle(const wchar_t* s) { return reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(s))); }

std::wstring Decimal(UINT_PTR v) { return std::to_wstring(v); }

HWND WaitFor(DWORD ms, HWND (*find)()) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (HWND h = find()) return h;
    if (::GetTickCount() - start >= ms) return nullptr;
    ::Sleep(50);
  }
}

HWND FindMenuForm() { return ::FindWindowW(L"velBoxMenu", nullptr); }

HWND FindShownPopupMenu() {
  HWND found = nullptr;
  ::EnumWindows(
      [](HWND h, LPARAM out) -> BOOL {
        wchar_t cls[64] = {};
        ::GetClassNameW(h, cls, 64);
        if (std::wcscmp(cls, L"#32768") == 0 && ::IsWindowVisible(h)) {
          *reinterpret_cast<HWND*>(out) = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// A balloon tip shown by the notification area's process.
HWND FindShownBalloon() {
  HWND tray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD shell = 0;
  if (tray) ::GetWindowThreadProcessId(tray, &shell);
  if (!shell) return nullptr;
  struct Search {
    DWORD shell;
    HWND found;
  } s{shell, nullptr};
  ::EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t cls[64] = {};
        ::GetClassNameW(h, cls, 64);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        if (pid == s->shell && std::wcscmp(cls, L"tooltips_class32") == 0 && ::IsWindowVisible(h) &&
            (::GetWindowLongPtrW(h, GWL_STYLE) & TTS_BALLOON)) {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

struct MainSearch {
  DWORD pid;
  HWND menu;
  HWND found;
};

HWND FindMain(HWND menu) {
  MainSearch s{0, menu, nullptr};
  ::GetWindowThreadProcessId(menu, &s.pid);
  if (!s.pid) return nullptr;
  ::EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<MainSearch*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        wchar_t cls[64] = {};
        ::GetClassNameW(h, cls, 64);
        if (pid == s->pid && h != s->menu && std::wcscmp(cls, L"velForm") == 0 &&
            (::GetWindowLongPtrW(h, GWL_STYLE) & WS_MINIMIZEBOX)) {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// The tray form of the client whose image is `exe`; its process id in pid.
HWND FindMenuFormOf(const std::wstring& exe, DWORD& pid) {
  struct Search {
    const std::wstring* exe;
    DWORD pid;
    HWND found;
  } s{&exe, 0, nullptr};
  ::EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t cls[64] = {};
        ::GetClassNameW(h, cls, 64);
        if (std::wcscmp(cls, L"velBoxMenu") != 0) return TRUE;
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) return TRUE;
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        const BOOL known = ::QueryFullProcessImageNameW(process, 0, image, &size);
        ::CloseHandle(process);
        if (known && ::CompareStringOrdinal(image, -1, s->exe->c_str(), -1, TRUE) == CSTR_EQUAL) {
          s->pid = pid;
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  pid = s.pid;
  return s.found;
}

NOTIFYICONDATAW IconOf(HWND h, UINT id) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof d;
  d.hWnd = h;
  d.uID = id;
  d.uFlags = 0;
  return d;
}

std::wstring Rect(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
         std::to_wstring(r.bottom);
}

// The object and child at a screen point, as a screen reader asks for them.
struct AtPoint {
  IAccessible* acc = nullptr;
  VARIANT child{};
  ~AtPoint() {
    if (acc) acc->Release();
    ::VariantClear(&child);
  }
};

HRESULT AccessibleAt(const wchar_t* x, const wchar_t* y, AtPoint& at) {
  POINT p{static_cast<LONG>(std::wcstol(x, nullptr, 10)), static_cast<LONG>(std::wcstol(y, nullptr, 10))};
  ::VariantInit(&at.child);
  return ::AccessibleObjectFromPoint(p, &at.acc, &at.child);
}

std::wstring Hex(HRESULT hr) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%08lx", static_cast<unsigned long>(hr));
  return buf;
}

int DescribeAccessible(const wchar_t* x, const wchar_t* y) {
  AtPoint at;
  const HRESULT hr = AccessibleAt(x, y, at);
  if (FAILED(hr) || !at.acc) {
    Out(L"AccessibleObjectFromPoint " + Hex(hr));
    return 1;
  }
  BSTR name = nullptr, action = nullptr;
  at.acc->get_accName(at.child, &name);
  at.acc->get_accDefaultAction(at.child, &action);
  VARIANT role, state;
  ::VariantInit(&role);
  ::VariantInit(&state);
  at.acc->get_accRole(at.child, &role);
  at.acc->get_accState(at.child, &state);
  long l = 0, t = 0, w = 0, h = 0;
  at.acc->accLocation(&l, &t, &w, &h, at.child);
  Out(std::wstring(name ? name : L"") + L"\t" + std::to_wstring(role.vt == VT_I4 ? role.lVal : -1) + L"\t" +
      std::to_wstring(l) + L" " + std::to_wstring(t) + L" " + std::to_wstring(w) + L" " + std::to_wstring(h) +
      L"\t" + std::to_wstring(state.vt == VT_I4 ? state.lVal : -1) + L"\t" + (action ? action : L""));
  ::SysFreeString(name);
  ::SysFreeString(action);
  ::VariantClear(&role);
  ::VariantClear(&state);
  return 0;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring cmd = argv[1];
  auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : L"0"; };

  if (cmd == L"find") {
    HWND h = WaitFor(static_cast<DWORD>(Number(arg(2))), &FindMenuForm);
    if (!h) return 1;
    Out(Decimal(reinterpret_cast<UINT_PTR>(h)));
    return 0;
  }
  if (cmd == L"main") {
    HWND h = FindMain(Handle(arg(2)));
    if (!h) return 1;
    Out(Decimal(reinterpret_cast<UINT_PTR>(h)));
    return 0;
  }
  if (cmd == L"shown") {
    struct Search {
      DWORD pid;
      std::vector<HWND> found;
    } s{0, {}};
    ::GetWindowThreadProcessId(Handle(arg(2)), &s.pid);
    if (!s.pid) return 1;
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          ::GetWindowThreadProcessId(h, &pid);
          if (pid == s->pid && ::IsWindowVisible(h)) s->found.push_back(h);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    for (HWND h : s.found) {
      wchar_t cls[64] = {};
      ::GetClassNameW(h, cls, 64);
      Out(Decimal(reinterpret_cast<UINT_PTR>(h)) + L" " + cls);
    }
    return 0;
  }
  if (cmd == L"children") {
    // The classes of the window's own child windows (not theirs).
    for (HWND c = ::GetWindow(Handle(arg(2)), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[64] = {};
      ::GetClassNameW(c, cls, 64);
      Out(cls);
    }
    return 0;
  }
  if (cmd == L"state") {
    HWND h = Handle(arg(2));
    const bool exists = ::IsWindow(h) != FALSE;
    Out(std::wstring(exists ? L"1" : L"0") + L" " + (exists && ::IsWindowVisible(h) ? L"1" : L"0") + L" " +
        (exists && ::IsIconic(h) ? L"1" : L"0") + L" " + (exists && ::IsZoomed(h) ? L"1" : L"0"));
    return 0;
  }
  if (cmd == L"send" || cmd == L"post") {
    HWND h = Handle(arg(2));
    const UINT msg = static_cast<UINT>(Number(arg(3)));
    const WPARAM wp = static_cast<WPARAM>(Number(arg(4)));
    const LPARAM lp = static_cast<LPARAM>(Number(arg(5)));
    if (cmd == L"post") return ::PostMessageW(h, msg, wp, lp) ? 0 : 1;
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(h, msg, wp, lp, SMTO_NORMAL, 10000, &result)) {
      Out(L"timeout");
      return 1;
    }
    Out(Decimal(result));
    return 0;
  }
  if (cmd == L"closeall") {
    DWORD pid = 0;
    if (!::GetWindowThreadProcessId(Handle(arg(2)), &pid)) return 1;
    auto close = [](HWND h, LPARAM p) -> BOOL {
      DWORD owner = 0;
      if (::GetWindowThreadProcessId(h, &owner) && owner == static_cast<DWORD>(p)) ::PostMessageW(h, WM_CLOSE, 0, 0);
      return TRUE;
    };
    ::EnumWindows(close, static_cast<LPARAM>(pid));
    return 0;
  }
  if (cmd == L"keys") {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(Handle(arg(2)), nullptr), &info) || !info.hwndFocus) return 1;
    for (int i = 3; i < argc; ++i) {
      const WPARAM vk = static_cast<WPARAM>(Number(argv[i]));
      const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC)) << 16;
      ::PostMessageW(info.hwndFocus, WM_KEYDOWN, vk, scan | 1);
      ::PostMessageW(info.hwndFocus, WM_KEYUP, vk, scan | 0xC0000001);
    }
    return 0;
  }
  if (cmd == L"icon" || cmd == L"drop") {
    NOTIFYICONDATAW d = IconOf(Handle(arg(2)), static_cast<UINT>(Number(arg(3))));
    const BOOL ok = ::Shell_NotifyIconW(cmd == L"icon" ? NIM_MODIFY : NIM_DELETE, &d);
    Out(ok ? L"1" : L"0");
    return 0;
  }
  if (cmd == L"menu") {
    HWND m = WaitFor(static_cast<DWORD>(Number(arg(2))), &FindShownPopupMenu);
    if (!m) return 1;
    Out(Decimal(reinterpret_cast<UINT_PTR>(m)));
    return 0;
  }
  if (cmd == L"key") {
    HWND m = FindShownPopupMenu();
    if (!m) return 1;
    for (int i = 2; i < argc; ++i) {
      const WPARAM vk = static_cast<WPARAM>(Number(argv[i]));
      ::PostMessageW(m, WM_KEYDOWN, vk, 1);
      ::PostMessageW(m, WM_KEYUP, vk, 0xC0000001);
      ::Sleep(100);
    }
    return 0;
  }
  if (cmd == L"foreground") {
    HWND h = ::GetForegroundWindow();
    if (!h) return 1;
    wchar_t cls[64] = {};
    ::GetClassNameW(h, cls, 64);
    Out(Decimal(reinterpret_cast<UINT_PTR>(h)) + L" " + cls);
    return 0;
  }
  if (cmd == L"end") {
    DWORD pid = 0;
    HWND menu = FindMenuFormOf(arg(2), pid);
    if (!menu) return 1;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(menu, 0x8101, 0, 0, SMTO_NORMAL, 10000, &result);
    if (!process) return 1;
    const DWORD waited = ::WaitForSingleObject(process, static_cast<DWORD>(Number(arg(3))));
    ::CloseHandle(process);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
  }
  if (cmd == L"parent") {
    DWORD pid = 0;
    if (!::GetWindowThreadProcessId(Handle(arg(2)), &pid)) return 1;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 1;
    DWORD parent = 0;
    std::wstring name;
    PROCESSENTRY32W e{};
    for (int pass = 0; pass < 2; ++pass) {
      e.dwSize = sizeof e;
      for (BOOL ok = ::Process32FirstW(snap, &e); ok; ok = ::Process32NextW(snap, &e)) {
        if (pass == 0 && e.th32ProcessID == pid) parent = e.th32ParentProcessID;
        if (pass == 1 && parent && e.th32ProcessID == parent) name = e.szExeFile;
      }
    }
    ::CloseHandle(snap);
    if (name.empty()) return 1;
    Out(name);
    return 0;
  }
  if (cmd == L"focus") {
    HWND main = Handle(arg(2));
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(main, nullptr), &info) || !info.hwndFocus) {
      Out(L"0 - 0");
      return 0;
    }
    HWND frame = ::FindWindowExW(main, nullptr, L"velFrame", nullptr);
    HWND browser = frame ? ::GetWindow(frame, GW_CHILD) : nullptr;
    const bool inside = browser && (info.hwndFocus == browser || ::IsChild(browser, info.hwndFocus));
    wchar_t cls[64] = {};
    ::GetClassNameW(info.hwndFocus, cls, 64);
    Out(Decimal(reinterpret_cast<UINT_PTR>(info.hwndFocus)) + L" " + cls + (inside ? L" 1" : L" 0"));
    return 0;
  }
  if (cmd == L"test") {
    HWND commands = ::FindWindowExW(HWND_MESSAGE, nullptr, L"velBoxTestCommands", nullptr);
    if (!commands) return 1;
    const std::wstring text = argc > 3 ? argv[3] : L"";
    COPYDATASTRUCT data{};
    data.dwData = static_cast<ULONG_PTR>(Number(arg(2)));
    data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.data());
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(commands, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 10000,
                               &result)) {
      Out(L"timeout");
      return 1;
    }
    Out(std::to_wstring(static_cast<long long>(static_cast<LRESULT>(result))));
    return 0;
  }
  if (cmd == L"rect" || cmd == L"work") {
    HWND h = Handle(arg(2));
    RECT r{};
    if (cmd == L"rect") {
      if (!::GetWindowRect(h, &r)) return 1;
    } else {
      MONITORINFO mi{};
      mi.cbSize = sizeof mi;
      if (!::GetMonitorInfoW(::MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST), &mi)) return 1;
      r = mi.rcWork;
    }
    Out(Rect(r));
    return 0;
  }
  if (cmd == L"acc") return DescribeAccessible(arg(2), arg(3));
  if (cmd == L"accdo") {
    AtPoint at;
    HRESULT hr = AccessibleAt(arg(2), arg(3), at);
    if (SUCCEEDED(hr) && at.acc) hr = at.acc->accDoDefaultAction(at.child);
    Out(Hex(hr));
    return SUCCEEDED(hr) ? 0 : 1;
  }
  if (cmd == L"balloon") {
    HWND b = WaitFor(static_cast<DWORD>(Number(arg(2))), &FindShownBalloon);
    if (!b) return 1;
    Out(Decimal(reinterpret_cast<UINT_PTR>(b)));
    return 0;
  }
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The accessibility calls reach the client through COM.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int rc = Run(argc, argv);
  if (SUCCEEDED(com)) ::CoUninitialize();
  return rc;
}
