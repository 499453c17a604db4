#ifndef HISTORYMEMORY_H
#define HISTORYMEMORY_H

// What the trend's history costs in memory: every poll row read ten times a second, on a clock
// the benchmark moves, for 24 hours and then 2 more (by then the oldest readings are dropped as
// fast as new ones come). Prints the resident memory it added after each, in MiB.
void printHistoryMemory();

#endif // HISTORYMEMORY_H
