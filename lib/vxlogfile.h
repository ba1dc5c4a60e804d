/// @file
/// Unit vxlogfile: the log file component and the version text of its header.
#pragma once

#include "vxcomm_export.h"

#include "vxlogfile/logfile.h"
#include "vxlogfile/logoptions.h"
#include "vxlogfile/versiontext.h"
