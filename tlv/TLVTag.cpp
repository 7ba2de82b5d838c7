#include "ecrlink/TLVTag.h"
