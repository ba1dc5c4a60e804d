#include "vxcomm/portenum.h"

#include "platform/portdatabase.h"
#include "vxcomm/enumdevices.h"

void vxEnumSerialDevices(TvxBaseIO& io, TvxEnumPorts mode) {
  TvxSystemPortDatabase database;
  vxEnumSerialDevicesFrom(io, mode, database);
}
