// The DOM over libxml2.
#include "platform/XmlDocument.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cstdio>
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

// Entity references resolved in one parse cost this much each, plus the length of the entity's
// text; a parse may spend kMinEntityBudget, or five times the size of its text when that is more.
// (Legitimate documents use entities sparingly; the "billion laughs" needs millions of lookups.)
constexpr std::size_t kEntityLookupCost = 20;
constexpr std::size_t kMinEntityBudget = 1000000;
constexpr std::size_t kEntityAmplification = 5;
// Entities nested deeper than this are refused (each level is a recursion in the parser).
constexpr int kMaxEntityDepth = 40;

// The parse running on this thread: its first error (warnings are passed over) and what is left
// of its entity budget.
struct ParseState {
    xmlError first{};
    std::size_t entityBudget = 0;
    bool stopped = false;
};
thread_local ParseState* t_parse = nullptr;

void KeepFirstError(void*, xmlErrorPtr error) {
    ParseState* state = t_parse;
    if (state != nullptr && state->first.code == 0 && error != nullptr && error->level >= XML_ERR_ERROR) {
        state->first.code = error->code != 0 ? error->code : XML_ERR_INTERNAL_ERROR;
        state->first.line = error->line;
        state->first.int2 = error->int2;
        state->first.message = error->message != nullptr ? xmlMemStrdup(error->message) : nullptr;
    }
}

// Ends the parse with `message` as its error (unless an error came first).
void Refuse(xmlParserCtxtPtr context, xmlParserErrors code, const char* message) {
    ParseState* state = t_parse;
    if (state == nullptr) return;
    if (state->first.code == 0) {
        state->first.code = code;
        state->first.line = context->input != nullptr ? context->input->line : 0;
        state->first.int2 = context->input != nullptr ? context->input->col : 0;
        state->first.message = xmlMemStrdup(message);
    }
    state->stopped = true;
    xmlStopParser(context);
}

// Starts an element unless that would nest elements more than kMaxDepth deep.
void StartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri, int namespaceCount,
                  const xmlChar** namespaces, int attributeCount, int defaultedCount, const xmlChar** attributes) {
    const auto context = static_cast<xmlParserCtxtPtr>(ctx);
    if (context->nameNr >= XmlDocument::kMaxDepth) {
        Refuse(context, XML_ERR_INTERNAL_ERROR, "Elements are nested too deeply");
        return;
    }
    xmlSAX2StartElementNs(ctx, localName, prefix, uri, namespaceCount, namespaces, attributeCount, defaultedCount,
                          attributes);
}

// Charges a resolved entity to the parse's budget; null (and the parse refused) when it is spent
// or entities nest too deeply.
xmlEntityPtr Charge(void* ctx, xmlEntityPtr entity) {
    ParseState* state = t_parse;
    if (entity == nullptr || state == nullptr) return entity;
    if (state->stopped) return nullptr;
    const auto context = static_cast<xmlParserCtxtPtr>(ctx);
    const std::size_t cost = kEntityLookupCost + static_cast<std::size_t>(entity->length > 0 ? entity->length : 0);
    if (context->depth > kMaxEntityDepth || cost > state->entityBudget) {
        Refuse(context, XML_ERR_ENTITY_LOOP, "Entities expand beyond the limit");
        return nullptr;
    }
    state->entityBudget -= cost;
    return entity;
}
xmlEntityPtr GetEntity(void* ctx, const xmlChar* name) {
    return Charge(ctx, xmlSAX2GetEntity(ctx, name));
}
xmlEntityPtr GetParameterEntity(void* ctx, const xmlChar* name) {
    return Charge(ctx, xmlSAX2GetParameterEntity(ctx, name));
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

// Whether a UTF-16 unit may stand in an XML document as it is (a surrogate counts when paired).
bool IsCarriable(char16_t c) noexcept {
    return c >= 0x20 ? c != 0xFFFE && c != 0xFFFF : c == 0x9 || c == 0xA || c == 0xD;
}

// Appends `text` to `parent` (an element or an attribute) as text, each character XML cannot hold
// written as a character reference.
bool AppendText(xmlNodePtr parent, std::u16string_view text) {
    const char16_t* const units = text.data();
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && IsCarriable(units[i])) continue;
        xmlNodePtr node = nullptr;
        if (i > from) {
            const std::string& utf8 = Utf8Scratch(text.substr(from, i - from));
            node = xmlNewDocTextLen(parent->doc, AsXml(utf8), static_cast<int>(utf8.size()));
            if (node == nullptr) return false;
            if (xmlAddChild(parent, node) == nullptr) {
                xmlFreeNode(node);
                return false;
            }
        }
        if (i < text.size()) {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(units[i]));
            node = xmlNewCharRef(parent->doc, reinterpret_cast<const xmlChar*>(reference));
            if (node == nullptr) return false;
            if (xmlAddChild(parent, node) == nullptr) {
                xmlFreeNode(node);
                return false;
            }
        }
        from = i + 1;
    }
    return true;
}

