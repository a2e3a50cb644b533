#include "updater/updatelogic.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace updatelogic;

namespace {

std::vector<std::u16string> V(std::u16string_view s) { return SplitVersion(s); }

}  // namespace

TEST(ReadField, CutsBetweenFirstOpeningAndFirstClosingTag) {
  EXPECT_EQ(ReadField(u"a<v>1.2</v>b<v>9</v>", u"<v>", u"</v>"), u"1.2");
  EXPECT_EQ(ReadField(u"<v> 1.2\r\n</v>", u"<v>", u"</v>"), u" 1.2\r\n");  // nothing trimmed
  EXPECT_EQ(ReadField(u"<v></v>", u"<v>", u"</v>"), u"");
  // The closing tag is searched from the start, not after the opening tag.
  EXPECT_EQ(ReadField(u"</v><v>1</v>", u"<v>", u"</v>"), std::nullopt);
  EXPECT_EQ(ReadField(u"<V>1</V>", u"<v>", u"</v>"), std::nullopt);  // case-sensitive
  EXPECT_EQ(ReadField(u"<v a=\"1\">1</v>", u"<v>", u"</v>"), std::nullopt);
  EXPECT_EQ(ReadField(u"<v>1", u"<v>", u"</v>"), std::nullopt);
  EXPECT_EQ(ReadField(u"1</v>", u"<v>", u"</v>"), std::nullopt);  // no opening tag: failed
}

TEST(ReadField, PositionsBeyond32767Fail) {
  const std::u16string open = u"<v>";
  // Value starting at exactly 32767: the last position that fits.
  std::u16string pad(32767 - 1 - open.size(), u'x');
  EXPECT_EQ(ReadField(pad + u"<v>7</v>", open, u"</v>"), std::nullopt);  // closing tag at 32768
  EXPECT_EQ(ReadField(pad + u"<v></v>", open, u"</v>"), u"");           // closing tag at 32767
  EXPECT_EQ(ReadField(pad + u"x<v></v>", open, u"</v>"), std::nullopt); // value starts at 32768
  // Beyond the limit even when the value is short and the tags near.
  std::u16string far(40000, u' ');
  EXPECT_EQ(ReadField(far + u"<v>1</v>", open, u"</v>"), std::nullopt);
  EXPECT_EQ(ReadField(u"<v>1</v>" + far, open, u"</v>"), u"1");
}

