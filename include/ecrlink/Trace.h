// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"

#include <string>

/// Trace hook of the protocol code. Write() accepts a text and discards it;
/// the log itself goes through Logger.
class ECRLINK_API CTrace {
public:
    CTrace();
    virtual ~CTrace();
    /// Takes an event text and discards it.
    static void Write(std::string text);
    /// The same without making a string of the text.
    static void Write(const char* text);
};

/// Decimal text of `n` with one leading "0" for 0 to 9 ("07", "10", "123");
/// a negative number gives its plain decimal text ("-5").
ECRLINK_API std::string GetNumFilledZero(int n);
