/// @file
/// Unit vxlogfile: the log file component and the version text of its header.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include "vxcomm/vxlogfile/logfile.h"
#include "vxcomm/vxlogfile/logoptions.h"
#include "vxcomm/vxlogfile/versiontext.h"
