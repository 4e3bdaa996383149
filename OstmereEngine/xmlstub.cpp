// Temporary stand-ins until the XML layer lands.
#include "tkerr.h"
#include "xmlrep.h"
namespace ostmere {
void writeVault(CProgressSink*, const std::u16string&, const CDirSnapshot&) {
    TK_RAISE(u"Vault writing is not built yet.");
}
CDirSnapshot readVault(CProgressSink*, const std::u16string&) {
    TK_RAISE(u"Vault reading is not built yet.");
}
void writeDiffReport(CProgressSink*, const std::u16string&, const CPatchInfo&) {
    TK_RAISE(u"Diff reports are not built yet.");
}
} // namespace ostmere
