// Decisions of the updater that need no platform: cutting fields out of the
// manifest and cfg.xml, number conversions, version comparison, the timer
// delay, the installer's name and the completeness of a download.
// No Windows header: built natively too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updatelogic {

// Positions in the text are 16-bit signed and 1-based, as the updater has
// always held them: a value or closing tag beyond this fails the field.
inline constexpr long kMaxPosition = 32767;

// Text between the first `open` and the first `close` of the whole text
// (both searched from the start, case-sensitively, nothing trimmed).
// Fails when either tag is missing, when the closing tag begins before the
// value starts, or when the value starts or the closing tag begins beyond
// kMaxPosition.
std::optional<std::u16string> ReadField(std::u16string_view text, std::u16string_view open,
                                        std::u16string_view close);

// Whole-number conversions as CLng / CInt make them: surrounding blanks
// accepted, decimal fraction and exponent accepted, rounded to the nearest
// whole number with halves to the even neighbour; anything else, and a
// result outside the target width, fails.
std::optional<std::int32_t> ToLong(std::u16string_view s);
std::optional<std::int16_t> ToInteger(std::u16string_view s);

// Split at every "."; empty parts are kept, the empty text gives no parts.
std::vector<std::u16string> SplitVersion(std::u16string_view s);

// The number a version part begins with, read as Val reads it: blanks, tabs
// and line feeds are skipped wherever they are; reading stops at the first
// character that cannot continue a decimal number; no number gives 0.
double PartValue(std::u16string_view part);

// True only when the server's version is greater, decided at the first of
// the first three parts that differ. A missing part needed for the decision
// means no update; parts after the third are never looked at.
bool IsNewer(const std::vector<std::u16string>& local, const std::vector<std::u16string>& server);

// The download fields of the manifest.
struct UpdateInfo {
  std::u16string downUrl;
  std::u16string exeName;
  std::int32_t fileSize = 0;
  std::int16_t openDownFile = 0;
};

// Reads downurl, exename, filesize and opendownfile in this order into
// `info`; the first field that fails (a missing opening tag included) ends
// the reading, and it and the fields after it keep what they held.
// Returns the number of fields stored.
int ReadUpdateFields(std::u16string_view manifest, UpdateInfo& info);

// Timer interval for the delay before the installer starts: 1 to 32 s.
unsigned LaunchDelayMs(std::int16_t openDownFile);

// True when the name can only mean a file directly inside the download
// folder: no separators, drive or stream colon, forbidden characters,
// control characters, device names, "." / "..", trailing dot or blank.
bool IsPlainFileName(std::u16string_view name);

// True for an address a request may be redirected to: http:// or https://
// (any case) followed by a host. Anything else (file:, ftp:, a scheme of an
// installed program) is not fetched.
bool IsWebAddress(std::u16string_view address);
// Whether a redirect's status is one that names a new address to fetch.
bool IsRedirectStatus(unsigned status);

// The name of a temporary file of the updater in the download folder (a
// download under way, a write probe): "~velUpdate-" and 16 hexadecimal
// digits of `random`, which no file of the user's has.
std::u16string OwnTemporaryName(std::uint64_t random);

// True for a temporary file of the updater's own making that a killed run
// left in the download folder: a name of OwnTemporaryName, or exactly one
// that earlier updaters gave ("<installer>.exe.<pid>-<n>.tmp",
// "probe.<pid>-<n>.tmp", numbers without a leading zero). A user's
// "report.2023-01.tmp" is none.
bool IsOwnTemporaryName(std::u16string_view name);

// What a download must satisfy to be kept as the installer.
struct DownloadOutcome {
  bool endedAtEndOfData = false;       // the last read returned 0 bytes, not a failure
  std::uint64_t bytes = 0;             // bytes received and written
  std::optional<std::uint64_t> contentLength;  // when the server sent one
};
// Reading must stop as soon as more bytes have arrived than announced.
bool MoreThanAnnounced(std::uint64_t bytes, const std::optional<std::uint64_t>& contentLength,
                       std::int32_t fileSize);
// An empty body is not an installer, whatever was announced.
bool IsCompleteDownload(const DownloadOutcome& d, std::int32_t fileSize);
// What became of a download. Only kStored leaves the installer under its
// name; every other result leaves nothing of the transfer behind.
enum class DownloadResult {
  kStored,          // complete (and of the signed hash): to be given the installer's name
  kBadName,         // the name is not a plain file name: nothing done
  kFolderUnusable,  // the download folder is not one that can be written, and cannot be made
  kOpenFailed,      // no connection, or the address could not be opened
  kNotOk,           // the server answered with a status other than 200
  kFileFailed,      // the temporary file could not be made or written
  kIncomplete,      // a failed read, a wrong length, an empty body, or the program ending
  kNotPlaced,       // complete, but the installer's name could not be taken
  kNotAccepted,     // a key is built in and the offer is not signed: nothing done
  kHashMismatch,    // complete, but not the signed installer
  kStalled,         // nothing came for the stall limit
  kPastDeadline,    // the whole transfer took longer than its size allows
};

// What the updater saw of one transfer.
struct TransferFacts {
  bool headed = false;     // the answer's head came
  std::uint32_t status = 0;
  bool fileMade = false;   // the temporary file was made
  bool written = true;     // every piece reached it
  bool stalled = false;
  bool pastDeadline = false;
  bool quitting = false;   // the program is ending
  DownloadOutcome outcome;
  // With a key: whether the file has the signed hash (asked only of a
  // complete download).
  std::optional<bool> hashMatches;
};
// Which result the facts make; the file is kept only for kStored.
DownloadResult DecideDownload(const TransferFacts& f, std::int32_t fileSize);

// How long a whole download may take: the base (as long as the limit on
// silence) plus its size at 64 KiB/s, so that a server that trickles a byte
// now and then cannot hold the updater for good. The size is the announced
// one (signed where the offer is), else the server's length, else a
// generous cap.
inline constexpr std::uint64_t kDeadlineBytesPerSecond = 64 * 1024;
inline constexpr std::uint64_t kDeadlineSizeCap = 256ull << 20;
std::uint64_t DownloadDeadlineMs(std::uint64_t baseMs, std::int32_t fileSize,
                                 const std::optional<std::uint64_t>& contentLength);

// An installer found in the download folder is used without a new download
// only when it is not empty and matches a positive announced size.
bool IsUsableInstaller(std::uint64_t size, std::int32_t fileSize);

// The value of a Content-Length header: digits only, surrounding blanks
// allowed; anything else counts as no length.
std::optional<std::uint64_t> ParseContentLength(std::u16string_view header);

// Seconds since midnight written as a single-precision number prints:
// at most seven significant digits, no trailing zeros ("45296.12").
std::u16string TimeSuffix(double secondsSinceMidnight);

// Decodes a response body or file: UTF-8 (with or without its byte-order
// mark) or UTF-16 with its mark. Returns nothing for bytes that are neither,
// which the caller reads in the ANSI code page.
std::optional<std::u16string> DecodeUnicodeText(std::string_view bytes);

}  // namespace updatelogic
