// The channel's burst rules fed with arbitrary chunk sizes, empty polls and takes. Checked
// after every poll:
//  - at most 2048 bytes gathered, and state 0 exactly when nothing is gathered;
//  - the quiet count stays within 0..4;
//  - one signal per completed burst: a burst is signalled only from state 1, once, and the
//    state is then 2 until the burst is taken; a burst in progress is signalled within
//    5 empty polls;
//  - the bytes gathered are exactly the chunks accepted since the last take, in order, and a
//    chunk is accepted whole or not at all.
#include "burstassembler.h"
#include "fuzzinput.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using FuzzInput::check;
using FuzzInput::Reader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char chunk[4096];
    static quint8 taken[BurstAssembler::Capacity];

    BurstAssembler rx;
    rx.reset();
    std::vector<quint8> expected; // the chunks accepted since the last take
    int emptySinceBytes = 0;
    bool takeOnSignal = true; // the window takes each burst from inside the signal
    uint8_t fill = 0;

    auto checkState = [&] {
        check(rx.count() >= 0 && rx.count() <= BurstAssembler::Capacity);
        check((rx.state() == 0) == (rx.count() == 0));
        check(rx.state() >= 0 && rx.state() <= 2);
        check(rx.idleCount() >= 0 && rx.idleCount() < BurstAssembler::IdlePollsPerBurst);
        check(size_t(rx.count()) == expected.size());
        check(expected.empty() || std::memcmp(rx.data(), expected.data(), expected.size()) == 0);
    };

    auto takeBurst = [&] {
        quint16 length = 0xFFFF;
        rx.take(taken, length);
        check(length == expected.size());
        check(expected.empty() || std::memcmp(taken, expected.data(), expected.size()) == 0);
        expected.clear();
        check(rx.state() == 0 && rx.count() == 0);
    };

    auto emptyPoll = [&] {
        const qint32 stateBefore = rx.state();
        const BurstAssembler::Poll result = rx.poll(nullptr, 0);
        check(result == BurstAssembler::Poll::Quiet || result == BurstAssembler::Poll::Completed);
        ++emptySinceBytes;
        if (result == BurstAssembler::Poll::Completed) {
            check(stateBefore == 1 && rx.state() == 2);
            check(rx.idleCount() == 0);
        } else {
            check(rx.state() == stateBefore);
        }
        // A burst in progress cannot outlast five empty polls.
        check(!(rx.state() == 1 && emptySinceBytes >= BurstAssembler::IdlePollsPerBurst));
        checkState();
        if (result == BurstAssembler::Poll::Completed && takeOnSignal)
            takeBurst();
    };

    Reader in{data, size};
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op >> 6) {
        case 0: // a run of empty polls
            for (int i = 0; i <= (op & 0x3F); ++i)
                emptyPoll();
            break;
        case 1:   // a small chunk, as a reply arrives
        case 2: { // a large one, up to 4095 bytes: bursts of garbage, a flooded line
            const int n =
                (op >> 6) == 1 ? 1 + (op & 0x3F) : ((op & 0x3F) << 6 | (in.byte() & 0x3F));
            if (n == 0) {
                emptyPoll();
                break;
            }
            for (int i = 0; i < n; ++i)
                chunk[i] = char(fill++);
            const qint32 stateBefore = rx.state();
            const qint32 countBefore = rx.count();
            const qint32 idleBefore = rx.idleCount();
            const BurstAssembler::Poll result = rx.poll(chunk, n);
            check(rx.idleCount() == idleBefore); // bytes, kept or not, leave the quiet count
            const bool fits = stateBefore != 2 && countBefore + n <= BurstAssembler::Capacity;
            if (fits) {
                check(result == BurstAssembler::Poll::Stored && rx.state() == 1);
                expected.insert(expected.end(), chunk, chunk + n);
            } else {
                check(result == BurstAssembler::Poll::Discarded);
                check(rx.state() == stateBefore && rx.count() == countBefore);
            }
            emptySinceBytes = 0;
            checkState();
            break;
        }
        case 3: // the receiver: take now, or change whether it takes from inside the signal
            if (op & 1)
                takeBurst();
            else
                takeOnSignal = (op & 2) != 0;
            checkState();
            break;
        }
    }
    return 0;
}
