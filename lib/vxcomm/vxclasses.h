/// @file
/// Unit vxclasses: the I/O frame of the library.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include "vxcomm/vxclasses/baseio.h"
#include "vxcomm/vxclasses/commevent.h"
#include "vxcomm/vxclasses/dataprocessor.h"
#include "vxcomm/vxclasses/device.h"
#include "vxcomm/vxclasses/logsink.h"
#include "vxcomm/vxclasses/notifylist.h"
#include "vxcomm/vxclasses/timer.h"
#include "vxcomm/vxclasses/types.h"
