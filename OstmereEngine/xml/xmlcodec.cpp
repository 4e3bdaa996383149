// The list codecs: sequences and maps of snapshots and patch records as XML list elements.
#include "core/tkerr.h"
#include "xml/xmldoc.h"

#include <climits>

namespace ostmere {
namespace {

// The list element is attached once its children are complete.
template <typename Fill>
XmlElement writeList(CXmlDocument& doc, const std::u16string& listName, Fill fill) {
    XmlElement list = doc.createElement(listName);
    fill(list);
    doc.appendChild(doc.topElement, list);
    return list;
}

XmlElement appendPathNode(CXmlDocument& doc, XmlElement list, const std::u16string& path) {
    XmlElement node = doc.createElement(u"fNode");
    setAttribute(node, "path", path);
    doc.appendChild(list, node);
    return node;
}

} // namespace

std::vector<std::u16string> splitPath(const std::u16string& path) {
    std::vector<std::u16string> components;
    std::u16string current;
    for (char16_t c : path) {
        if (c != u'\\') {
            current += c;
        } else if (!current.empty()) {
            components.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty())
        components.push_back(std::move(current));
    return components;
}

XmlElement findOrCreatePath(CXmlDocument& doc, XmlElement parent,
                            const std::vector<std::u16string>& components) {
    XmlElement current = parent;
    for (const std::u16string& component : components)
        current = doc.findOrCreateChild(current, component);
    return current;
}

namespace {

template <class Paths>
XmlElement writePaths(CXmlDocument& doc, const std::u16string& listName, const Paths& paths) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const std::u16string& path : paths)
            appendPathNode(doc, list, path);
    });
}

void appendAttributeNode(CXmlDocument& doc, XmlElement list, const std::u16string& path,
                         uint32_t word) {
    setAttribute(appendPathNode(doc, list, path), "attr", decimal(static_cast<int32_t>(word)));
}

void appendEntryNode(CXmlDocument& doc, XmlElement list, const std::u16string& itemName,
                     const char* keyAttr, const std::u16string& key, const char* valueAttr,
                     const std::u16string& value) {
    XmlElement item = doc.createElement(itemName);
    setAttribute(item, keyAttr, key);
    setAttribute(item, valueAttr, value);
    doc.appendChild(list, item);
}

} // namespace

XmlElement writePathList(CXmlDocument& doc, const std::u16string& listName, const PathList& paths) {
    return writePaths(doc, listName, paths);
}

XmlElement writePathList(CXmlDocument& doc, const std::u16string& listName,
                         const CPathRefs& paths) {
    return writePaths(doc, listName, paths);
}

XmlElement writePathTree(CXmlDocument& doc, const std::u16string& listName, const PathList& paths) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const std::u16string& path : paths)
            findOrCreatePath(doc, list, splitPath(path));
    });
}

XmlElement writeAttributeList(CXmlDocument& doc, const std::u16string& listName,
                              const AttributeMap& map) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const auto& [path, word] : map)
            appendAttributeNode(doc, list, path, word);
    });
}

XmlElement writeAttributeList(CXmlDocument& doc, const std::u16string& listName,
                              const EntryMap& entries) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const auto& [path, entry] : entries)
            if (entry.hasAttributes)
                appendAttributeNode(doc, list, path, entry.attributes);
    });
}

XmlElement writeAttributeTree(CXmlDocument& doc, const std::u16string& listName,
                              const AttributeMap& map) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const auto& [path, word] : map)
            setAttribute(findOrCreatePath(doc, list, splitPath(path)), "attr", hex(word));
    });
}

XmlElement writeEntryList(CXmlDocument& doc, const std::u16string& listName, const TextMap& map,
                          const char* keyAttr, const char* valueAttr,
                          const std::u16string& itemName) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const auto& [key, value] : map)
            appendEntryNode(doc, list, itemName, keyAttr, key, valueAttr, value);
    });
}

XmlElement writeIdList(CXmlDocument& doc, const std::u16string& listName, const EntryMap& entries) {
    return writeList(doc, listName, [&](XmlElement list) {
        for (const auto& [path, entry] : entries)
            if (entry.id.present())
                appendEntryNode(doc, list, u"idNode", "path", path, "id", entry.id.text());
    });
}

PathList readPathList(XmlElement element, const std::u16string& xpath) {
    PathList paths;
    for (XmlElement node : selectNodes(element, xpath))
        paths.push_back(attributeText(node, "path"));
    return paths;
}

AttributeMap readAttributeList(XmlElement element, const std::u16string& xpath) {
    AttributeMap::Items items;
    for (XmlElement node : selectNodes(element, xpath)) {
        std::u16string path = attributeText(node, "path");
        items.emplace_back(std::move(path),
                           static_cast<uint32_t>(parseDecimal(attributeText(node, "attr"))));
    }
    return AttributeMap::fromUnordered(std::move(items), true);
}

TextMap readEntryList(XmlElement element, const std::u16string& xpath, const char* keyAttr,
                      const char* valueAttr) {
    TextMap map;
    for (XmlElement node : selectNodes(element, xpath)) {
        std::u16string key = attributeText(node, keyAttr);
        map.insert_or_assign(map.end(), std::move(key), attributeText(node, valueAttr));
    }
    return map;
}

int32_t parseDecimal(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > int64_t(INT_MAX) + 1)
            value = int64_t(INT_MAX) + 1; // saturate, as the C library's conversion does
    }
    value = negative ? -value : value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int32_t>(value);
}

} // namespace ostmere
