#include "registerwritequeue.h"

#include <QtTest>

#include <memory>

// Frames are tagged by their first byte so that order and slot can be checked.
class TestRegisterWriteQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void emptyAfterReset();
    void twentyFitBeforeFirstTake();
    void nineteenFitAfterFirstTake();
    void wrapsFromLastSlotToFirst();
    void nextSlotBeingHeadIsFull();
    void orderKeptAcrossWrap();
    void lengths_data();
    void lengths();

private:
    int pushTagged(quint8 tag, quint16 length = 8);
    QueuedFrame takeFront();

    std::unique_ptr<RegisterWriteQueue> queue;
};

int TestRegisterWriteQueue::pushTagged(quint8 tag, quint16 length)
{
    QByteArray bytes(length, static_cast<char>(tag));
    return queue->push(reinterpret_cast<const quint8 *>(bytes.constData()), length);
}

QueuedFrame TestRegisterWriteQueue::takeFront()
{
    QueuedFrame frame{};
    [&] { QCOMPARE(queue->peek(frame), 1); }();
    queue->pop();
    return frame;
}

void TestRegisterWriteQueue::init()
{
    queue.reset(new RegisterWriteQueue);
    queue->reset();
}

void TestRegisterWriteQueue::emptyAfterReset()
{
    QCOMPARE(int(queue->head), -1);
    QCOMPARE(int(queue->tail), -1);
    QVERIFY(queue->isEmpty());
    QueuedFrame frame{};
    frame.length = 77;
    frame.data[0] = 0x5A;
    QCOMPARE(queue->peek(frame), 0);
    QCOMPARE(int(frame.length), 77);
    QCOMPARE(int(frame.data[0]), 0x5A);
}

void TestRegisterWriteQueue::twentyFitBeforeFirstTake()
{
    for (int i = 0; i < 20; ++i)
        QCOMPARE(pushTagged(quint8(i)), 0);
    for (int slot = 0; slot < 20; ++slot)
        QCOMPARE(int(queue->slots[slot].data[0]), slot);
    QCOMPARE(int(queue->tail), 19);
    QCOMPARE(pushTagged(0xEE), 1);
    QCOMPARE(int(queue->tail), 19);
    QCOMPARE(int(queue->slots[0].data[0]), 0);
    QCOMPARE(int(takeFront().data[0]), 0);
}

void TestRegisterWriteQueue::nineteenFitAfterFirstTake()
{
    for (int i = 0; i < 20; ++i)
        QCOMPARE(pushTagged(quint8(i)), 0);
    QCOMPARE(int(takeFront().data[0]), 0);
    QCOMPARE(int(queue->head), 0);
    QCOMPARE(pushTagged(0xEE), 2);
    QCOMPARE(int(queue->tail), 19);

    // Emptied and refilled: one slot always stays free from now on.
    for (int i = 1; i < 20; ++i)
        QCOMPARE(int(takeFront().data[0]), i);
    QVERIFY(queue->isEmpty());
    for (int i = 0; i < 19; ++i)
        QCOMPARE(pushTagged(quint8(100 + i)), 0);
    QCOMPARE(pushTagged(0xEE), 2);
    for (int i = 0; i < 19; ++i)
        QCOMPARE(int(takeFront().data[0]), 100 + i);
    QVERIFY(queue->isEmpty());
}

void TestRegisterWriteQueue::wrapsFromLastSlotToFirst()
{
    queue->head = 5;
    queue->tail = 19;
    QCOMPARE(pushTagged(0x42), 0);
    QCOMPARE(int(queue->tail), 0);
    QCOMPARE(int(queue->slots[0].data[0]), 0x42);
}

void TestRegisterWriteQueue::nextSlotBeingHeadIsFull()
{
    queue->head = 5;
    queue->tail = 4;
    queue->slots[5].data[0] = 0x55;
    QCOMPARE(pushTagged(0x42), 2);
    QCOMPARE(int(queue->tail), 4);
    QCOMPARE(int(queue->slots[5].data[0]), 0x55);
}

void TestRegisterWriteQueue::orderKeptAcrossWrap()
{
    for (int i = 0; i < 15; ++i)
        QCOMPARE(pushTagged(quint8(i)), 0);
    for (int i = 0; i < 15; ++i)
        QCOMPARE(int(takeFront().data[0]), i);
    QVERIFY(queue->isEmpty());
    QCOMPARE(int(queue->head), 14);

    // Slots 15 to 19, then 0 to 4.
    for (int i = 0; i < 10; ++i)
        QCOMPARE(pushTagged(quint8(0x80 + i), quint16(8 + i)), 0);
    QCOMPARE(int(queue->tail), 4);
    for (int i = 0; i < 10; ++i) {
        const QueuedFrame frame = takeFront();
        QCOMPARE(int(frame.data[0]), 0x80 + i);
        QCOMPARE(int(frame.length), 8 + i);
    }
    QVERIFY(queue->isEmpty());
}

void TestRegisterWriteQueue::lengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result");

    QTest::newRow("8") << 8 << 0;
    QTest::newRow("1024") << 1024 << 0;
    QTest::newRow("1025") << 1025 << 3;
    QTest::newRow("65535") << 65535 << 3;
}

void TestRegisterWriteQueue::lengths()
{
    QFETCH(int, length);
    QFETCH(int, result);

    QCOMPARE(pushTagged(0x11), 0);
    QCOMPARE(pushTagged(0x22, quint16(length)), result);
    QCOMPARE(int(takeFront().data[0]), 0x11);
    if (result == 0) {
        const QueuedFrame frame = takeFront();
        QCOMPARE(int(frame.length), length);
        QCOMPARE(int(frame.data[length - 1]), 0x22);
    }
    QVERIFY(queue->isEmpty());
}

QTEST_APPLESS_MAIN(TestRegisterWriteQueue)
#include "tst_registerwritequeue.moc"
