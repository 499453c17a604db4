#ifndef MODBUSMASTER_H
#define MODBUSMASTER_H

#include "polltable.h"
#include "registerwritequeue.h"
#include "responsebuffer.h"

#include <QtGlobal>

#include <cstdio>

// Where the master's frames go. MainWindow routes them to its serial channel; tests capture them.
class MasterLink
{
public:
    virtual ~MasterLink() = default;
    // Both return what the channel's write returned; the master does not look at it.
    virtual int sendReadRequest(int slave, int reg) = 0;
    virtual int sendWriteRequest(int slave, int reg, int value) = 0;
    virtual void writeFrame(const quint8 *bytes, quint16 length) = 0;
};

// One line per sent register write: "write_dir 8 :01 06 9c 4e 00 01 06 4d \r\n", flushed.
void traceFrame(const char *name, const quint8 *bytes, quint16 count, FILE *out = stdout);

// One tick of the Modbus RTU master: serve the write queue, or advance the poll cycle. The state
// belongs to MainWindow; the master holds references to it so that a test can build the same
// state on its own and drive it tick by tick without widgets or a port.
class ModbusMaster
{
public:
    ModbusMaster(PollTable &pollTable, RegisterWriteQueue &writeQueue,
                 ResponseBuffer &responseBuffer, quint8 &writePending, quint16 &writeDelay,
                 quint8 &deviceOnline);

    static constexpr quint16 WriteDelayTicks = 100;

    void step(bool portOpen, MasterLink &link);

    // Examines a burst as soon as it has arrived instead of at the next tick, so a reply shows a
    // tick sooner. The slot keeps its length: the next tick counts on as if it had examined the
    // burst itself. False when the next tick has to handle the burst.
    bool examineNow(bool portOpen);

    // Builds the function 06 frame for slave 1 and pushes it. On success the delay restarts and
    // a write is pending; on refusal nothing changes. Returns the push result.
    int queueWrite(int reg, int value);

private:
    void sendTick(MasterLink &link);
    void listen();
    void examine();
    // True when the waiting burst is a well-formed answer with the given function code.
    bool burstAnswers(quint8 function) const;
    // Notes a burst that answers no request: the line is not silent, and it may be one of the
    // late replies still expected.
    void noteBurst();

    PollTable &pollTable;
    RegisterWriteQueue &writeQueue;
    ResponseBuffer &responseBuffer;
    quint8 &writePending;
    quint16 &writeDelay;
    quint8 &deviceOnline;
};

#endif // MODBUSMASTER_H
