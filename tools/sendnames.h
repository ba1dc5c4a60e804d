// The names a user gives a send command, each checked before the session starts: one that
// cannot be sent is an error of its own (said and counted), never a file less in silence.
//
// Thread: the program's main thread (it builds the transfer's file list).
#pragma once

#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase.h"

// Why Mask cannot be sent; empty when it names files. A line break or blanks at its ends
// would not survive the file list's splitting and trimming; a mask may name nothing. Leaves
// Transfer's file list built from Mask.
std::string UnsendableMask(TvxCustomFileTransfer& transfer, const std::string& mask);

// Name as a user reads it in a message: in double quotes, a line feed as \n and any other
// control character as \xHH.
std::string QuotedName(const std::string& name);
