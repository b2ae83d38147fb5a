// The DOM over libxml2.
#include "platform/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <memory>

#include "platform/Text.h"

namespace kd::platform {
namespace {

xmlNodePtr AsNode(void* node) noexcept {
    return static_cast<xmlNodePtr>(node);
}

const xmlChar* AsXml(const std::string& text) noexcept {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

std::u16string FromXml(const xmlChar* text) {
    return text == nullptr ? std::u16string() : Utf8ToUtf16(reinterpret_cast<const char*>(text));
}

struct XmlFree {
    void operator()(xmlChar* p) const noexcept { xmlFree(p); }
};
using XmlString = std::unique_ptr<xmlChar, XmlFree>;

void InitOnce() {
    static const bool done = [] {
        xmlInitParser();
        return true;
    }();
    (void)done;
}

// The first error of the parse running on this thread.
thread_local xmlError* t_firstError = nullptr;

// Keeps the first error the parser raises (warnings are passed over); libxml2 prints nothing
// while this is installed.
void KeepFirstError(void*, xmlErrorPtr error) {
    xmlError* first = t_firstError;
    if (first != nullptr && first->code == 0 && error != nullptr && error->level >= XML_ERR_ERROR) {
        first->code = error->code != 0 ? error->code : XML_ERR_INTERNAL_ERROR;
        first->line = error->line;
        first->int2 = error->int2;
        first->message = error->message != nullptr ? xmlMemStrdup(error->message) : nullptr;
    }
}

void IgnoreError(void*, xmlErrorPtr) {}

// `text` in UTF-8, in a buffer of the calling thread that the next call reuses: libxml2 copies
// what it is given, so building a document needs no allocation per text.
const std::string& Utf8Scratch(std::u16string_view text) {
    thread_local std::string scratch;
    scratch.clear();
    AppendUtf16AsUtf8(scratch, text);
    if (scratch.capacity() > (std::size_t{1} << 20) && scratch.size() < (std::size_t{1} << 16)) {
        std::string().swap(scratch);  // no large buffer kept for good
        AppendUtf16AsUtf8(scratch, text);
    }
    return scratch;
}

// The 0-based character position of `column` (1-based) on `line` (1-based) of `text`, and that
// line.
void Locate(std::u16string_view text, int32_t line, int32_t column, XmlParseError& error) {
    std::size_t start = 0;
    for (int32_t l = 1; l < line && start < text.size(); ++l) {
        const std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) {
            start = text.size();
            break;
        }
        start = end + 1;
    }
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    error.sourceLine.assign(text.substr(start, end - start));
    const std::size_t offset = column > 1 ? static_cast<std::size_t>(column - 1) : 0;
    error.position = static_cast<int32_t>(start + (offset < end - start ? offset : end - start));
}

}  // namespace

XmlNodeKind XmlNode::Kind() const noexcept {
    if (m_node == nullptr) return XmlNodeKind::None;
    switch (AsNode(m_node)->type) {
        case XML_ELEMENT_NODE:
            return XmlNodeKind::Element;
        case XML_TEXT_NODE:
            return XmlNodeKind::Text;
        case XML_CDATA_SECTION_NODE:
            return XmlNodeKind::CData;
        case XML_COMMENT_NODE:
            return XmlNodeKind::Comment;
        default:
            return XmlNodeKind::Other;
    }
}

std::u16string XmlNode::Name() const {
    return m_node == nullptr ? std::u16string() : FromXml(AsNode(m_node)->name);
}

XmlNode XmlNode::FirstChild() const noexcept {
    return XmlNode(m_node == nullptr ? nullptr : AsNode(m_node)->children);
}

XmlNode XmlNode::NextSibling() const noexcept {
    return XmlNode(m_node == nullptr ? nullptr : AsNode(m_node)->next);
}

std::u16string XmlNode::Value() const {
    if (m_node == nullptr) return {};
    const xmlNodePtr node = AsNode(m_node);
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE || node->type == XML_COMMENT_NODE)
        return FromXml(node->content);
    // An element holding one text node (the usual property element) is read in place.
    const xmlNodePtr only = node->type == XML_ELEMENT_NODE ? node->children : nullptr;
    if (only != nullptr && only->next == nullptr &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
        return FromXml(only->content);
    XmlString content(xmlNodeGetContent(node));
    return FromXml(content.get());
}

bool XmlNode::GetAttribute(std::u16string_view name, std::u16string& value) const {
    if (Kind() != XmlNodeKind::Element) return false;
    const std::string key = Utf16ToUtf8(name);
    const xmlAttrPtr attribute = xmlHasNsProp(AsNode(m_node), AsXml(key), nullptr);
    if (attribute == nullptr) return false;
    const xmlNodePtr only = attribute->children;
    if (only == nullptr) {
        value.clear();
    } else if (only->next == nullptr && only->type == XML_TEXT_NODE) {
        value = FromXml(only->content);  // the usual case, read in place
    } else {
        XmlString text(xmlNodeListGetString(AsNode(m_node)->doc, only, 1));
        value = FromXml(text.get());
    }
    return true;
}

bool XmlNode::SetAttribute(std::u16string_view name, std::u16string_view value) {
    if (Kind() != XmlNodeKind::Element) return false;
    const std::string key = Utf16ToUtf8(name);
    const std::string& text = Utf8Scratch(value);
    return xmlSetProp(AsNode(m_node), AsXml(key), AsXml(text)) != nullptr;
}

bool XmlNode::SetText(std::u16string_view text) {
    if (Kind() != XmlNodeKind::Element) return false;
    const std::string& utf8 = Utf8Scratch(text);
    if (utf8.empty()) return true;
    xmlNodePtr node = xmlNewDocTextLen(AsNode(m_node)->doc, AsXml(utf8), static_cast<int>(utf8.size()));
    if (node == nullptr) return false;
    if (xmlAddChild(AsNode(m_node), node) == nullptr) {
        xmlFreeNode(node);
        return false;
    }
    return true;
}

bool XmlNode::AppendChild(XmlNode child) {
    if (Kind() != XmlNodeKind::Element || !child) return false;
    return xmlAddChild(AsNode(m_node), AsNode(child.m_node)) != nullptr;
}

XmlNode XmlNode::SelectSingle(std::u16string_view query, bool& failed) const {
    failed = true;
    if (m_node == nullptr) return {};
    const xmlNodePtr node = AsNode(m_node);
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> context(xmlXPathNewContext(node->doc),
                                                                           xmlXPathFreeContext);
    if (context == nullptr) return {};
    context->node = node;
    context->error = IgnoreError;
    const std::string expression = Utf16ToUtf8(query);
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> result(
        xmlXPathEvalExpression(AsXml(expression), context.get()), xmlXPathFreeObject);
    if (result == nullptr) return {};
    failed = false;
    if (result->type != XPATH_NODESET || result->nodesetval == nullptr || result->nodesetval->nodeNr == 0) return {};
    return XmlNode(result->nodesetval->nodeTab[0]);
}

XmlDocument::XmlDocument() {
    InitOnce();
    m_doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
}

XmlDocument::~XmlDocument() {
    if (m_doc != nullptr) xmlFreeDoc(static_cast<xmlDocPtr>(m_doc));
}

bool XmlDocument::Parse(std::u16string_view text, XmlParseError& error) {
    if (m_doc != nullptr) xmlFreeDoc(static_cast<xmlDocPtr>(m_doc));
    m_doc = nullptr;
    error = XmlParseError{};
    const std::string utf8 = Utf16ToUtf8(text);
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(), xmlFreeParserCtxt);
    if (context == nullptr || utf8.size() > static_cast<std::size_t>(INT32_MAX)) {
        error.code = XML_ERR_NO_MEMORY;
        error.reason = u"Out of memory";
        return false;
    }
    xmlError first{};
    context->sax->serror = KeepFirstError;
    t_firstError = &first;
    // No network, no entity substitution, no DTD loading, no recovery; white space is kept;
    // nesting is limited to the parser's default depth (kMaxDepth).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc =
        xmlCtxtReadMemory(context.get(), utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", options);
    t_firstError = nullptr;
    if (doc != nullptr && context->wellFormed) {
        if (first.message != nullptr) xmlFree(first.message);  // a warning on the way
        m_doc = doc;
        return true;
    }
    if (doc != nullptr) xmlFreeDoc(doc);
    if (first.code == 0) {
        const xmlError* last = xmlCtxtGetLastError(context.get());
        if (last != nullptr && last->code != 0) {
            first.code = last->code;
            first.line = last->line;
            first.int2 = last->int2;
            first.message = last->message != nullptr ? xmlMemStrdup(last->message) : nullptr;
        } else {
            first.code = XML_ERR_DOCUMENT_EMPTY;
        }
    }
    error.code = first.code;
    error.reason = first.message != nullptr ? Utf8ToUtf16(first.message) : u"The document is not well formed";
    while (!error.reason.empty() && (error.reason.back() == u'\n' || error.reason.back() == u' '))
        error.reason.pop_back();
    if (first.message != nullptr) xmlFree(first.message);
    error.line = first.line;
    Locate(text, first.line, first.int2, error);
    m_doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    return false;
}

XmlNode XmlDocument::DocumentNode() const noexcept {
    return XmlNode(m_doc);
}

XmlNode XmlDocument::Root() const noexcept {
    return XmlNode(m_doc == nullptr ? nullptr : xmlDocGetRootElement(static_cast<xmlDocPtr>(m_doc)));
}

XmlNode XmlDocument::CreateElement(std::u16string_view name) {
    if (m_doc == nullptr) return {};
    const std::string utf8 = Utf16ToUtf8(name);
    return XmlNode(xmlNewDocNode(static_cast<xmlDocPtr>(m_doc), nullptr, AsXml(utf8), nullptr));
}

bool XmlDocument::SetRoot(XmlNode element) {
    if (m_doc == nullptr || element.Kind() != XmlNodeKind::Element) return false;
    xmlNodePtr old = xmlDocSetRootElement(static_cast<xmlDocPtr>(m_doc), AsNode(element.Raw()));
    if (old != nullptr) xmlFreeNode(old);
    return true;
}

// The document element as UTF-8 in `buffer`; false when there is none or dumping failed.
bool XmlDocument::Dump(void* buffer) const {
    const XmlNode root = Root();
    if (!root) return false;
    // Grown by doubling: the exact-size default makes large documents quadratic.
    xmlBufferSetAllocationScheme(static_cast<xmlBufferPtr>(buffer), XML_BUFFER_ALLOC_DOUBLEIT);
    return xmlNodeDump(static_cast<xmlBufferPtr>(buffer), static_cast<xmlDocPtr>(m_doc), AsNode(root.Raw()), 0, 0) >= 0;
}

std::string XmlDocument::SerializeUtf8() const {
    std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (buffer == nullptr || !Dump(buffer.get())) return {};
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<std::size_t>(xmlBufferLength(buffer.get())));
}

std::u16string XmlDocument::Serialize() const {
    std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (buffer == nullptr || !Dump(buffer.get())) return {};
    std::u16string text;
    AppendUtf8AsUtf16(text, std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                                             static_cast<std::size_t>(xmlBufferLength(buffer.get()))));
    return text;
}

bool IsXmlName(std::u16string_view name) {
    if (name.empty()) return false;
    for (const char16_t c : name)
        if (c == 0) return false;
    InitOnce();
    const std::string utf8 = Utf16ToUtf8(name);
    // An unpaired surrogate was narrowed to "?", which no name may hold.
    return xmlValidateName(AsXml(utf8), 0) == 0;
}

bool IsXmlChar(char32_t c) noexcept {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace kd::platform
