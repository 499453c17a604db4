#include "polltable.h"

#include "registermap.h"

void PollTable::fillDefault()
{
    for (int row = 0; row < RegisterMap::PollRowCount; ++row) {
        PollEntry &entry = entries[row];
        entry.slave = RegisterMap::SlaveAddress;
        entry.registerAddress = RegisterMap::PollOrder[row];
        entry.functionCode = RegisterMap::FunctionReadHolding;
        entry.value = 0;
        entry.heard = false;
    }
    count = RegisterMap::PollRowCount;
    cursor = 0;
    phase = 0;
}
