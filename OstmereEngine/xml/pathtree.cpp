#include "xml/pathtree.h"

#include "core/tkerr.h"

#include "xml/xmltext.h"

#include <cstdio>
#include <functional>

TK_MODULE("xmlrep");

namespace ostmere {

CPathTree::CPathTree() : nodes_(1), index_(64, 0), parentOf_(1, 0) {}

uint32_t CPathTree::add(const std::u16string& path) {
    uint32_t node = kRoot;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        if (end > start)
            node = child(node, std::u16string_view(path).substr(start, end - start));
        start = end + 1;
    }
    return node;
}

void CPathTree::setAttr(uint32_t node, uint32_t word) {
    nodes_[node].attr = word;
    nodes_[node].hasAttr = true;
}

size_t CPathTree::slotOf(uint32_t parent, std::u16string_view name) const {
    const size_t mask = index_.size() - 1;
    size_t slot =
        (std::hash<std::u16string_view>{}(name) ^ (parent * 0x9E3779B97F4A7C15ull)) & mask;
    while (index_[slot] != 0 &&
           (parentOf_[index_[slot]] != parent || nodes_[index_[slot]].name != name))
        slot = (slot + 1) & mask;
    return slot;
}

uint32_t CPathTree::child(uint32_t parent, std::u16string_view name) {
    size_t slot = slotOf(parent, name);
    if (index_[slot] != 0)
        return index_[slot];
    const auto id = static_cast<uint32_t>(nodes_.size());
    nodes_.push_back(Node{name});
    parentOf_.push_back(parent);
    Node& up = nodes_[parent];
    if (up.lastChild)
        nodes_[up.lastChild].nextSibling = id;
    else
        up.firstChild = id;
    up.lastChild = id;
    index_[slot] = id;
    if (2 * nodes_.size() > index_.size())
        grow();
    return id;
}

void CPathTree::grow() {
    std::vector<uint32_t> old(2 * index_.size(), 0);
    old.swap(index_);
    for (uint32_t id : old)
        if (id != 0)
            index_[slotOf(parentOf_[id], nodes_[id].name)] = id;
}

XmlAttributes CPathTree::attributesOf(const Node& node, const char* nameAttribute) const {
    XmlAttributes attributes;
    if (nameAttribute)
        attributes.emplace_back(nameAttribute, toXmlText(std::u16string(node.name)));
    if (node.hasAttr) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", node.attr);
        attributes.emplace_back("attr", text);
    }
    return attributes;
}

void CPathTree::write(CXmlStreamWriter& out, std::string_view listName) const {
    const Node& root = nodes_[kRoot];
    if (!root.firstChild) {
        out.empty(listName, attributesOf(root, nullptr));
        return;
    }
    out.open(listName, attributesOf(root, nullptr));
    // Depth-first without recursion: a path may nest as deep as it has components.
    std::vector<uint32_t> opened;
    uint32_t next = root.firstChild;
    while (next || !opened.empty()) {
        if (!next) {
            out.close();
            next = nodes_[opened.back()].nextSibling;
            opened.pop_back();
            continue;
        }
        const Node& node = nodes_[next];
        if (node.firstChild) {
            out.open("fNode", attributesOf(node, "path"));
            opened.push_back(next);
            next = node.firstChild;
        } else {
            out.empty("fNode", attributesOf(node, "path"));
            next = node.nextSibling;
        }
    }
    out.close();
}

} // namespace ostmere
