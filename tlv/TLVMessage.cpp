#include "ecrlink/TLVMessage.h"

const char* const aTLVErrors[7] = {
    "General Error.", "Invalid Argument.", "Invalid Operation.", "Too small buffer.",
    "No Value.", "Invalid Sequence.", "Message Format Broken.",
};
