#include "ecrlink/Trace.h"

#include <gtest/gtest.h>

#include <climits>
#include <type_traits>

namespace {

TEST(GetNumFilledZero, OneLeadingZeroBelowTen) {
    const std::pair<int, const char*> cases[] = {{0, "00"},         {7, "07"},      {9, "09"},
                                                 {10, "10"},        {99, "99"},     {123, "123"},
                                                 {-5, "-5"},        {-10, "-10"},   {INT_MAX, "2147483647"},
                                                 {INT_MIN, "-2147483648"}};
    for (const auto& [n, text] : cases) EXPECT_EQ(GetNumFilledZero(n), text) << n;
}

TEST(CTrace, WriteAcceptsAnyTextAndIsPolymorphic) {
    CTrace::Write("");
    CTrace::Write(std::string("a\0b", 3));
    static_assert(std::has_virtual_destructor<CTrace>::value, "deleted through base pointers");
    CTrace* trace = new CTrace;
    EXPECT_NE(dynamic_cast<CTrace*>(trace), nullptr);
    delete trace;
}

} // namespace
