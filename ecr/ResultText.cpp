// SPDX-License-Identifier: MIT
#include "ecrlink/ECRProto.h"
#include "ecrlink/Version.h"

#include "wire/ResultTable.h"

const char* ecrlinkResultText(unsigned int code) { return ecrlink::wire::libraryText(code); }

const char* ecrlinkVersion() { return ECRLINK_VERSION_STRING; }
