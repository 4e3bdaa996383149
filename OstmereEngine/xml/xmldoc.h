// The XML document object and the list codecs that vaults and reports are made of.
#pragma once

#include "snapshot/dirscan.h"

#include <pugixml.hpp>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ostmere {

using XmlElement = pugi::xml_node; // an empty node stands for "none"

// One document, owned by one writer or reader on one thread.
class CXmlDocument {
  public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // A fresh document holding only <xml version="1.0"></xml>.
    void create();
    // Loads a file; a missing or ill-formed file leaves rootElement empty.
    void open(const std::u16string& path);
    void save(const std::u16string& path);
    // A new element, not attached until appendChild.
    XmlElement createElement(const std::u16string& name);
    void appendChild(XmlElement parent, XmlElement child);

    // The "fNode" child of parent whose "path" is name, created when there is none.
    // Children are indexed by name on first use, so building a tree is linear in its paths.
    XmlElement findOrCreateChild(XmlElement parent, const std::u16string& name);

    XmlElement topElement;
    std::unique_ptr<pugi::xml_document> document;
    XmlElement rootElement;

  private:
    using ChildIndex = std::unordered_map<std::string, pugi::xml_node_struct*>;
    ChildIndex& indexOf(XmlElement parent);
    XmlElement staging();

    std::unordered_map<pugi::xml_node_struct*, ChildIndex> childIndex_;
    XmlElement staging_;
};

// Failures of the XML library, carried as CXmlError.
[[noreturn]] void raiseXml(uint32_t code, const std::u16string& description = {});
constexpr uint32_t E_FAIL_CODE = 0x80004005u;

void setAttribute(XmlElement element, const char* name, const std::u16string& value);
// The same with a value already in the library's form (see toXmlText).
void setXmlAttribute(XmlElement element, const char* name, const std::string& xmlText);
// The attribute's text; an absent attribute is the null pointer failure.
std::u16string attributeText(XmlElement node, const char* name);
XmlElement selectSingleNode(XmlElement node, const std::u16string& xpath);
std::vector<XmlElement> selectNodes(XmlElement node, const std::u16string& xpath);
// selectSingleNode that raises the null pointer failure when nothing matches.
XmlElement requireSingleNode(XmlElement node, const std::u16string& xpath);

std::vector<std::u16string> splitPath(const std::u16string& path);
XmlElement findOrCreatePath(CXmlDocument& doc, XmlElement parent,
                            const std::vector<std::u16string>& components);
XmlElement writePathList(CXmlDocument& doc, const std::u16string& listName, const PathList& paths);
XmlElement writePathList(CXmlDocument& doc, const std::u16string& listName, const CPathRefs& paths);
XmlElement writePathTree(CXmlDocument& doc, const std::u16string& listName, const PathList& paths);
XmlElement writeAttributeList(CXmlDocument& doc, const std::u16string& listName,
                              const AttributeMap& map);
// A snapshot's attribute words ("fNode" with "attr"), for the entries that have one.
XmlElement writeAttributeList(CXmlDocument& doc, const std::u16string& listName,
                              const EntryMap& entries);
XmlElement writeAttributeTree(CXmlDocument& doc, const std::u16string& listName,
                              const AttributeMap& map);
XmlElement writeEntryList(CXmlDocument& doc, const std::u16string& listName, const TextMap& map,
                          const char* keyAttr, const char* valueAttr,
                          const std::u16string& itemName);
// A snapshot's file ids ("idNode" with "path" and "id"), for the entries that have one.
XmlElement writeIdList(CXmlDocument& doc, const std::u16string& listName, const EntryMap& entries);
PathList readPathList(XmlElement element, const std::u16string& xpath);
AttributeMap readAttributeList(XmlElement element, const std::u16string& xpath);
TextMap readEntryList(XmlElement element, const std::u16string& xpath, const char* keyAttr,
                      const char* valueAttr);

// Leading digits with an optional sign, as the C library's atoi reads them; no digits give 0.
int32_t parseDecimal(const std::u16string& text);

} // namespace ostmere
