#include "client/startup/modOpertXml.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/testsupport.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

const std::string kFresh =
    "<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1</closetotray><ver>1.0.0</ver></config>";

// A BOM and a final line break are allowed around the one-line document.
std::string Core(std::string s) {
  if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.erase(0, 3);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

class ConfigFile : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  testsupport::AppFolderScope scope{dir.path()};
  std::wstring path = dir / L"cfg.xml";
  void Put(const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(path, bytes)); }
};

TEST_F(ConfigFile, FirstCreationWritesTheDefaultsOnOneLine) {
  ASSERT_FALSE(modOpertXml::ConfigFileExists());
  EXPECT_TRUE(modOpertXml::EnsureConfigFile());
  EXPECT_EQ(Core(ReadFileBytes(path)), kFresh);
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"1.0.0");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"closetotray"), L"1");
}

TEST_F(ConfigFile, EnsureLeavesAnyExistingFileAlone) {
  for (const std::string& content : {std::string(), std::string("not xml <<"), std::string("<config/>")}) {
    Put(content);
    EXPECT_TRUE(modOpertXml::EnsureConfigFile());
    EXPECT_EQ(ReadFileBytes(path), content);
  }
}

bool AnyTemporaryFile(const testsupport::TempDir& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE find = ::FindFirstFileW((dir / L"*.tmp").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return true;
}

TEST_F(ConfigFile, HiddenFileOrFolderOfThatNameCountsAsAbsentAndIsNeverOverwritten) {
  const std::string mine = "<config><autorun>0</autorun><ver>0.9.0</ver></config>";
  for (DWORD attrs : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
    SCOPED_TRACE(attrs);
    Put(mine);
    ::SetFileAttributesW(path.c_str(), attrs);
    EXPECT_FALSE(modOpertXml::ConfigFileExists());
    EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"");
    EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"9.9.9"));
    // Absent for the reads, but still the user's file: not replaced by
    // the defaults.
    EXPECT_FALSE(modOpertXml::EnsureConfigFile());
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(path), mine);
    EXPECT_FALSE(AnyTemporaryFile(dir));
  }

  ::DeleteFileW(path.c_str());
  ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_FALSE(modOpertXml::ConfigFileExists());
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"");
  EXPECT_FALSE(modOpertXml::EnsureConfigFile());
  EXPECT_TRUE(testsupport::FileExists(path));
  EXPECT_FALSE(AnyTemporaryFile(dir));
  ::RemoveDirectoryW(path.c_str());
}

TEST_F(ConfigFile, KeysAreFoundAtAnyDepthFirstOccurrenceWinsAndCaseMatters) {
  Put("<config><group><autorun>0</autorun></group><ver>1.2.3</ver><ver>9.9.9</ver><Shortlnk>1</Shortlnk></config>");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"0");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"1.2.3");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"shortlnk"), L"");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"closetotray"), L"");

  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"ver", L"2.0.0"));
  EXPECT_EQ(Core(ReadFileBytes(path)),
            "<config><group><autorun>0</autorun></group><ver>2.0.0</ver><ver>9.9.9</ver><Shortlnk>1</Shortlnk></config>");
}

TEST_F(ConfigFile, EmptyOrUnparsableFileReadsEmptyAndIsNeverWritten) {
  for (const std::string& content : {std::string(), std::string("<config><ver>1.0.0</ver>"),
                                    std::string("\x01\x02\xff\xfe binary")}) {
    Put(content);
    EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"");
    EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"1.0.0"));
    EXPECT_EQ(ReadFileBytes(path), content);
  }
}

TEST_F(ConfigFile, WriteNeverCreatesTheFile) {
  EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"1.0.0"));
  EXPECT_FALSE(testsupport::FileExists(path));
}

TEST_F(ConfigFile, MissingKeyLeavesTheFileByteForByte) {
  const std::string indented = "<config>\r\n  <autorun>1</autorun>\r\n</config>\r\n";
  Put(indented);
  EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"1.0.0"));
  EXPECT_EQ(ReadFileBytes(path), indented);
}

TEST_F(ConfigFile, ValuesReadAsStoredWithTheirBlanks) {
  Put("<config>\n  <autorun> 1</autorun>\n  <shortlnk>0 </shortlnk>\n  <closetotray>\n1\n</closetotray>\n"
      "  <ver>1.0.0</ver>\n</config>");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L" 1");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"shortlnk"), L"0 ");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"closetotray"), L"\n1\n");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"1.0.0");
}

