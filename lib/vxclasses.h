/// @file
/// Unit vxclasses: the I/O frame of the library.
#pragma once

#include "vxcomm_export.h"

#include "vxclasses/baseio.h"
#include "vxclasses/commevent.h"
#include "vxclasses/dataprocessor.h"
#include "vxclasses/device.h"
#include "vxclasses/logsink.h"
#include "vxclasses/notifylist.h"
#include "vxclasses/timer.h"
#include "vxclasses/types.h"
