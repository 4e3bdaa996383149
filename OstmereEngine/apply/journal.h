// The record an apply leaves in its staging area before it changes the target: which patch is
// being applied, so that an interrupted run can be finished by the same patch and only by it.
#pragma once

#include <cstdint>
#include <string>

namespace ostmere {

struct ApplyJournal {
    std::u16string olderTreeID, newerTreeID;
    uint64_t patchSize = 0, tablePosition = 0;

    bool operator==(const ApplyJournal&) const = default;
};

std::string journalText(const ApplyJournal& journal);
// False when the text is not a journal this version wrote.
bool parseJournal(const std::string& text, ApplyJournal& journal);

} // namespace ostmere
