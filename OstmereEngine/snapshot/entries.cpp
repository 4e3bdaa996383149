#include "snapshot/entries.h"

#include <algorithm>

namespace ostmere {

void CPathRefs::sort() {
    std::sort(refs_.begin(), refs_.end(),
              [](EntryRef a, EntryRef b) { return a->first < b->first; });
}

bool CPathRefs::operator==(const CPathRefs& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
}

const CEntry* CSortedLookup::operator()(const std::u16string& key) {
    if (next_ == map_.end() || next_->first != key)
        next_ = map_.lower_bound(key);
    if (next_ == map_.end() || next_->first != key)
        return nullptr;
    return &(next_++)->second;
}

} // namespace ostmere
