// The fingerprint and patch query operations.
#include "OstmereEngine.h"
#include "core/frame.h"
#include "core/outputpath.h"
#include "core/tkerr.h"
#include "patch/patchformat.h"
#include "snapshot/dirscan.h"
#include "snapshot/fingerprint.h"
#include "xml/xmlrep.h"

TK_MODULE("ostmereapi");

using namespace ostmere;

std::u16string tkFingerprint(CProgressSink* sink, std::u16string directory, std::u16string filter) {
    directory = normalizePath(directory);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for fingerprinting does  not exists: " + directory);
    CDirSnapshot snapshot = scanDirectory(sink, directory, filter);
    std::u16string fingerprint = calcFingerprint(snapshot, sink);
    sink->setStatus(u"Fingerprint calculated.");
    return fingerprint;
}

void tkQuerryPatch(CProgressSink* sink, std::u16string patchFile, std::u16string reportFile) {
    if (reportFile.empty())
        TK_RAISE(u"No XML report file specified: ");
    requireSafeOutputs({{reportFile}, {patchFile}, {}});
    CPatchInfo info = loadPatchInfo(sink, patchFile);
    writeDiffReport(sink, reportFile, info);
}
