#ifndef EVENTWAIT_H
#define EVENTWAIT_H

#include <functional>

// Runs the event loop until done() holds or timeoutMs has passed, and returns done(). QTest::qWait
// and the QTRY macros sleep 10 ms between event passes, which lets the panel's 1 ms tick run only
// about every 10 ms; a real event loop keeps the tick at its pace.
bool runUntil(const std::function<bool()> &done, int timeoutMs = 20000);

// Waits for actual to equal expected, then compares as QCOMPARE does.
#define WAIT_COMPARE(actual, expected)                                                             \
    do {                                                                                           \
        runUntil([&] { return (actual) == (expected); });                                          \
        QCOMPARE(actual, expected);                                                                \
    } while (false)

#endif // EVENTWAIT_H
