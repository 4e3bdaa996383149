// Recording a tree's state in a vault file.
#include "OstmereEngine.h"
#include "dirscan.h"
#include "frame.h"
#include "tkerr.h"
#include "xmlrep.h"

using namespace ostmere;

void tkCreateVault(CProgressSink* sink, std::u16string directory, std::u16string filter,
                   std::u16string vaultFile) {
    directory = normalizePath(directory);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);
    if (vaultFile.empty())
        TK_RAISE(u"No vault file specified: ");
    CDirSnapshot snapshot = scanDirectory(sink, directory, filter);
    addCreationInfo(snapshot.infoEntries);
    writeVault(sink, vaultFile, snapshot);
}
