// SPDX-License-Identifier: MIT
#pragma once

// Stepping through a message's tag map, and appending to it, without a call
// into the C++ library per step.

#include <map>
#include <memory>
#include <new>

namespace ecrlink_detail {

/// One step in ascending (`Up`) or descending order. libstdc++ steps its map
/// iterators with an out-of-line call into the shared library; its node
/// links are public, so the same successor rule is done here inline, and
/// mirrored for the other direction.
template <bool Up, class Iterator>
inline Iterator stepEntry(Iterator it) {
#if defined(__GLIBCXX__)
    const auto ahead = [](auto node) { return Up ? node->_M_right : node->_M_left; };
    const auto behind = [](auto node) { return Up ? node->_M_left : node->_M_right; };
    auto x = it._M_node;
    if (ahead(x) != nullptr) {
        x = ahead(x);
        while (behind(x) != nullptr) x = behind(x);
    } else {
        auto y = x->_M_parent;
        while (x == ahead(y)) {
            x = y;
            y = y->_M_parent;
        }
        // Climbing up from the largest entry ends at the header (end()), whose
        // parent is the root: hence the extra check on that way only.
        if (!Up || x->_M_right != y) x = y;
    }
    return Iterator(x);
#else
    return Up ? ++it : --it;
#endif
}

/// The entry after `it`.
template <class Iterator>
inline Iterator nextEntry(Iterator it) {
    return stepEntry<true>(it);
}

/// The entry before `it`, which is neither begin() nor end().
template <class Iterator>
inline Iterator prevEntry(Iterator it) {
    return stepEntry<false>(it);
}

/// The largest entry of a map that is not empty.
template <class Map>
inline typename Map::const_iterator lastEntry(const Map& map) {
#if defined(__GLIBCXX__)
    return typename Map::const_iterator(map.cend()._M_node->_M_right); // the header's right link
#else
    return std::prev(map.cend());
#endif
}

/// Adds (`key`, `mapped`) to a map whose keys are all below `key`. A dump
/// lists its tags in ascending order, so each one goes to the right end;
/// emplace_hint would first check the hint in a call of its own. The node is
/// allocated by the map's allocator, as the map would, and linked in by the
/// same rebalancing routine; on a throw nothing is added.
template <class Key, class Mapped>
inline void appendEntry(std::map<Key, Mapped>& map, const Key& key, Mapped mapped) {
#if defined(__GLIBCXX__)
    using Value = typename std::map<Key, Mapped>::value_type;
    using Node = std::_Rb_tree_node<Value>;
    Node* node = std::allocator<Node>().allocate(1);
    ::new (node->_M_valptr()) Value(key, mapped);
    std::_Rb_tree_node_base* header = map.end()._M_node;
    std::_Rb_tree_node_base* last = header->_M_right; // the header itself while the map is empty
    std::_Rb_tree_insert_and_rebalance(last == header, node, last, *header);
    // The header node is the first member of the tree's header, which counts the nodes.
    ++reinterpret_cast<std::_Rb_tree_header*>(header)->_M_node_count;
#else
    map.emplace_hint(map.end(), key, mapped);
#endif
}

} // namespace ecrlink_detail
