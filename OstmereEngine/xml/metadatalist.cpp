#include "xml/metadatalist.h"

#include "core/tkerr.h"

#include <string>

TK_MODULE("xmlrep");

namespace ostmere {

namespace {

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string timeText(const CItemMeta& meta) {
    std::string nanos = std::to_string(meta.mtimeNsec);
    return ascii(std::to_string(meta.mtimeSec) + "." + std::string(9 - nanos.size(), '0') + nanos);
}

// Digits only, at most maxDigits of them, in the given base.
bool parseDigits(const std::u16string& text, int base, size_t maxDigits, uint64_t& value) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c >= u'0' + base)
            return false;
        value = value * base + (c - u'0');
    }
    return true;
}

CItemMeta parseEntry(const std::u16string& path, const std::u16string& mode,
                     const std::u16string& mtime) {
    CItemMeta meta;
    uint64_t bits, seconds, nanos;
    const size_t dot = mtime.find(u'.');
    const bool negative = !mtime.empty() && mtime[0] == u'-';
    const size_t from = negative ? 1 : 0;
    if (!parseDigits(mode, 8, 5, bits) || bits > kModeBits || dot == std::u16string::npos ||
        !parseDigits(mtime.substr(from, dot - from), 10, 18, seconds) ||
        mtime.size() - dot - 1 != 9 || !parseDigits(mtime.substr(dot + 1), 10, 9, nanos))
        TK_RAISE(u"Unreadable metadata in the vault: " + path);
    meta.mode = static_cast<uint32_t>(bits);
    meta.mtimeSec = negative ? -static_cast<int64_t>(seconds) : static_cast<int64_t>(seconds);
    meta.mtimeNsec = static_cast<uint32_t>(nanos);
    return meta;
}

} // namespace

XmlElement writeMetadataList(CXmlDocument& doc, const EntryMap& entries) {
    XmlElement list = doc.createElement(u"Metadata");
    for (const auto& [path, entry] : entries) {
        if (!entry.hasMeta)
            continue;
        XmlElement node = doc.createElement(u"fNode");
        setAttribute(node, "path", path);
        std::string bits;
        for (uint32_t m = entry.meta.mode; bits.empty() || m; m >>= 3)
            bits.insert(bits.begin(), static_cast<char>('0' + (m & 7)));
        setAttribute(node, "mode", ascii(bits));
        setAttribute(node, "mtime", timeText(entry.meta));
        doc.appendChild(list, node);
    }
    doc.appendChild(doc.topElement, list);
    return list;
}

MetaMap readMetadataList(XmlElement vault) {
    MetaMap::Items items;
    XmlElement list = selectSingleNode(vault, u"Metadata");
    if (!list)
        return {};
    for (XmlElement node : selectNodes(list, u"fNode")) {
        std::u16string path = attributeText(node, "path");
        CItemMeta entry =
            parseEntry(path, attributeText(node, "mode"), attributeText(node, "mtime"));
        items.emplace_back(std::move(path), entry);
    }
    return MetaMap::fromUnordered(std::move(items), true);
}

} // namespace ostmere
