// The change lists of a diff report as trees of path components, built and written in time and
// space linear in the paths' text however deep they nest.
#pragma once

#include "xml/xmlstream.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostmere {

// Each component is one node below the node of its parent component; siblings keep the order in
// which they were first added. Nodes refer to the added texts, which must outlive the tree.
class CPathTree {
  public:
    CPathTree();
    // Adds the components of path (split at "\", empty components skipped); returns the node of
    // the last one, or the root for a path without components.
    uint32_t add(const std::u16string& path);
    // The attribute word that the node's element carries as "attr"; a later one replaces it.
    void setAttr(uint32_t node, uint32_t word);
    // The list element named listName holding one "fNode" per node, nested as the paths are;
    // the root's attribute word, if any, goes on the list element itself.
    void write(CXmlStreamWriter& out, std::string_view listName) const;

  private:
    static constexpr uint32_t kRoot = 0; // never a child, so 0 also means "none" below
    struct Node {
        std::u16string_view name;
        uint32_t firstChild = 0, lastChild = 0, nextSibling = 0;
        uint32_t attr = 0;
        bool hasAttr = false;
    };
    uint32_t child(uint32_t parent, std::u16string_view name);
    size_t slotOf(uint32_t parent, std::u16string_view name) const;
    void grow();
    XmlAttributes attributesOf(const Node& node, const char* nameAttribute) const;

    std::vector<Node> nodes_;
    std::vector<uint32_t> index_; // open addressing over (parent, name); 0 is an empty slot
    std::vector<uint32_t> parentOf_;
};

} // namespace ostmere