TEST_F(ConfigFile, HandIndentedFileIsRewrittenOnOneLineWithItsValues) {
  const std::string indented =
      "\xEF\xBB\xBF<config>\n\t<autorun>0</autorun>\n\t<shortlnk>1</shortlnk>\n\t<closetotray>0</closetotray>\n"
      "\t<ver>0.9.0</ver>\n</config>\n";
  Put(indented);
  // The text it holds already: nothing is written.
  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"ver", L"0.9.0"));
  EXPECT_EQ(ReadFileBytes(path), indented);
  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"shortlnk", L"0"));
  EXPECT_EQ(Core(ReadFileBytes(path)),
            "<config><autorun>0</autorun><shortlnk>0</shortlnk><closetotray>0</closetotray><ver>0.9.0</ver></config>");
}

TEST_F(ConfigFile, EmptyValueEmptiesTheElementAndTextIsReplacedWhole) {
  Put("<config><autorun>1<b>x</b>2</autorun><ver>1</ver></config>");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"1x2");
  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"autorun", L""));
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"");
  const std::string core = Core(ReadFileBytes(path));
  EXPECT_TRUE(core == "<config><autorun/><ver>1</ver></config>" ||
              core == "<config><autorun></autorun><ver>1</ver></config>")
      << core;
}

TEST_F(ConfigFile, FailedSaveLeavesTheOldFileAndNoLeftovers) {
  Put(kFresh);
  // Another process holds the file open without sharing: the replace fails.
  HANDLE lock = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"7.7.7"));
  ::CloseHandle(lock);
  EXPECT_EQ(Core(ReadFileBytes(path)), kFresh);
  EXPECT_FALSE(AnyTemporaryFile(dir)) << "temporary file left behind";
}

TEST_F(ConfigFile, ReadOnlyFileIsNotReplaced) {
  Put(kFresh);
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"7.7.7"));
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Core(ReadFileBytes(path)), kFresh);
}

}  // namespace

namespace {

class HostileConfig : public ConfigFile {};

TEST_F(HostileConfig, DocumentTypeDeclarationsAreRefusedSoEntitiesNeverExpand) {
  // An entity bomb, and an external entity naming another file.
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE config [<!ENTITY a \"aaaaaaaaaa\">";
  for (int i = 1; i < 12; ++i) {
    const std::string prev(1, static_cast<char>('a' + i - 1));
    bomb += "<!ENTITY " + std::string(1, static_cast<char>('a' + i)) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&" + prev + ";";
    bomb += "\">";
  }
  bomb += "]><config><autorun>&l;</autorun><ver>1.0.0</ver></config>";
  Put(bomb);
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"");
  EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"2.0.0"));
  EXPECT_EQ(ReadFileBytes(path), bomb);

  ASSERT_TRUE(WriteFileBytes(dir / L"secret.txt", "1"));
  // Smaller ones parse where the parser does not honour ProhibitDTD (Wine):
  // the file must still count as unparsable, never be read through its
  // entities nor written back with them.
  for (const std::string& typed :
       {std::string("<!DOCTYPE config [<!ENTITY s SYSTEM \"secret.txt\">]><config><autorun>&s;</autorun>"
                    "<ver>1.0.0</ver></config>"),
        std::string("<!DOCTYPE config [<!ENTITY x \"1\">]><config><autorun>&x;</autorun><ver>1.0.0</ver></config>"),
        std::string("<!DOCTYPE config><config><autorun>1</autorun><ver>1.0.0</ver></config>")}) {
    Put(typed);
    EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"") << typed;
    EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"") << typed;
    EXPECT_FALSE(modOpertXml::WriteConfigKey(L"ver", L"2.0.0")) << typed;
    EXPECT_EQ(ReadFileBytes(path), typed);
  }
}

TEST_F(HostileConfig, Utf16FileWithBomIsReadAndSavedBackReadable) {
  const std::u16string doc = u"\uFEFF<config><autorun>0</autorun><ver>0.9.0</ver></config>";
  Put(std::string(reinterpret_cast<const char*>(doc.data()), doc.size() * 2));
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"0");
  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"ver", L"1.0.0"));
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"1.0.0");
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"0");
}

TEST_F(HostileConfig, HugeFileIsHandledAndKeptWhole) {
  std::string huge = "<config><autorun>1</autorun><pad>";
  huge.append(8u << 20, 'x');
  huge += "</pad><ver>0.9.0</ver></config>";
  Put(huge);
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"ver"), L"0.9.0");
  EXPECT_TRUE(modOpertXml::WriteConfigKey(L"ver", L"1.0.0"));
  const std::string after = ReadFileBytes(path);
  EXPECT_GT(after.size(), 8u << 20);
  EXPECT_NE(after.find("<ver>1.0.0</ver>"), std::string::npos);
  EXPECT_NE(after.find("<autorun>1</autorun>"), std::string::npos);
}

}  // namespace
