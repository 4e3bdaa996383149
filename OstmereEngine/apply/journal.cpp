#include "apply/journal.h"

#include "OstmereEngine.h"

#include <sstream>

namespace ostmere {

namespace {

constexpr const char* kJournalMagic = "ostmere-apply 1";

// One "key=value" line; a fingerprint text holds no line feed.
bool field(std::istream& in, const std::string& key, std::string& value) {
    std::string line;
    if (!std::getline(in, line) || line.compare(0, key.size() + 1, key + "=") != 0)
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

bool number(const std::string& text, uint64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 19)
        return false;
    value = std::stoull(text);
    return true;
}

} // namespace

std::string journalText(const ApplyJournal& journal) {
    std::ostringstream out;
    out << kJournalMagic << "\nolder=" << utf16ToUtf8(journal.olderTreeID)
        << "\nnewer=" << utf16ToUtf8(journal.newerTreeID) << "\nsize=" << journal.patchSize
        << "\ntable=" << journal.tablePosition << "\nend\n";
    return out.str();
}

bool parseJournal(const std::string& text, ApplyJournal& journal) {
    std::istringstream in(text);
    std::string magic, older, newer, size, table, end;
    if (!std::getline(in, magic) || magic != kJournalMagic)
        return false;
    if (!field(in, "older", older) || !field(in, "newer", newer) || !field(in, "size", size) ||
        !field(in, "table", table) || !std::getline(in, end) || end != "end")
        return false;
    if (!number(size, journal.patchSize) || !number(table, journal.tablePosition))
        return false;
    journal.olderTreeID = utf8ToUtf16(older);
    journal.newerTreeID = utf8ToUtf16(newer);
    return true;
}

} // namespace ostmere