bool HoldsUncarriable(std::u16string_view text) noexcept {
    const char16_t* const end = text.data() + text.size();
    for (const char16_t* p = text.data(); p < end; ++p)
        if (!IsCarriable(*p)) return true;
    return false;
}

// The text and CDATA below `node`, in document order, in UTF-8; entity references are not
// followed.
void AppendDescendantText(xmlNodePtr node, std::string& out) {
    xmlNodePtr n = node->children;
    while (n != nullptr) {
        if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content != nullptr)
            out += reinterpret_cast<const char*>(n->content);
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            continue;
        }
        while (n != node && n->next == nullptr) n = n->parent;
        n = n == node ? nullptr : n->next;
    }
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
        case XML_ENTITY_REF_NODE:
            return XmlNodeKind::EntityReference;
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
    switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            return FromXml(node->content);
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
        case XML_DOCUMENT_NODE:
        case XML_DOCUMENT_FRAG_NODE: {
            // A node holding one text node (the usual property element) is read in place.
            const xmlNodePtr only = node->children;
            if (only != nullptr && only->next == nullptr &&
                (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
                return FromXml(only->content);
            std::string text;
            AppendDescendantText(node, text);
            return Utf8ToUtf16(text);
        }
        default:
            return {};  // entity references and declarations are never expanded
    }
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
        std::string text;
        for (xmlNodePtr n = only; n != nullptr; n = n->next) {
            if (n->type == XML_ENTITY_REF_NODE) return false;  // never expanded
            if (n->type == XML_TEXT_NODE && n->content != nullptr) text += reinterpret_cast<const char*>(n->content);
        }
        value = Utf8ToUtf16(text);
    }
    return true;
}

bool XmlNode::SetAttribute(std::u16string_view name, std::u16string_view value) {
    if (Kind() != XmlNodeKind::Element || FindUnpairedSurrogate(value) != std::u16string_view::npos) return false;
    const std::string key = Utf16ToUtf8(name);
    if (!HoldsUncarriable(value)) return xmlSetProp(AsNode(m_node), AsXml(key), AsXml(Utf8Scratch(value))) != nullptr;
    const xmlAttrPtr attribute = xmlSetProp(AsNode(m_node), AsXml(key), AsXml(std::string()));
    return attribute != nullptr && AppendText(reinterpret_cast<xmlNodePtr>(attribute), value);
}

bool XmlNode::SetText(std::u16string_view text) {
    if (Kind() != XmlNodeKind::Element || FindUnpairedSurrogate(text) != std::u16string_view::npos) return false;
    return AppendText(AsNode(m_node), text);
}

bool XmlNode::AppendChild(XmlNode child) {
    if (Kind() != XmlNodeKind::Element || !child) return false;
    return xmlAddChild(AsNode(m_node), AsNode(child.m_node)) != nullptr;
}

XmlNode XmlNode::SelectSingle(std::u16string_view query, bool& failed) const {
    failed = true;
    if (m_node == nullptr || FindUnpairedSurrogate(query) != std::u16string_view::npos) return {};
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
    const std::size_t unpaired = FindUnpairedSurrogate(text);
    if (unpaired != std::u16string_view::npos) {
        // Narrowed, it would become "?": refused rather than changed.
        error.code = XML_ERR_INVALID_CHAR;
        error.reason = u"The text holds an unpaired surrogate";
        const std::u16string_view before = text.substr(0, unpaired);
        int32_t line = 1;
        for (const char16_t c : before) line += c == u'\n' ? 1 : 0;
        const std::size_t lineStart = before.rfind(u'\n');
        const std::size_t column = unpaired - (lineStart == std::u16string_view::npos ? 0 : lineStart + 1) + 1;
        error.line = line;
        Locate(text, line, static_cast<int32_t>(column), error);
        m_doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        return false;
    }
    const std::string utf8 = Utf16ToUtf8(text);
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(), xmlFreeParserCtxt);
    if (context == nullptr || utf8.size() > static_cast<std::size_t>(INT32_MAX)) {
        error.code = XML_ERR_NO_MEMORY;
        error.reason = u"Out of memory";
        return false;
    }
    ParseState state;
    state.entityBudget = std::max(kMinEntityBudget, kEntityAmplification * utf8.size());
    context->sax->serror = KeepFirstError;
    context->sax->startElementNs = StartElement;
    context->sax->getEntity = GetEntity;
    context->sax->getParameterEntity = GetParameterEntity;
    t_parse = &state;
    // No network, no entity substitution, no DTD loading, no recovery; white space is kept.
    // XML_PARSE_HUGE lifts the parser's 10 MB limit on one text; the limits it lifts besides
    // (nesting, entity expansion) are kept by the handlers above.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE;
    xmlDocPtr doc =
        xmlCtxtReadMemory(context.get(), utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", options);
    t_parse = nullptr;
    xmlError& first = state.first;
    if (doc != nullptr && context->wellFormed && !state.stopped) {
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
