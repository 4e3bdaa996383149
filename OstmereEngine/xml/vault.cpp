// Recording a tree's state in a vault file.
#include "OstmereEngine.h"
#include "core/frame.h"
#include "core/outputpath.h"
#include "core/tkerr.h"
#include "snapshot/dirscan.h"
#include "xml/xmlrep.h"

TK_MODULE("vault");

using namespace ostmere;

void tkCreateVault(CProgressSink* sink, std::u16string directory, std::u16string filter,
                   std::u16string vaultFile) {
    directory = normalizePath(directory);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);
    if (vaultFile.empty())
        TK_RAISE(u"No vault file specified: ");
    requireSafeOutputs({{vaultFile}, {}, {directory}});
    CDirSnapshot snapshot = scanDirectory(sink, directory, filter);
    addCreationInfo(snapshot.infoEntries);
    writeVault(sink, vaultFile, snapshot);
}
