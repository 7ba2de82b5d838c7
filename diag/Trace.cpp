// SPDX-License-Identifier: MIT
#include "ecrlink/Trace.h"

#include <sstream>

CTrace::CTrace() = default;

CTrace::~CTrace() = default;

void CTrace::Write(std::string text) {
    (void)text;
}

void CTrace::Write(const char* text) {
    (void)text;
}

std::string GetNumFilledZero(int n) {
    std::string result;
    if (n >= 0 && n <= 9) result = "0";
    std::ostringstream out;
    out << n;
    return result + out.str();
}
