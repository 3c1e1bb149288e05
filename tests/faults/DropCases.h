#pragma once
// The box stops answering (--drop-after) at random points: one in each phase that talks
// to it, and 'extra' more anywhere in the update.

#include <vector>

#include "tests/faults/FaultRow.h"
#include "tests/faults/Matrix.h"

std::vector<FaultRow> RunDropCases(Matrix& m, int extra, unsigned key);
