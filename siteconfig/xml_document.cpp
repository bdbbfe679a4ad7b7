// Parsing through libxml2 with hostile input in mind, and the element view.
#include "siteconfig/xml_document.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include "platform/automation/error_state.h"

namespace velnor::siteconfig {
namespace {

// What the parser's callbacks saw; reached through the context's private
// pointer, which libxml2 leaves to its user.
struct ParseState {
  bool doctype = false;
  std::string first_error;
};

ParseState& StateOf(void* context) {
  return *static_cast<ParseState*>(
      static_cast<xmlParserCtxtPtr>(context)->_private);
}

// Called once the name of a document type declaration is read, before its
// internal subset: stopping here means no entity is ever declared.
void RefuseDoctype(void* context, const xmlChar*, const xmlChar*,
                   const xmlChar*) {
  StateOf(context).doctype = true;
  xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

// Keeps the first error, which names the cause; later ones follow from it.
// Taking the errors here also keeps libxml2 from printing them.
void KeepFirstError(void* context, xmlErrorPtr error) {
  ParseState& state = StateOf(context);
  if (error->level < XML_ERR_ERROR || !state.first_error.empty()) return;
  std::string message = error->message == nullptr ? "" : error->message;
  for (char& c : message) c = c == '\n' ? ' ' : c;
  while (!message.empty() && message.back() == ' ') message.pop_back();
  state.first_error = "line " + std::to_string(error->line) + ": " + message;
}

[[noreturn]] void Refuse(const std::string& source, const std::string& reason) {
  automation::Raise(kErrInvalidFileFormat,
                    source + " cannot be read as XML: " + reason + ".");
}

struct FreeContext {
  void operator()(xmlParserCtxtPtr context) const {
    xmlFreeParserCtxt(context);
  }
};

void InitOnce() {
  static const bool initialised = [] {
    xmlInitParser();
    return true;
  }();
  (void)initialised;
}

}  // namespace

void XmlDocument::Free::operator()(_xmlDoc* doc) const { xmlFreeDoc(doc); }

XmlDocument XmlDocument::Parse(std::string_view bytes,
                               const std::string& source) {
  if (bytes.size() > kMaxXmlBytes) {
    Refuse(source, "it is larger than " + std::to_string(kMaxXmlBytes >> 20) +
                       " MB, far more than an IIS configuration file holds");
  }
  if (bytes.empty()) Refuse(source, "it is empty");
  InitOnce();
  std::unique_ptr<xmlParserCtxt, FreeContext> context(
      xmlCreateMemoryParserCtxt(bytes.data(), static_cast<int>(bytes.size())));
  if (context == nullptr) {
    automation::Raise(automation::kErrOutOfMemory,
                      "Out of memory: cannot start reading " + source + ".");
  }
  ParseState state;
  context->_private = &state;
  context->sax->internalSubset = RefuseDoctype;
  context->sax->serror = KeepFirstError;
  // Without XML_PARSE_NOENT entities stay unexpanded, without
  // XML_PARSE_DTDLOAD no external subset is read, and without
  // XML_PARSE_HUGE libxml2 keeps its depth and size limits.
  xmlCtxtUseOptions(context.get(),
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  xmlParseDocument(context.get());
  XmlDocument document(context->myDoc);
  context->myDoc = nullptr;
  if (state.doctype) {
    Refuse(source,
           "it holds a document type declaration (<!DOCTYPE>), which IIS "
           "never writes; it is refused since its entities could expand "
           "without bound or read other files");
  }
  if (!context->wellFormed || document.doc_ == nullptr) {
    Refuse(source, "it is not well-formed XML (" +
                       (state.first_error.empty() ? std::string("no details")
                                                  : state.first_error) +
                       "); IIS would refuse it as well");
  }
  return document;
}

XmlElement XmlDocument::Root() const {
  return XmlElement(xmlDocGetRootElement(doc_.get()));
}

std::string_view XmlElement::Name() const {
  return reinterpret_cast<const char*>(node_->name);
}

std::optional<std::string> XmlElement::Attribute(const char* name) const {
  xmlChar* value =
      xmlGetNoNsProp(node_, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

std::vector<XmlElement> XmlElement::Children() const {
  std::vector<XmlElement> children;
  for (const xmlNode* child = node_->children; child != nullptr;
       child = child->next) {
    if (child->type == XML_ELEMENT_NODE) children.emplace_back(child);
  }
  return children;
}

std::optional<XmlElement> XmlElement::Child(std::string_view name) const {
  for (const XmlElement& child : Children()) {
    if (child.Name() == name) return child;
  }
  return std::nullopt;
}

}  // namespace velnor::siteconfig
