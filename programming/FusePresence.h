#pragma once
// Fuse values for fuse bytes the chip does not have: the write would reach no fuse, yet the
// run and its record would claim it. A run refuses them before any fuse is written, before
// the port is opened when it knows the chip beforehand (the catalogue's processor entry names
// it), and again once the chip has answered.

#include "link/DeviceTable.h"
#include "programming/RunParams.h"

// Throws errFuseAbsent when the parameters give a value for a fuse byte the chip lacks; the
// detail names the chip, what it has, every such fuse with its text and how to leave it out.
void CheckFusesPresent(const DeviceEntry& chip, const RunParams& params);
