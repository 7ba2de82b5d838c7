#pragma once

// Stepping through a message's tag map without a call per step.

#include <map>

namespace ecrlink_detail {

/// The entry after `it` in ascending order. libstdc++ steps its map iterators
/// with an out-of-line call into the shared library; its node links are public,
/// so the same successor rule is done here inline.
template <class Iterator>
inline Iterator nextEntry(Iterator it) {
#if defined(__GLIBCXX__)
    auto x = it._M_node;
    if (x->_M_right != nullptr) {
        x = x->_M_right;
        while (x->_M_left != nullptr) x = x->_M_left;
    } else {
        auto y = x->_M_parent;
        while (x == y->_M_right) {
            x = y;
            y = y->_M_parent;
        }
        // The climb from the largest entry ends at the header (end()); the
        // root's parent is the header, hence the extra check.
        if (x->_M_right != y) x = y;
    }
    return Iterator(x);
#else
    return ++it;
#endif
}

/// The entry before `it`, which is neither begin() nor end().
template <class Iterator>
inline Iterator prevEntry(Iterator it) {
#if defined(__GLIBCXX__)
    auto x = it._M_node;
    if (x->_M_left != nullptr) {
        x = x->_M_left;
        while (x->_M_right != nullptr) x = x->_M_right;
    } else {
        auto y = x->_M_parent;
        while (x == y->_M_left) {
            x = y;
            y = y->_M_parent;
        }
        x = y;
    }
    return Iterator(x);
#else
    return --it;
#endif
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

} // namespace ecrlink_detail
