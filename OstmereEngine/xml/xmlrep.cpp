// The two XML file formats: the vault of a tree and the diff report of a patch.
#include "xml/xmlrep.h"

#include "core/outputpath.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "xml/metadatalist.h"
#include "xml/pathtree.h"
#include "xml/xmldoc.h"
#include "xml/xmlstream.h"
#include "xml/xmltext.h"

#include <optional>

TK_MODULE("xmlrep");

namespace ostmere {
namespace {

// An item the scan skipped for its kind carries the reason on its entry of the ignored list,
// an attribute that readers of the base format pass over.
void markSkipReasons(XmlElement ignored, const TextMap& reasons) {
    if (reasons.empty())
        return;
    for (XmlElement node : ignored.children("fNode"))
        if (auto it = reasons.find(attributeText(node, "path")); it != reasons.end())
            setAttribute(node, "Reason", it->second);
}

TextMap readSkipReasons(XmlElement ignored) {
    TextMap reasons;
    for (XmlElement node : ignored.children("fNode"))
        if (node.attribute("Reason"))
            reasons[attributeText(node, "path")] = attributeText(node, "Reason");
    return reasons;
}

} // namespace

namespace {

// Creates the content root below the document element and makes it the list parent.
void startDocument(CXmlDocument& doc, const std::u16string& rootName,
                   const std::u16string& version) {
    doc.create();
    doc.topElement = doc.createElement(rootName);
    setAttribute(doc.topElement, "Version", version);
    doc.appendChild(doc.rootElement, doc.topElement);
}

CDirSnapshot readVaultDocument(const std::u16string& vaultFile) {
    CXmlDocument doc;
    doc.open(vaultFile);
    if (!doc.rootElement)
        raiseXml(CXmlError::E_POINTER_CODE);
    XmlElement vault = selectSingleNode(doc.rootElement, u"tkVault");
    if (!vault || vault.type() != pugi::node_element)
        TK_RAISE(u"No vault element in the document.");
    if (attributeText(vault, "Version") != u"1.1")
        TK_RAISE(u"Unsupported vault version.");

    CDirSnapshot snapshot;
    snapshot.root = vaultFile;
    XmlElement ignored = requireSingleNode(vault, u"ignoredItems");
    snapshot.ignoredItems = readPathList(ignored, u"fNode");
    snapshot.skipReasons = readSkipReasons(ignored);
    snapshot.filterText = attributeText(ignored, "filter");
    for (const auto& path : readPathList(requireSingleNode(vault, u"Files"), u"fNode"))
        snapshot.addFile(path);
    for (const auto& path : readPathList(requireSingleNode(vault, u"Directories"), u"fNode"))
        snapshot.addDirectory(path);
    for (const auto& [path, word] :
         readAttributeList(requireSingleNode(vault, u"FSAttributes"), u"fNode"))
        snapshot.setAttributes(path, word);
    for (const auto& [path, id] :
         readEntryList(requireSingleNode(vault, u"FileIDs"), u"idNode", "path", "id"))
        snapshot.entry(path).id = CFileId::fromText(id);
    snapshot.infoEntries =
        readEntryList(requireSingleNode(vault, u"VaultInfo"), u"infoEntry", "name", "value");
    for (const auto& [path, meta] : readMetadataList(vault))
        snapshot.entry(path).setMeta(meta);
    return snapshot;
}

} // namespace

void writeVault(CProgressSink* sink, const std::u16string& vaultFile,
                const CDirSnapshot& snapshot) {
    CXmlDocument doc;
    startDocument(doc, u"tkVault", u"1.1");
    sink->setStatus(u"Creating vault file.");
    XmlElement ignored = writePathList(doc, u"ignoredItems", snapshot.ignoredItems);
    setAttribute(ignored, "filter", snapshot.filterText);
    markSkipReasons(ignored, snapshot.skipReasons);
    writePathList(doc, u"Files", snapshot.files);
    writePathList(doc, u"Directories", snapshot.directories);
    writeAttributeList(doc, u"FSAttributes", snapshot.entries);
    writeIdList(doc, u"FileIDs", snapshot.entries);
    writeEntryList(doc, u"VaultInfo", snapshot.infoEntries, "name", "value", u"infoEntry");
    if (snapshot.hasMetadata())
        writeMetadataList(doc, snapshot.entries);
    doc.save(vaultFile);
    sink->setStatus(u"tkVault file Created. ");
    sink->setDetail(vaultFile);
}

CDirSnapshot readVault(CProgressSink*, const std::u16string& vaultFile) {
    try {
        return readVaultDocument(vaultFile);
    } catch (const CXmlError& e) {
        TK_RAISE(u"Unable to make an XML object " + e.description());
    } catch (...) {
        TK_RAISE(u"Unable to read vault file:" + vaultFile);
    }
}

namespace {

XmlAttributes xmlAttributes(std::initializer_list<std::pair<const char*, std::u16string>> list) {
    XmlAttributes attributes;
    for (const auto& [name, value] : list)
        attributes.emplace_back(name, toXmlText(value));
    return attributes;
}

void writeFlatList(CXmlStreamWriter& out, const char* listName, const XmlAttributes& attributes,
                   const PathList& paths, const TextMap& reasons) {
    if (paths.empty())
        return out.empty(listName, attributes);
    out.open(listName, attributes);
    for (const std::u16string& path : paths) {
        auto reason = reasons.find(path);
        out.empty("fNode", reason == reasons.end()
                               ? xmlAttributes({{"path", path}})
                               : xmlAttributes({{"path", path}, {"Reason", reason->second}}));
    }
    out.close();
}

void writeInfoList(CXmlStreamWriter& out, const TextMap& entries) {
    if (entries.empty())
        return out.empty("PatchInfo");
    out.open("PatchInfo");
    for (const auto& [name, value] : entries)
        out.empty("infoEntry", xmlAttributes({{"name", name}, {"value", value}}));
    out.close();
}

} // namespace

namespace {

void writeReportBody(CProgressSink* sink, CXmlStreamWriter& out, const CPatchInfo& info) {
    writeInfoList(out, info.infoEntries);
    sink->stepProgress();
    const XmlAttributes filter = xmlAttributes({{"filter", info.filter}});
    writeFlatList(out, "newIgnoredItems", filter, info.ignoredNew, info.skipReasons);
    sink->stepProgress();
    writeFlatList(out, "oldIgnoredItems", filter, info.ignoredOld, info.skipReasons);
    sink->stepProgress();
    const std::pair<const char*, const PathList*> trees[] = {
        {"UnlinkedFiles", &info.UnlinkedFiles}, {"UnlinkedDirs", &info.UnlinkedDirectories},
        {"NewFiles", &info.NewFiles},           {"NewDirs", &info.NewDirs},
        {"ModifyedFiles", &info.ChangedFiles},
    };
    for (const auto& [name, paths] : trees) {
        CPathTree tree;
        for (const std::u16string& path : *paths)
            tree.add(path);
        tree.write(out, name);
        sink->stepProgress();
    }
    CPathTree attributes;
    for (const auto& [path, word] : info.AttributeChanges)
        attributes.setAttr(attributes.add(path), word);
    attributes.write(out, "AttributeChanges");
    sink->stepProgress();
}

} // namespace

// The report is streamed to its file list by list instead of being built as one document:
// memory stays a small multiple of the record, and a path of n components costs space and time
// linear in n. The bytes are those the document layer would save, and the file is replaced
// whole, as a saved document is.
void writeDiffReport(CProgressSink* sink, const std::u16string& reportFile,
                     const CPatchInfo& info) {
    // What the path names is checked first; a refusal is the engine's error, not the library's.
    requireRegularOutput(reportFile);
    // A file that cannot be made fails the report where saving a document would: at the end,
    // after every list was made. Until then the lines go nowhere.
    std::optional<CReplacingFile> file;
    COutputFile nowhere;
    try {
        file.emplace(reportFile);
    } catch (const CTKErr&) {
    }
    CXmlStreamWriter out(file ? file->file() : nowhere);
    out.declaration();
    out.open("xml", {{"version", "1.0"}});
    out.open("tkDiffPatchReport", {{"Version", "1.0"}});
    sink->setStatus(u"Creating an XML report");
    sink->setProgressRange(10);
    writeReportBody(sink, out, info);
    out.close();
    out.close();
    bool written = false;
    try {
        if (file && out.flush()) {
            file->commit();
            written = true;
        }
    } catch (const CTKErr&) {
    }
    if (!written)
        raiseXml(E_FAIL_CODE, u"Unable to write the XML file " + reportFile);
    sink->stepProgress();
    sink->setStatus(u"XML Report Created. ");
    sink->setDetail(reportFile);
}

} // namespace ostmere
