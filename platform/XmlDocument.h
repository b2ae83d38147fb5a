// A DOM document over libxml2: parse UTF-16 text, walk and build nodes, select with XPath,
// serialise back to UTF-16.
//
// Parsing never touches the network, never loads an external DTD and never recovers from an
// error. Element nesting deeper than kMaxDepth is refused, so a document that parses can be
// walked recursively without exhausting the stack. Text nodes and attribute values may be of any
// size. Text holding an unpaired surrogate is refused (it has no UTF-8 form).
//
// Entities a document declares are never expanded: a reference to one stays a node of its own
// (XmlNodeKind::EntityReference), Value leaves it out, and an attribute holding one is not read.
// The expansion the parser does to check such entities is bounded (nesting depth, and the amount
// against the size of the text), so a small text cannot make it do unbounded work.
#ifndef KD_PLATFORM_XMLDOCUMENT_H
#define KD_PLATFORM_XMLDOCUMENT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kd::platform {

// Why a parse failed: the parser's code and reason, the 1-based line, the 0-based character
// position in the text, and that line of the text.
struct XmlParseError {
    int32_t code = 0;
    std::u16string reason;
    int32_t line = 0;
    int32_t position = 0;
    std::u16string sourceLine;
};

enum class XmlNodeKind { None, Element, Text, CData, Comment, EntityReference, Other };

// A node of a document, valid while the document lives. A default node is "no node".
class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(void* node) noexcept : m_node(node) {}

    explicit operator bool() const noexcept { return m_node != nullptr; }
    XmlNodeKind Kind() const noexcept;
    std::u16string Name() const;
    XmlNode FirstChild() const noexcept;
    XmlNode NextSibling() const noexcept;
    // The text of a text or CDATA node; for an element, the text of all its descendants (entity
    // references left out).
    std::u16string Value() const;
    // False when the element has no attribute of that name, or its value holds an entity
    // reference.
    bool GetAttribute(std::u16string_view name, std::u16string& value) const;

    // Building. These fail (false) when memory is exhausted, the node is no element, or the text
    // holds an unpaired surrogate. Markup characters are escaped on output; characters XML
    // cannot hold (controls other than tab, line feed and carriage return; U+FFFE, U+FFFF) are
    // written as character references ("&#x1;"), which LoadDOMFromXMLBSTR's retry removes.
    bool SetAttribute(std::u16string_view name, std::u16string_view value);
    bool SetText(std::u16string_view text);
    bool AppendChild(XmlNode child);

    // The first node `query` (an XPath expression) selects relative to this one. `failed` is
    // set when the expression is malformed; no node and no failure when nothing matches.
    XmlNode SelectSingle(std::u16string_view query, bool& failed) const;

    void* Raw() const noexcept { return m_node; }

private:
    void* m_node = nullptr;
};

class XmlDocument {
public:
    static constexpr int kMaxDepth = 256;

    XmlDocument();  // an empty document
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    bool IsValid() const noexcept { return m_doc != nullptr; }

    // Replaces the document with the one in `text`; on failure the document is empty and
    // `error` says why.
    bool Parse(std::u16string_view text, XmlParseError& error);

    XmlNode DocumentNode() const noexcept;
    XmlNode Root() const noexcept;  // the document element, or none
    // A new element, not yet in the tree. The name must be valid (IsXmlName).
    XmlNode CreateElement(std::u16string_view name);
    bool SetRoot(XmlNode element);

    // The document element as text, without an XML declaration (the text is UTF-16, whatever a
    // declaration would say), without added white space.
    std::u16string Serialize() const;
    std::string SerializeUtf8() const;

private:
    bool Dump(void* buffer) const;

    void* m_doc = nullptr;
};

// Whether `name` is an XML name (what an element or attribute may be called).
bool IsXmlName(std::u16string_view name);

// Whether `c` may appear in an XML document.
bool IsXmlChar(char32_t c) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_XMLDOCUMENT_H
