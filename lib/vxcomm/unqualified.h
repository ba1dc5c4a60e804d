/// @file
/// For code written before the library had its namespace: brings every name of vxComm Lib
/// into the global namespace, those of the headers included before it and after it. New code
/// names `vxcomm::` (or says `using namespace vxcomm;` in its own source files) instead, and
/// keeps the global namespace its own.
#pragma once

/// Every name of vxComm Lib: classes, events, constants and functions.
namespace vxcomm {}

using namespace vxcomm;  // NOLINT(google-global-names-in-headers): the point of this header
