// The two XML file formats: the vault of a tree and the diff report of a patch.
#include "xml/xmlrep.h"

#include "core/tkerr.h"
#include "xml/metadatalist.h"
#include "xml/xmldoc.h"

TK_MODULE("xmlrep");

namespace ostmere {
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
    snapshot.filterText = attributeText(ignored, "filter");
    snapshot.files = readPathList(requireSingleNode(vault, u"Files"), u"fNode");
    snapshot.directories = readPathList(requireSingleNode(vault, u"Directories"), u"fNode");
    snapshot.attributes = readAttributeList(requireSingleNode(vault, u"FSAttributes"), u"fNode");
    snapshot.fileIds = readEntryList(requireSingleNode(vault, u"FileIDs"), u"idNode", "path", "id");
    snapshot.infoEntries =
        readEntryList(requireSingleNode(vault, u"VaultInfo"), u"infoEntry", "name", "value");
    snapshot.meta = readMetadataList(vault);
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
    writePathList(doc, u"Files", snapshot.files);
    writePathList(doc, u"Directories", snapshot.directories);
    writeAttributeList(doc, u"FSAttributes", snapshot.attributes);
    writeEntryList(doc, u"FileIDs", snapshot.fileIds, "path", "id", u"idNode");
    writeEntryList(doc, u"VaultInfo", snapshot.infoEntries, "name", "value", u"infoEntry");
    if (!snapshot.meta.empty())
        writeMetadataList(doc, snapshot.meta);
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

void writeDiffReport(CProgressSink* sink, const std::u16string& reportFile,
                     const CPatchInfo& info) {
    CXmlDocument doc;
    startDocument(doc, u"tkDiffPatchReport", u"1.0");
    sink->setStatus(u"Creating an XML report");
    sink->setProgressRange(10);
    writeEntryList(doc, u"PatchInfo", info.infoEntries, "name", "value", u"infoEntry");
    sink->stepProgress();
    setAttribute(writePathList(doc, u"newIgnoredItems", info.ignoredNew), "filter", info.filter);
    sink->stepProgress();
    setAttribute(writePathList(doc, u"oldIgnoredItems", info.ignoredOld), "filter", info.filter);
    sink->stepProgress();
    const std::pair<const char16_t*, const PathList*> trees[] = {
        {u"UnlinkedFiles", &info.UnlinkedFiles}, {u"UnlinkedDirs", &info.UnlinkedDirectories},
        {u"NewFiles", &info.NewFiles},           {u"NewDirs", &info.NewDirs},
        {u"ModifyedFiles", &info.ChangedFiles},
    };
    for (const auto& [name, paths] : trees) {
        writePathTree(doc, name, *paths);
        sink->stepProgress();
    }
    writeAttributeTree(doc, u"AttributeChanges", info.AttributeChanges);
    sink->stepProgress();
    doc.save(reportFile);
    sink->stepProgress();
    sink->setStatus(u"XML Report Created. ");
    sink->setDetail(reportFile);
}

} // namespace ostmere
