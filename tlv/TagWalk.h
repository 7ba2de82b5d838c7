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

/// The entry before `it`, which is not begin(); end() steps to the last entry.
template <class Iterator>
inline Iterator prevEntry(Iterator it) {
#if defined(__GLIBCXX__)
    auto x = it._M_node;
    if (x->_M_color == std::_S_red && x->_M_parent->_M_parent == x) {
        x = x->_M_right; // the header: its right link is the largest entry
    } else if (x->_M_left != nullptr) {
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

} // namespace ecrlink_detail
