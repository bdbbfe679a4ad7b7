// A read-only XML document parsed from bytes that may be hostile: the IIS
// configuration files come from servers this machine does not control.
//
// Parsing is libxml2's, told to fetch nothing from the network, never to
// substitute entities and to keep its limits on depth and sizes. Beyond
// that, a document type declaration is refused outright: IIS writes none,
// and it is what entity definitions (exponential expansion, references to
// local or remote files) would need. Input larger than kMaxXmlBytes is
// refused before it is parsed.
#ifndef VELNOR_SITECONFIG_XML_DOCUMENT_H_
#define VELNOR_SITECONFIG_XML_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// libxml2's own names for its document and node.
struct _xmlDoc;   // NOLINT(bugprone-reserved-identifier)
struct _xmlNode;  // NOLINT(bugprone-reserved-identifier)

namespace velnor::siteconfig {

// "Invalid file format": the error number of every refused document.
inline constexpr int32_t kErrInvalidFileFormat = 321;

// The largest document parsed. applicationHost.config of a server with ten
// thousand sites stays well below it.
inline constexpr size_t kMaxXmlBytes = size_t{32} * 1024 * 1024;

// One element of a document; valid while the document lives.
class XmlElement {
 public:
  explicit XmlElement(const _xmlNode* node) : node_(node) {}

  // The local name, without any namespace prefix.
  std::string_view Name() const;
  // The value of the attribute `name` (without namespace), entity and
  // character references resolved; nothing when the element has none.
  std::optional<std::string> Attribute(const char* name) const;
  // The child elements, in document order.
  std::vector<XmlElement> Children() const;
  // The first child element named `name`, or nothing.
  std::optional<XmlElement> Child(std::string_view name) const;

 private:
  const _xmlNode* node_;
};

class XmlDocument {
 public:
  // Parses `bytes` (UTF-8, or another encoding the document declares or
  // its byte order mark shows). `source` names the document in errors.
  // Raises automation::AutomationError kErrInvalidFileFormat with one line
  // "<source> cannot be read as XML: <reason>", the reason giving the line
  // for a document that is not well-formed, for a document type
  // declaration, and for input larger than kMaxXmlBytes.
  static XmlDocument Parse(std::string_view bytes, const std::string& source);

  // The root element.
  XmlElement Root() const;

 private:
  struct Free {
    void operator()(_xmlDoc* doc) const;
  };
  explicit XmlDocument(_xmlDoc* doc) : doc_(doc) {}

  std::unique_ptr<_xmlDoc, Free> doc_;
};

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_XML_DOCUMENT_H_
