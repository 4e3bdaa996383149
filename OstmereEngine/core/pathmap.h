// A map from relative path to value, kept as one array in ordinal path order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ostmere {

// Patch information holds one entry per changed item, a million for a large tree. A tree node
// per entry costs more than the entry itself; an array of entries costs nothing beyond them.
// Entries arrive in path order from every producer (a comparison walking sorted lists, a patch
// written in order), so adding after the last one is the fast case; any other insertion is
// correct but moves the entries after it, and unordered input goes through fromUnordered.
// std::u16string compares char16_t as unsigned code units: the ordinal order.
template <class V> class CPathMap {
  public:
    using key_type = std::u16string;
    using mapped_type = V;
    using value_type = std::pair<std::u16string, V>;
    using Items = std::vector<value_type>;
    using iterator = typename Items::iterator;
    using const_iterator = typename Items::const_iterator;

    CPathMap() = default;
    // As std::map takes them: the first of equal keys stays.
    CPathMap(std::initializer_list<value_type> items) : CPathMap(items.begin(), items.end()) {}
    template <class It> CPathMap(It first, It last) {
        Items items(first, last);
        *this = fromUnordered(std::move(items), false);
    }
    // Entries in any order; of equal keys the last stays when keepLast, else the first.
    static CPathMap fromUnordered(Items items, bool keepLast) {
        // Positions sorted by key, then by position: equal keys stay in input order without
        // the temporary buffer of a stable sort.
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const int c = items[a].first.compare(items[b].first);
            return c < 0 || (c == 0 && a < b);
        });
        CPathMap map;
        map.items_.reserve(items.size());
        for (size_t i = 0; i < order.size();) {
            size_t end = i + 1;
            while (end < order.size() && items[order[end]].first == items[order[i]].first)
                ++end;
            map.items_.push_back(std::move(items[order[keepLast ? end - 1 : i]]));
            i = end;
        }
        map.items_.shrink_to_fit();
        return map;
    }

    iterator begin() { return items_.begin(); }
    iterator end() { return items_.end(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    auto rbegin() const { return items_.rbegin(); }
    auto rend() const { return items_.rend(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() { items_.clear(); }

    const_iterator find(const std::u16string& key) const { return findIn(items_, key); }
    iterator find(const std::u16string& key) { return findIn(items_, key); }
    size_t erase(const std::u16string& key) {
        auto it = find(key);
        if (it == end())
            return 0;
        items_.erase(it);
        return 1;
    }
    size_t count(const std::u16string& key) const { return find(key) != end() ? 1 : 0; }
    const V& at(const std::u16string& key) const {
        auto it = find(key);
        if (it == end())
            throw std::out_of_range("CPathMap::at");
        return it->second;
    }
    V& operator[](const std::u16string& key) { return placeFor(key)->second; }
    // The hint of the std::map forms is not needed: the end is tried first anyway.
    iterator insert_or_assign(const_iterator, const std::u16string& key, V value) {
        auto it = placeFor(key);
        it->second = std::move(value);
        return it;
    }
    iterator emplace_hint(const_iterator, const std::u16string& key, V value) {
        return emplace(key, std::move(value)).first;
    }
    std::pair<iterator, bool> emplace(const std::u16string& key, V value) {
        const size_t before = items_.size();
        auto it = placeFor(key);
        if (items_.size() == before)
            return {it, false};
        it->second = std::move(value);
        return {it, true};
    }
    // Every entry of later, replacing those of equal keys: one merge of two sorted arrays.
    void assignAll(const CPathMap& later) {
        Items merged;
        merged.reserve(items_.size() + later.items_.size());
        auto a = items_.begin();
        for (const value_type& b : later.items_) {
            while (a != items_.end() && a->first < b.first)
                merged.push_back(std::move(*a++));
            if (a != items_.end() && a->first == b.first)
                ++a;
            merged.push_back(b);
        }
        std::move(a, items_.end(), std::back_inserter(merged));
        items_ = std::move(merged);
    }
    bool operator==(const CPathMap& other) const { return items_ == other.items_; }

  private:
    // For the const and the mutable array alike.
    template <class Array> static auto lowerBoundIn(Array& items, const std::u16string& key) {
        return std::lower_bound(
            items.begin(), items.end(), key,
            [](const value_type& a, const std::u16string& k) { return a.first < k; });
    }
    template <class Array> static auto findIn(Array& items, const std::u16string& key) {
        auto it = lowerBoundIn(items, key);
        return it != items.end() && it->first == key ? it : items.end();
    }
    // The entry of key, made (with a value-initialised V) when missing.
    iterator placeFor(const std::u16string& key) {
        if (items_.empty() || items_.back().first < key) {
            items_.emplace_back(key, V{});
            return items_.end() - 1;
        }
        auto it = lowerBoundIn(items_, key);
        if (it != end() && it->first == key)
            return it;
        return items_.insert(it, value_type(key, V{}));
    }

    Items items_;
};

using AttributeMap = CPathMap<uint32_t>;

} // namespace ostmere