TEST(WholeNumbers, RoundHalfToEvenAndAcceptBlanks) {
  EXPECT_EQ(ToLong(u"123"), 123);
  EXPECT_EQ(ToLong(u"  -42 \t"), -42);
  EXPECT_EQ(ToLong(u"+7"), 7);
  EXPECT_EQ(ToLong(u"2.5"), 2);
  EXPECT_EQ(ToLong(u"3.5"), 4);
  EXPECT_EQ(ToLong(u"-2.5"), -2);
  EXPECT_EQ(ToLong(u"2.5000001"), 3);
  EXPECT_EQ(ToLong(u"0.49999"), 0);
  EXPECT_EQ(ToLong(u".5"), 0);
  EXPECT_EQ(ToLong(u"1.5e1"), 15);
  EXPECT_EQ(ToLong(u"25e-1"), 2);
  EXPECT_EQ(ToLong(u"0.0005e4"), 5);
  EXPECT_EQ(ToLong(u"2147483647"), 2147483647);
  EXPECT_EQ(ToLong(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ToLong(u"-2147483648.5"), -2147483647 - 1);  // rounds to even, inside
  EXPECT_EQ(ToLong(u"2147483647.5"), std::nullopt);     // rounds to 2^31
  EXPECT_EQ(ToLong(u"2147483648"), std::nullopt);
  EXPECT_EQ(ToLong(u"1e100"), std::nullopt);
  EXPECT_EQ(ToLong(u"1e-100"), 0);
  for (std::u16string_view bad : {u"", u"  ", u"abc", u"12ab", u"1 2", u"--1", u"1e", u".", u"0x10", u"１２"})
    EXPECT_EQ(ToLong(bad), std::nullopt) << std::string(bad.begin(), bad.end());
  EXPECT_EQ(ToInteger(u"32767"), 32767);
  EXPECT_EQ(ToInteger(u"32767.5"), std::nullopt);
  EXPECT_EQ(ToInteger(u"-32768"), -32768);
  EXPECT_EQ(ToInteger(u"32768"), std::nullopt);
  EXPECT_EQ(ToInteger(u" 5 "), 5);
}

TEST(Versions, SplitKeepsEmptyParts) {
  EXPECT_TRUE(V(u"").empty());
  EXPECT_EQ(V(u"1.2.3"), (std::vector<std::u16string>{u"1", u"2", u"3"}));
  EXPECT_EQ(V(u"1..2"), (std::vector<std::u16string>{u"1", u"", u"2"}));
  EXPECT_EQ(V(u"."), (std::vector<std::u16string>{u"", u""}));
  EXPECT_EQ(V(u" 1.2.4 "), (std::vector<std::u16string>{u" 1", u"2", u"4 "}));
}

TEST(Versions, PartValueReadsLikeVal) {
  EXPECT_EQ(PartValue(u"10"), 10);
  EXPECT_EQ(PartValue(u"07"), 7);
  EXPECT_EQ(PartValue(u"3a"), 3);
  EXPECT_EQ(PartValue(u" 1 2\t3\n"), 123);  // blanks, tabs, line feeds skipped anywhere
  EXPECT_EQ(PartValue(u"1\r2"), 1);         // a carriage return ends the number
  EXPECT_EQ(PartValue(u"-4"), -4);
  EXPECT_EQ(PartValue(u"2.5x"), 2.5);
  EXPECT_EQ(PartValue(u"1e3"), 1000);
  EXPECT_EQ(PartValue(u"1e"), 1);
  EXPECT_EQ(PartValue(u"1e+"), 1);
  EXPECT_EQ(PartValue(u"5-"), 5);
  EXPECT_EQ(PartValue(u"1.2.3"), 1.2);
  for (std::u16string_view zero : {u"", u"a1", u"v2", u"-", u".", u"e5", u"+-1"}) EXPECT_EQ(PartValue(zero), 0);
  EXPECT_TRUE(std::isinf(PartValue(u"1e999")));
}

TEST(Versions, ComparisonOfTheFirstThreeParts) {
  struct Case {
    std::u16string_view local, server;
    bool newer;
  } cases[] = {
      {u"1.9.9", u"1.10.0", true},   // numbers, not text
      {u"1.2.3", u"1.2.3", false},   // equal
      {u"2.0.1", u"1.9.9", false},   // older on the server
      {u"1.2.5", u"1.3", true},      // decided before the missing part
      {u"1.2.0", u"1.2", false},     // the third part is missing
      {u"1.2", u"1.2.1", false},     // missing locally too
      {u"1.2.3", u"1.2.3.1", false}, // a fourth part is ignored
      {u"1.2.3", u" 1.2.4 ", true},  // blanks inside the tags
      {u"1.2.3", u"1.2.04", true},
      {u"1.0.0", u"1..1", true},     // the empty part reads 0
      {u"1.0.1", u"1..1", false},
      {u"1.2.3", u"", false},
      {u"", u"9.9.9", false},
      {u"1.2.3", u"1.2.3a", false},  // 3a is 3
      {u"1.2.3", u"1.2.4beta", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsNewer(V(c.local), V(c.server)), c.newer)
        << std::string(c.local.begin(), c.local.end()) << " vs " << std::string(c.server.begin(), c.server.end());
}

TEST(UpdateFields, AnyOrderAmongOtherText) {
  const std::u16string m =
      u"<?xml version=\"1.0\"?>\r\n<update>\r\n  <opendownfile>5</opendownfile>\r\n  <filesize> 2500 </filesize>"
      u"<note>hi</note><exename>Setup.exe</exename><downurl>http://h/x/Setup.exe</downurl><version>1.2</version>"
      u"</update>";
  UpdateInfo info;
  EXPECT_EQ(ReadUpdateFields(m, info), 4);
  EXPECT_EQ(info.downUrl, u"http://h/x/Setup.exe");
  EXPECT_EQ(info.exeName, u"Setup.exe");
  EXPECT_EQ(info.fileSize, 2500);
  EXPECT_EQ(info.openDownFile, 5);
}

TEST(UpdateFields, FirstFailingFieldEndsTheReading) {
  UpdateInfo info;
  EXPECT_EQ(ReadUpdateFields(u"<downurl>u</downurl><exename>e</exename><filesize>12ab</filesize>"
                             u"<opendownfile>5</opendownfile>",
                             info),
            2);
  EXPECT_EQ(info.downUrl, u"u");
  EXPECT_EQ(info.exeName, u"e");
  EXPECT_EQ(info.fileSize, 0);
  EXPECT_EQ(info.openDownFile, 0);

  // A missing opening tag fails the field even though its closing tag is there.
  UpdateInfo kept{u"old", u"old.exe", 7, 3};
  EXPECT_EQ(ReadUpdateFields(u"<downurl>u</downurl>Setup.exe</exename><filesize>1</filesize>", kept), 1);
  EXPECT_EQ(kept.downUrl, u"u");
  EXPECT_EQ(kept.exeName, u"old.exe");
  EXPECT_EQ(kept.fileSize, 7);
  EXPECT_EQ(kept.openDownFile, 3);

  UpdateInfo big;
  EXPECT_EQ(ReadUpdateFields(u"<downurl>u</downurl><exename>e</exename><filesize>1</filesize>"
                             u"<opendownfile>40000</opendownfile>",
                             big),
            3);
  EXPECT_EQ(big.openDownFile, 0);
  EXPECT_EQ(ReadUpdateFields(u"", big), 0);
}

TEST(LaunchDelay, OneToThirtyTwoSeconds) {
  EXPECT_EQ(LaunchDelayMs(5), 5000u);
  EXPECT_EQ(LaunchDelayMs(1), 1000u);
  EXPECT_EQ(LaunchDelayMs(0), 1000u);
  EXPECT_EQ(LaunchDelayMs(-3), 1000u);
  EXPECT_EQ(LaunchDelayMs(32), 32000u);
  EXPECT_EQ(LaunchDelayMs(33), 32000u);  // too long for the old arithmetic: capped
  EXPECT_EQ(LaunchDelayMs(32767), 32000u);
}

TEST(InstallerName, OnlyPlainFileNames) {
  for (std::u16string_view ok : {u"VelmoraSetup.exe", u"setup", u"a b.exe", u" lead.exe", u"con1.exe", u"COM10.exe",
                                 u"nul_.exe", u"LPT.exe", u"安装.exe", u"x.tar.gz", u"CONSOLE.exe"})
    EXPECT_TRUE(IsPlainFileName(ok)) << std::string(ok.begin(), ok.end());
  for (std::u16string_view bad :
       {u"", u".", u"..", u"..\\x.exe", u"C:\\x.exe", u"a/b.exe", u"con:", u"NUL.exe", u"nul", u"CON", u"prn.txt",
        u"Aux.exe", u"com1", u"COM9.exe", u"lpt1.exe", u"LPT9", u"COM0", u"com\u00B9.exe", u"NUL .exe", u"nul.tar.gz",
        u"conin$", u"setup.exe.", u"setup.exe ", u"a:b.exe", u"x<y.exe", u"x>y", u"x\"y", u"x|y", u"x?.exe",
        u"*.exe", u"x\ty.exe", u"x\ny", u"\\\\server\\share\\x.exe", u"/etc/passwd"})
    EXPECT_FALSE(IsPlainFileName(bad)) << std::string(bad.begin(), bad.end());
  const char16_t nul[] = {u'a', 0, u'b'};
  EXPECT_FALSE(IsPlainFileName(std::u16string_view(nul, 3)));
}

TEST(Redirect, OnlyToWebAddresses) {
  for (std::u16string_view ok : {u"http://u.example/box/x.exe", u"HTTPS://mirror.example:8443/x", u"Http://h"})
    EXPECT_TRUE(IsWebAddress(ok)) << std::string(ok.begin(), ok.end());
  for (std::u16string_view bad : {u"", u"http://", u"https:///x", u"file:///C:/x.exe", u"ftp://h/x.exe", u"mk:@x",
                                  u"res://shell32.dll/x", u"/box/x.exe", u"x.exe", u"http:x", u"javascript:1",
                                  u" http://h/", u"\\\\server\\share\\x.exe", u"http:\\\\h\\x"})
    EXPECT_FALSE(IsWebAddress(bad)) << std::string(bad.begin(), bad.end());
  for (unsigned status : {301u, 302u, 303u, 307u, 308u}) EXPECT_TRUE(IsRedirectStatus(status));
  for (unsigned status : {200u, 300u, 304u, 305u, 306u, 404u}) EXPECT_FALSE(IsRedirectStatus(status));
}

TEST(Leftovers, OnlyTheUpdatersOwnTemporaryNames) {
  EXPECT_EQ(OwnTemporaryName(0x0123456789abcdefull), u"~velUpdate-0123456789abcdef.tmp");
  EXPECT_EQ(OwnTemporaryName(7), u"~velUpdate-0000000000000007.tmp");
  // Its own names, and exactly those earlier updaters gave.
  for (std::u16string_view ok : {u"~velUpdate-0123456789abcdef.tmp", u"VelmoraSetup-1.0.1.exe.4321-1.tmp",
                                 u"probe.88-12.tmp", u"安装.EXE.1-1.tmp"})
    EXPECT_TRUE(IsOwnTemporaryName(ok)) << std::string(ok.begin(), ok.end());
  for (std::u16string_view bad :
       {u"report.2023-01.tmp", u"report.2023-1.tmp", u"setup.exe.01-2.tmp", u"setup.exe.1-02.tmp",
        u"setup.exe.12345678901-1.tmp", u"~velUpdate-0123456789ABCDEF.tmp", u"~velUpdate-0123.tmp",
        u"~velUpdate-0123456789abcdef0.tmp", u"~velupdate-0123456789abcdef.tmp", u"VelmoraSetup-1.0.1.exe",
        u"x.tmp", u"setup.exe.12.tmp", u"setup.exe.-1.tmp", u"setup.exe.1-.tmp", u".exe.1-2.tmp",
        u"setup.exe.1-2.tmp.exe", u"setup.exe.1x-2.tmp", u"setup.exe.1-2.TMP2", u"nul.exe.1-2.tmp",
        u"a:b.exe.1-2.tmp", u"setup.exe.1-2", u"probe2.1-2.tmp"})
    EXPECT_FALSE(IsOwnTemporaryName(bad)) << std::string(bad.begin(), bad.end());
}

TEST(Download, CompleteOnlyAtTheEndOfDataWithTheAnnouncedLength) {
  // {ended at end, bytes, content length} x file size -> complete?
  EXPECT_TRUE(IsCompleteDownload({true, 2500, 2500}, 0));
  EXPECT_TRUE(IsCompleteDownload({true, 2500, std::nullopt}, 0));
  EXPECT_TRUE(IsCompleteDownload({true, 2500, 2500}, 2500));
  EXPECT_FALSE(IsCompleteDownload({true, 2500, 2500}, 2499));  // the manifest said otherwise
  EXPECT_FALSE(IsCompleteDownload({true, 1000, 2500}, 0));     // dropped part-way
  EXPECT_FALSE(IsCompleteDownload({false, 2500, 2500}, 0));    // a failed read
  EXPECT_FALSE(IsCompleteDownload({true, 0, 0}, 0));           // empty: not an installer
  EXPECT_FALSE(IsCompleteDownload({true, 0, std::nullopt}, 0));
  EXPECT_TRUE(IsCompleteDownload({true, 5, std::nullopt}, -1));

  EXPECT_FALSE(MoreThanAnnounced(2500, 2500, 2500));
  EXPECT_TRUE(MoreThanAnnounced(2501, 2500, 0));
  EXPECT_TRUE(MoreThanAnnounced(1026, std::nullopt, 1025));
  EXPECT_FALSE(MoreThanAnnounced(1u << 30, std::nullopt, 0));
  EXPECT_FALSE(MoreThanAnnounced(1u << 30, std::nullopt, -5));

  EXPECT_TRUE(IsUsableInstaller(10, 0));
  EXPECT_TRUE(IsUsableInstaller(10, 10));
  EXPECT_FALSE(IsUsableInstaller(9, 10));
  EXPECT_FALSE(IsUsableInstaller(0, 0));

  EXPECT_EQ(ParseContentLength(u"2500"), 2500u);
  EXPECT_EQ(ParseContentLength(u" 268435456 "), 268435456u);
  EXPECT_EQ(ParseContentLength(u"0"), 0u);
  for (std::u16string_view bad : {u"", u"-1", u"12a", u"1 2", u"99999999999999999999"})
    EXPECT_EQ(ParseContentLength(bad), std::nullopt);
}

TEST(Download, WhatIsKeptOfATransfer) {
  using R = DownloadResult;
  TransferFacts done;  // a whole 2500-byte answer written to its file
  done.headed = true;
  done.status = 200;
  done.fileMade = true;
  done.outcome = {true, 2500, 2500};
  EXPECT_EQ(DecideDownload(done, 2500), R::kStored);
  EXPECT_EQ(DecideDownload(done, 0), R::kStored);
  auto with = [&](auto change) {
    TransferFacts f = done;
    change(f);
    return DecideDownload(f, 2500);
  };
  EXPECT_EQ(with([](auto& f) { f.hashMatches = true; }), R::kStored);
  EXPECT_EQ(with([](auto& f) { f.hashMatches = false; }), R::kHashMismatch);
  EXPECT_EQ(with([](auto& f) { f.headed = false; }), R::kOpenFailed);
  EXPECT_EQ(with([](auto& f) { f.headed = false, f.stalled = true; }), R::kStalled);  // not even a head
  EXPECT_EQ(with([](auto& f) { f.headed = false, f.pastDeadline = true; }), R::kPastDeadline);
  EXPECT_EQ(with([](auto& f) { f.status = 404; }), R::kNotOk);
  EXPECT_EQ(with([](auto& f) { f.fileMade = false; }), R::kFileFailed);
  EXPECT_EQ(with([](auto& f) { f.written = false; }), R::kFileFailed);
  EXPECT_EQ(with([](auto& f) { f.outcome.endedAtEndOfData = false, f.stalled = true; }), R::kStalled);
  EXPECT_EQ(with([](auto& f) { f.outcome.endedAtEndOfData = false, f.pastDeadline = true; }), R::kPastDeadline);
  EXPECT_EQ(with([](auto& f) { f.quitting = true; }), R::kIncomplete);  // even when it had all of it
  EXPECT_EQ(with([](auto& f) { f.outcome.bytes = 1000; }), R::kIncomplete);
  // A hash is worth nothing for what is not whole.
  EXPECT_EQ(with([](auto& f) { f.outcome.bytes = 1000, f.hashMatches = true; }), R::kIncomplete);
}

TEST(Download, DeadlineFromTheSize) {
  // 60 s plus the size at 64 KiB/s.
  EXPECT_EQ(DownloadDeadlineMs(60000, 65536, std::nullopt), 61000u);
  EXPECT_EQ(DownloadDeadlineMs(60000, 1, std::nullopt), 60001u);
  EXPECT_EQ(DownloadDeadlineMs(60000, 2147483647, std::nullopt), 60000u + 32768000u);
  // The announced size counts, not the server's; without one, the server's
  // length up to the cap; without either, the cap (about 68 minutes).
  EXPECT_EQ(DownloadDeadlineMs(60000, 65536, 1u << 30), 61000u);
  EXPECT_EQ(DownloadDeadlineMs(60000, 0, 655360), 70000u);
  EXPECT_EQ(DownloadDeadlineMs(60000, -1, 1ull << 40), 60000u + 4096000u);
  EXPECT_EQ(DownloadDeadlineMs(60000, 0, std::nullopt), 60000u + 4096000u);
}

TEST(TimeSuffix, SinglePrecisionWithSevenDigits) {
  EXPECT_EQ(TimeSuffix(45296.125), u"45296.12");
  EXPECT_EQ(TimeSuffix(86399.99), u"86399.99");
  EXPECT_EQ(TimeSuffix(3600.0), u"3600");
  EXPECT_EQ(TimeSuffix(61.5), u"61.5");
  EXPECT_EQ(TimeSuffix(0.25), u"0.25");
  EXPECT_EQ(TimeSuffix(0.0), u"0");
  EXPECT_EQ(TimeSuffix(12.3456789), u"12.34568");
}

TEST(DecodeText, UnicodeFormsAndTheRest) {
  EXPECT_EQ(DecodeUnicodeText("<ver>1.0.0</ver>"), u"<ver>1.0.0</ver>");
  EXPECT_EQ(DecodeUnicodeText("\xEF\xBB\xBF<ver>1</ver>"), u"<ver>1</ver>");
  EXPECT_EQ(DecodeUnicodeText("\xE9\x9F\xB3"), u"音");
  EXPECT_EQ(DecodeUnicodeText(std::string("\xFF\xFE<\0v\0", 6)), u"<v");
  EXPECT_EQ(DecodeUnicodeText(std::string("\xFE\xFF\0<\0v", 6)), u"<v");
  EXPECT_EQ(DecodeUnicodeText(""), u"");
  // GBK bytes, an overlong form, a surrogate, a cut sequence: not UTF-8.
  for (std::string_view bad : {"\xD2\xF4", "\xC0\xAF", "\xED\xA0\x80", "abc\xE9\x9F", "\xF4\x90\x80\x80"})
    EXPECT_EQ(DecodeUnicodeText(bad), std::nullopt);
  EXPECT_TRUE(ReadField(*DecodeUnicodeText("\xEF\xBB\xBF<config><ver>1.0.0</ver></config>\r\n"), u"<ver>", u"</ver>"));
}
