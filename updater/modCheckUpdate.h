// The updater's module: version check against the update manifest, the
// download of the installer into "DownTmp" and its launch.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "updater/signedoffer.h"
#include "updater/updatelogic.h"

namespace modCheckUpdate {

// Module state, filled once per run.
extern std::wstring DownDir;  // the updater's folder followed by "\DownTmp\"
extern std::wstring DownUrl;
extern std::wstring ExeName;
extern std::int32_t FileSize;
extern std::int16_t OpenDownFile;
extern std::vector<std::wstring> LocalVer;
extern std::vector<std::wstring> ServerVer;

// The update signing key built into the program (P-256, X || Y). Empty: the
// manifest is taken unsigned, as it always was. Otherwise an offer counts
// only with a good signature, and only an installer of the signed hash is
// kept and started.
extern std::vector<std::uint8_t> PublicKey;
extern bool bOfferSigned;                     // ReadUpdateInfo found a good signature
extern signedoffer::Digest InstallerSha256;   // from the signed "<sha256>"

// The text at the address ("" on any failure). Each attempt appends "?" and
// the time of day; an attempt not answered within the wait is given up on
// and sent anew, three times at most. Window messages are handled while
// waiting. Every request it started has ended when it returns.
std::wstring GetHttpText(const std::wstring& address);

// Deletes the temporary files that earlier runs, killed on their way, left
// directly in DownDir (updatelogic::IsOwnTemporaryName: never an installer,
// never a file of another name), each checked and deleted through its own
// handle while DownDir is held (win::HeldFolder); a DownDir that is no real
// folder of its own, or an entry that is a link, is not touched. How many
// went.
int ClearLeftovers();

bool ReadLocalVersion();   // fills LocalVer from "cfg.xml" beside the updater
bool ReadServerVersion();  // fetches the manifest, fills ServerVer
bool CheckUpdate();        // true when the server offers a newer version
// Fetches the manifest again for the download fields; with a key, also
// checks the signature of the offer it read (bOfferSigned, InstallerSha256).
void ReadUpdateInfo();
// False when a key is built in and the offer's signature did not verify
// over a version newer than the installed one: nothing is to be fetched.
bool OfferAccepted();

// True when a usable installer is at DownDir + ExeName: a plain file name,
// a file that is not empty and, when FileSize is positive, of that size;
// with a key, an accepted offer and a file of the signed hash.
bool DownFileExists();

using DownloadResult = updatelogic::DownloadResult;
// Fetches the address into a temporary file in DownDir (a name of
// updatelogic::OwnTemporaryName, made and renamed through DownDir's handle,
// which is held throughout) and gives it the installer's name only when the
// download is complete (and, with a key, of the signed hash). A download that receives nothing for the stall limit,
// or takes longer than its size allows (updatelogic::DownloadDeadlineMs),
// is given up on; the reading runs on a worker thread so that a server
// that goes quiet or trickles cannot hold the updater. The transfer has
// ended when it returns, and nothing of it is left unless it is stored.
DownloadResult DownloadFile(const std::wstring& address);

// This updater's folder is the installation (win::IsTheInstallation) and
// its client is beside it. Only then is an installer downloaded or
// started: a copy of the installation or a portable run would move the
// installation to itself, and after an uninstall that ran while the
// updater was at work an installer would bring the product back.
bool ProductInstalled();

// Starts the installer through the shell when the product is installed
// here and the installer is usable (as DownFileExists() asks); true when
// the shell accepted it. DownDir and the file are held, the file against
// writes, from the check until it has been started.
bool LaunchDownFile(HWND owner);

// --- seams for the tests -------------------------------------------------
void ResetStateForTesting();
// The wait of one attempt in GetHttpText (5000 ms in the program).
void SetHttpWaitForTesting(DWORD ms);
// Called with the size of every chunk appended to the download.
void SetChunkObserverForTesting(std::function<void(std::size_t)> observer);
// How long a download may receive nothing before it is given up (60 s).
void SetStallLimitForTesting(DWORD ms);
// The base of a whole download's deadline (60 s, plus the size at 64 KiB/s).
void SetDeadlineBaseForTesting(DWORD ms);

}  // namespace modCheckUpdate
