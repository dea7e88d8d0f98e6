// What the production counters hold now, for tests that read them.
#pragma once

#include "productioncounters.h"

inline const CounterValues& counted() { return ProductionCounters::get().values(); }
