// libxml2, loaded when a server's configuration is first parsed rather
// than linked: it and what it pulls in (ICU's data, lzma) cost every run
// about 4 ms before main, and only the commands that discover sites read
// XML. This file defines the libxml2 functions xml_document.cpp calls, and
// its xmlFree, each passing the call on to the library, which the first
// loads; the caller stays as if libxml2 were linked. A function
// added there must be added to the list: until it is, the command does not
// link.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <string>

#include "platform/automation/error_state.h"
#include "platform/dynlib/dynamic_library.h"

namespace velnor::siteconfig {
namespace {

constexpr char kLibrary[] = "libxml2.so.2";

// Each function named once: the loader looks it up by this name and keeps
// it in a member of the same name.
#define VELNOR_XML_FUNCTIONS(X) \
  X(xmlCreateMemoryParserCtxt)  \
  X(xmlCtxtUseOptions)          \
  X(xmlDocGetRootElement)       \
  X(xmlFreeDoc)                 \
  X(xmlFreeParserCtxt)          \
  X(xmlGetNoNsProp)             \
  X(xmlInitParser)              \
  X(xmlParseDocument)           \
  X(xmlStopParser)

struct XmlLibrary {
// The member's name is a declarator, which parentheses would not keep.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define VELNOR_XML_MEMBER(name) decltype(&::name) name;
  VELNOR_XML_FUNCTIONS(VELNOR_XML_MEMBER)
#undef VELNOR_XML_MEMBER
  xmlFreeFunc* free;  // libxml2's xmlFree, a variable
};

XmlLibrary LoadXml() {
  try {
    const dynlib::Library library(kLibrary);
    XmlLibrary xml{};
#define VELNOR_XML_LOAD(name) library.Find(#name, xml.name);
    VELNOR_XML_FUNCTIONS(VELNOR_XML_LOAD)
#undef VELNOR_XML_LOAD
    library.Find("xmlFree", xml.free);
    return xml;
  } catch (const dynlib::LoadError& error) {
    automation::Raise(75, std::string("Path/File access error: the XML library "
                                      "cannot be loaded to read the server's "
                                      "configuration: ") +
                              error.what() + "; install the package libxml2");
  }
}

#undef VELNOR_XML_FUNCTIONS

// Raises when the library cannot be loaded, and tries again at the next
// call.
const XmlLibrary& Xml() {
  static const XmlLibrary library = LoadXml();
  return library;
}

// Only ever called on memory the library handed out, so it is loaded.
void FreeXml(void* memory) { (*Xml().free)(memory); }

}  // namespace
}  // namespace velnor::siteconfig

using velnor::siteconfig::Xml;

// The definitions of libxml2's declarations, in the order of the list.
xmlParserCtxtPtr xmlCreateMemoryParserCtxt(const char* buffer, int size) {
  return Xml().xmlCreateMemoryParserCtxt(buffer, size);
}
int xmlCtxtUseOptions(xmlParserCtxtPtr ctxt, int options) {
  return Xml().xmlCtxtUseOptions(ctxt, options);
}
xmlNodePtr xmlDocGetRootElement(const xmlDoc* doc) {
  return Xml().xmlDocGetRootElement(doc);
}
void xmlFreeDoc(xmlDocPtr cur) { Xml().xmlFreeDoc(cur); }
void xmlFreeParserCtxt(xmlParserCtxtPtr ctxt) { Xml().xmlFreeParserCtxt(ctxt); }
xmlChar* xmlGetNoNsProp(const xmlNode* node, const xmlChar* name) {
  return Xml().xmlGetNoNsProp(node, name);
}
void xmlInitParser() { Xml().xmlInitParser(); }
int xmlParseDocument(xmlParserCtxtPtr ctxt) {
  return Xml().xmlParseDocument(ctxt);
}
void xmlStopParser(xmlParserCtxtPtr ctxt) { Xml().xmlStopParser(ctxt); }
xmlFreeFunc xmlFree = velnor::siteconfig::FreeXml;
