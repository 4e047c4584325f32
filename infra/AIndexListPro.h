// AIndexListPro<K, V>: pairs of key and pointer kept sorted by key and found
// by binary search. A key can be present once: adding it again is refused,
// and when the list owns its values the refused value is deleted, so the
// caller may hand over a fresh object without checking first.
// Not locked: used on one thread.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

template <typename K, typename V>
class AIndexListPro {
public:
    explicit AIndexListPro(bool ownsValues) : m_OwnsValues(ownsValues) {}
    ~AIndexListPro() { Clear(); }
    AIndexListPro(const AIndexListPro&) = delete;
    AIndexListPro& operator=(const AIndexListPro&) = delete;

    // False (and the value deleted when owning) when the key is already present.
    bool Add(const K& key, V* value) {
        auto at = LowerBound(key);
        if (at != m_Pairs.end() && at->first == key) {
            if (m_OwnsValues) delete value;
            return false;
        }
        m_Pairs.insert(at, {key, value});
        return true;
    }

    V* Find(const K& key) const {
        auto at = std::lower_bound(m_Pairs.begin(), m_Pairs.end(), key,
                                   [](const Pair& pair, const K& k) { return pair.first < k; });
        return (at != m_Pairs.end() && at->first == key) ? at->second : nullptr;
    }

    // Removes the key's pair (deleting the value when owning); false when absent.
    bool Remove(const K& key) {
        auto at = LowerBound(key);
        if (at == m_Pairs.end() || at->first != key) return false;
        if (m_OwnsValues) delete at->second;
        m_Pairs.erase(at);
        return true;
    }

    int Count() const { return static_cast<int>(m_Pairs.size()); }
    const K& KeyAt(int index) const { return m_Pairs.at(index).first; }
    V* ValueAt(int index) const { return m_Pairs.at(index).second; }

    void Clear() {
        if (m_OwnsValues) {
            for (auto& pair : m_Pairs) delete pair.second;
        }
        m_Pairs.clear();
    }

private:
    using Pair = std::pair<K, V*>;

    typename std::vector<Pair>::iterator LowerBound(const K& key) {
        return std::lower_bound(m_Pairs.begin(), m_Pairs.end(), key,
                                [](const Pair& pair, const K& k) { return pair.first < k; });
    }

    const bool m_OwnsValues;
    std::vector<Pair> m_Pairs;
};
