#include "client/startup/modOpertXml.h"

#include <windows.h>
#include <msxml2.h>

#include "common/product.h"
#include "common/win/files.h"
#include "common/win/installation.h"
#include "common/win/owners.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace modOpertXml {

namespace {

// Not in mingw's import libraries.
constexpr IID kIID_IXMLDOMDocument2 = {0x2933BF95, 0x7B36, 0x11d2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

using win::Bstr;
using win::ComPtr;

ComPtr<IXMLDOMDocument> NewDocument() {
  ComPtr<IXMLDOMDocument> doc;
  CLSID clsid;
  if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) return doc;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, doc.put_void()))) {
    doc.reset();
    return doc;
  }
  doc->put_async(VARIANT_FALSE);
  // The file is the user's to edit: no DTD (entity bombs), nothing fetched
  // from outside, no validation.
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  ComPtr<IXMLDOMDocument2> doc2;
  if (SUCCEEDED(doc.As(kIID_IXMLDOMDocument2, doc2))) {
    win::Variant on;
    on.get()->vt = VT_BOOL;
    on.get()->boolVal = VARIANT_TRUE;
    doc2->setProperty(Bstr(L"ProhibitDTD").get(), *on.get());
  }
  return doc;
}

// Loads the file; null when it has no root element (empty, not well-formed).
// Reads keep white space: the DOM's text would otherwise come trimmed, and
// " 1" must not read as "1". Writes drop it, so a hand-formatted file is
// saved on one line.
ComPtr<IXMLDOMDocument> LoadDocument(const std::wstring& path, bool keepWhiteSpace) {
  ComPtr<IXMLDOMDocument> doc = NewDocument();
  if (!doc) return doc;
  if (keepWhiteSpace) doc->put_preserveWhiteSpace(VARIANT_TRUE);
  win::Variant where(path);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  doc->load(*where.get(), &loaded);  // the root element decides, not this result
  ComPtr<IXMLDOMElement> root;
  if (doc->get_documentElement(root.put()) != S_OK || !root) {
    doc.reset();
    return doc;
  }
  // Not every parser honours ProhibitDTD (Wine's does not): a document
  // type that got through still makes the file unparsable, so its entities
  // are neither read nor written back.
  ComPtr<IXMLDOMDocumentType> type;
  if (doc->get_doctype(type.put()) == S_OK && type) doc.reset();
  return doc;
}

ComPtr<IXMLDOMNode> SelectKey(IXMLDOMDocument* doc, const std::wstring& key) {
  ComPtr<IXMLDOMNode> node;
  Bstr query(L".//" + key);
  if (doc->selectSingleNode(query.get(), node.put()) != S_OK) node.reset();
  return node;
}

// Saves beside the file and replaces it in one step, so an interrupted or
// failed save never leaves a damaged "cfg.xml". The new file is on the disk
// before it takes the name: the DOM's save leaves it to the system's cache.
bool SaveReplacing(IXMLDOMDocument* doc, const std::wstring& path) {
  const std::wstring temp = win::TempPathBeside(path);
  win::Variant where(temp);
  if (FAILED(doc->save(*where.get())) || !win::FlushToDisk(temp) || !win::ReplaceInOneStep(temp, path)) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

// Saves beside the path and moves the file into place only where nothing
// is: a hidden or system file of that name counts as absent, but it is still
// the user's and must not be overwritten.
bool SaveCreating(IXMLDOMDocument* doc, const std::wstring& path) {
  const std::wstring temp = win::TempPathBeside(path);
  win::Variant where(temp);
  if (FAILED(doc->save(*where.get())) || !win::FlushToDisk(temp) ||
      !::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

bool AppendElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* name, const std::wstring& value,
                   ComPtr<IXMLDOMElement>* created) {
  ComPtr<IXMLDOMElement> element;
  Bstr tag(name);
  if (FAILED(doc->createElement(tag.get(), element.put())) || !element) return false;
  ComPtr<IXMLDOMNode> added;
  if (FAILED(parent->appendChild(element.get(), added.put()))) return false;
  if (!value.empty()) {
    ComPtr<IXMLDOMText> textNode;
    Bstr data(value);
    if (FAILED(doc->createTextNode(data.get(), textNode.put())) || !textNode) return false;
    ComPtr<IXMLDOMNode> addedText;
    if (FAILED(element->appendChild(textNode.get(), addedText.put()))) return false;
  }
  if (created) *created = std::move(element);
  return true;
}

}  // namespace

std::wstring ConfigPath() { return win::AppFile(win::W(product::kConfigFile)); }

bool ConfigFileExists() { return win::IsNormalFile(ConfigPath()); }

bool EnsureConfigFile() {
  const std::wstring path = ConfigPath();
  if (win::IsNormalFile(path)) return true;
  if (win::RemovedUnder(win::AppFolder())) return false;
  win::ComScope com;
  ComPtr<IXMLDOMDocument> doc = NewDocument();
  if (!doc) return false;
  struct Row {
    const wchar_t* name;
    std::wstring value;
  };
  const Row rows[] = {
      {L"config", L""},
      {L"autorun", L"1"},
      {L"shortlnk", L"1"},
      {L"closetotray", L"1"},
      {L"ver", win::W(product::ClientVersionText())},
  };
  ComPtr<IXMLDOMElement> root;
  if (!AppendElement(doc.get(), doc.get(), rows[0].name, rows[0].value, &root)) return false;
  for (size_t i = 1; i < std::size(rows); ++i)
    if (!AppendElement(doc.get(), root.get(), rows[i].name, rows[i].value, nullptr)) return false;
  return SaveCreating(doc.get(), path);
}

std::wstring ReadConfigKey(const std::wstring& key) {
  const std::wstring path = ConfigPath();
  if (!win::IsNormalFile(path)) return std::wstring();
  win::ComScope com;
  ComPtr<IXMLDOMDocument> doc = LoadDocument(path, true);
  if (!doc) return std::wstring();
  ComPtr<IXMLDOMNode> node = SelectKey(doc.get(), key);
  if (!node) return std::wstring();
  Bstr value;
  if (FAILED(node->get_text(value.put()))) return std::wstring();
  return value.str();
}

bool WriteConfigKey(const std::wstring& key, const std::wstring& value) {
  const std::wstring path = ConfigPath();
  if (!win::IsNormalFile(path) || win::RemovedUnder(win::AppFolder())) return false;
  win::ComScope com;
  ComPtr<IXMLDOMDocument> doc = LoadDocument(path, false);
  if (!doc) return false;
  ComPtr<IXMLDOMNode> node = SelectKey(doc.get(), key);
  if (!node) return false;  // nothing to change: the file stays as it is
  Bstr now;
  if (SUCCEEDED(node->get_text(now.put())) && now.str() == value) return true;
  Bstr text(value);
  if (FAILED(node->put_text(text.get()))) return false;
  return SaveReplacing(doc.get(), path);
}

}  // namespace modOpertXml
