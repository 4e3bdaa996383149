// What a snapshot knows of each item, held once per path.
#pragma once

#include "core/itemmeta.h"
#include "snapshot/fileid.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace ostmere {

struct CEntry {
    uint32_t attributes = 0; // 0 when none was read
    bool hasAttributes = false;
    // Permission bits and times, where they were read; a vault written without them has none.
    bool hasMeta = false;
    CItemMeta meta;
    CFileId id;

    void setAttributes(uint32_t word) { attributes = word, hasAttributes = true; }
    void setMeta(const CItemMeta& read) { meta = read, hasMeta = true; }
};

// std::u16string compares char16_t as unsigned code units: the ordinal order.
using EntryMap = std::map<std::u16string, CEntry>;
using EntryRef = EntryMap::value_type*;

// A list of a snapshot's items, read like a list of path strings. It holds the entries of the
// snapshot's map, whose nodes never move, so each path's text exists once and a list step
// reaches the entry without a search.
class CPathRefs {
  public:
    class const_iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::u16string;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::u16string*;
        using reference = const std::u16string&;

        const_iterator() = default;
        explicit const_iterator(std::vector<EntryRef>::const_iterator at) : at_(at) {}
        reference operator*() const { return (*at_)->first; }
        pointer operator->() const { return &(*at_)->first; }
        reference operator[](difference_type n) const { return at_[n]->first; }
        CEntry& entry() const { return (*at_)->second; }
        const_iterator& operator++() { return ++at_, *this; }
        const_iterator operator++(int) { return const_iterator(at_++); }
        const_iterator& operator--() { return --at_, *this; }
        const_iterator operator--(int) { return const_iterator(at_--); }
        const_iterator& operator+=(difference_type n) { return at_ += n, *this; }
        const_iterator& operator-=(difference_type n) { return at_ -= n, *this; }
        const_iterator operator+(difference_type n) const { return const_iterator(at_ + n); }
        const_iterator operator-(difference_type n) const { return const_iterator(at_ - n); }
        difference_type operator-(const const_iterator& other) const { return at_ - other.at_; }
        auto operator<=>(const const_iterator&) const = default;

      private:
        std::vector<EntryRef>::const_iterator at_;
    };

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    const std::u16string& operator[](size_t i) const { return refs_[i]->first; }
    CEntry& entryAt(size_t i) const { return refs_[i]->second; }
    const_iterator begin() const { return const_iterator(refs_.begin()); }
    const_iterator end() const { return const_iterator(refs_.end()); }
    void push_back(EntryRef entry) { refs_.push_back(entry); }
    void clear() { refs_.clear(); }
    void reserve(size_t n) { refs_.reserve(n); }
    // Ordinal order of the paths.
    void sort();
    bool operator==(const CPathRefs& other) const;

  private:
    std::vector<EntryRef> refs_;
};

// Lookups of keys taken in ascending order: each search first tries the entry after the
// previous one, so walking a sorted list over a map costs one comparison per key instead of a
// descent from the root. Nothing is inserted; a missing key gives null.
class CSortedLookup {
  public:
    explicit CSortedLookup(const EntryMap& map) : map_(map), next_(map.begin()) {}
    const CEntry* operator()(const std::u16string& key);

  private:
    const EntryMap& map_;
    EntryMap::const_iterator next_;
};

} // namespace ostmere
