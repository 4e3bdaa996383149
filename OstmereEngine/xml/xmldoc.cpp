// The document object over pugixml, and the XML primitives the codecs are built from.
#include "xml/xmldoc.h"

#include "core/outputpath.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "xml/xmlstream.h"
#include "xml/xmltext.h"

#include <new>

TK_MODULE("xmlrep");

// The document object belongs to the xmlrep module; its errors name that module.

namespace ostmere {
namespace {

constexpr const char* kInitialText = "<xml version=\"1.0\"></xml>";

std::string narrow(const std::u16string& text) {
    return utf16ToUtf8(text);
}

// Hands pugixml's output to the replacing file and remembers a short write.
class CFileWriter final : public pugi::xml_writer {
  public:
    explicit CFileWriter(COutputFile& file) : file_(file) {}
    void write(const void* data, size_t size) override {
        if (ok && size && file_.write(data, size) != size)
            ok = false;
    }
    bool ok = true;

  private:
    COutputFile& file_;
};

} // namespace

void raiseXml(uint32_t code, const std::u16string& description) {
    throw CXmlError(code, description);
}

CXmlDocument::CXmlDocument() = default;
CXmlDocument::~CXmlDocument() = default;

void CXmlDocument::create() {
    try {
        childIndex_.clear();
        staging_ = XmlElement();
        document = std::make_unique<pugi::xml_document>();
        document->load_string(kInitialText);
        rootElement = document->document_element();
        if (!rootElement)
            raiseXml(CXmlError::E_OUTOFMEMORY_CODE);
    } catch (const CXmlError& e) {
        TK_RAISE(u"Unable to make an XML object " + e.description());
    } catch (const std::bad_alloc&) {
        TK_RAISE(u"Unable to make an XML object ");
    }
}

void CXmlDocument::open(const std::u16string& path) {
    try {
        childIndex_.clear();
        staging_ = XmlElement();
        document = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result = document->load_file(nativePath(path).c_str());
        if (result.status == pugi::status_out_of_memory)
            TK_RAISE(u"XML object Err");
        // A partly parsed file is no document at all.
        if (!result)
            document->reset();
        rootElement = document->document_element();
    } catch (const std::bad_alloc&) {
        TK_RAISE(u"XML object Err");
    }
}

void CXmlDocument::save(const std::u16string& path) {
    if (!document)
        raiseXml(CXmlError::E_POINTER_CODE);
    if (staging_) {
        document->remove_child(staging_); // elements never attached are dropped, as in a DOM
        staging_ = XmlElement();
        childIndex_.clear();
    }
    // What the path names is checked first; a refusal is the engine's error, not the library's.
    requireRegularOutput(path);
    bool written = false;
    try {
        // Written beside the target and renamed over it, so a failed save leaves an earlier
        // file of that name intact.
        CReplacingFile out(path);
        CFileWriter writer(out.file());
        document->save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
        if (writer.ok) {
            out.commit();
            written = true;
        }
    } catch (const CTKErr&) {
    }
    if (!written)
        raiseXml(E_FAIL_CODE, u"Unable to write the XML file " + path);
}

XmlElement CXmlDocument::staging() {
    if (!staging_ && document)
        staging_ = document->append_child("staging");
    return staging_;
}

XmlElement CXmlDocument::createElement(const std::u16string& name) {
    XmlElement holder = staging();
    if (!holder)
        raiseXml(CXmlError::E_POINTER_CODE);
    XmlElement element = holder.append_child(narrow(name).c_str());
    if (!element)
        raiseXml(CXmlError::E_OUTOFMEMORY_CODE);
    return element;
}

void CXmlDocument::appendChild(XmlElement parent, XmlElement child) {
    if (!parent || !child)
        raiseXml(CXmlError::E_POINTER_CODE);
    if (!parent.append_move(child))
        raiseXml(E_FAIL_CODE, u"The element cannot be attached here.");
}

CXmlDocument::ChildIndex& CXmlDocument::indexOf(XmlElement parent) {
    auto [it, added] = childIndex_.try_emplace(parent.internal_object());
    if (added) {
        // The first "fNode" of a name wins, as a first-match query would find it.
        for (XmlElement child : parent.children("fNode"))
            if (pugi::xml_attribute path = child.attribute("path"))
                it->second.try_emplace(path.value(), child.internal_object());
    }
    return it->second;
}

XmlElement CXmlDocument::findOrCreateChild(XmlElement parent, const std::u16string& name) {
    if (!parent)
        raiseXml(CXmlError::E_POINTER_CODE);
    ChildIndex& index = indexOf(parent);
    std::string key = toXmlText(name);
    if (auto found = index.find(key); found != index.end())
        return XmlElement(found->second);
    // Made in place: moving a staged element under a deep parent would walk all its ancestors.
    XmlElement child = parent.append_child("fNode");
    if (!child)
        raiseXml(CXmlError::E_OUTOFMEMORY_CODE);
    setXmlAttribute(child, "path", key);
    index.emplace(std::move(key), child.internal_object());
    return child;
}

void setXmlAttribute(XmlElement element, const char* name, const std::string& xmlText) {
    if (!element)
        raiseXml(CXmlError::E_POINTER_CODE);
    pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute)
        attribute = element.append_attribute(name);
    if (!attribute || !attribute.set_value(xmlText.c_str()))
        raiseXml(CXmlError::E_OUTOFMEMORY_CODE);
}

void setAttribute(XmlElement element, const char* name, const std::u16string& value) {
    setXmlAttribute(element, name, toXmlText(value));
}

std::u16string attributeText(XmlElement node, const char* name) {
    if (!node)
        raiseXml(CXmlError::E_POINTER_CODE);
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute)
        raiseXml(CXmlError::E_POINTER_CODE);
    return fromXmlText(attribute.value());
}

XmlElement selectSingleNode(XmlElement node, const std::u16string& xpath) {
    if (!node)
        raiseXml(CXmlError::E_POINTER_CODE);
    try {
        return node.select_node(narrow(xpath).c_str()).node();
    } catch (const pugi::xpath_exception& e) {
        raiseXml(E_FAIL_CODE, utf8ToUtf16(e.what()));
    }
}

std::vector<XmlElement> selectNodes(XmlElement node, const std::u16string& xpath) {
    if (!node)
        raiseXml(CXmlError::E_POINTER_CODE);
    try {
        pugi::xpath_node_set found = node.select_nodes(narrow(xpath).c_str());
        std::vector<XmlElement> nodes;
        nodes.reserve(found.size());
        for (const pugi::xpath_node& item : found)
            nodes.push_back(item.node());
        return nodes;
    } catch (const pugi::xpath_exception& e) {
        raiseXml(E_FAIL_CODE, utf8ToUtf16(e.what()));
    }
}

XmlElement requireSingleNode(XmlElement node, const std::u16string& xpath) {
    XmlElement found = selectSingleNode(node, xpath);
    if (!found || found.type() != pugi::node_element)
        raiseXml(CXmlError::E_POINTER_CODE);
    return found;
}

} // namespace ostmere
