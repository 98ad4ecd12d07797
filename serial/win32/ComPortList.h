#pragma once

#include "serial/PortOrder.h"

// The COM ports the system registered (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), inserted in
// ascending port-number order. Every failure is silent: what can be read is listed.
void FillComPortList(IPortList& list);
