#include "rtuslave.h"

#include "crc16.h"
#include "lddrivermodel.h"
#include "registermap.h"
#include "rtuframe.h"

namespace {

constexpr quint8 BroadcastAddress = 0;
constexpr int MaxReadCount = 125;

quint16 bigEndian16(const QByteArray &bytes, int at)
{
    return quint16((quint8(bytes[at]) << 8) | quint8(bytes[at + 1]));
}

void appendBigEndian16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

bool crcOk(const QByteArray &bytes, int length)
{
    return RtuFrame::passesCrc(reinterpret_cast<const quint8 *>(bytes.constData()),
                               quint16(length));
}

QByteArray withCrc(QByteArray bytes)
{
    const quint16 crc =
        crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(bytes.size()));
    bytes.append(char(crc & 0xFF));
    bytes.append(char(crc >> 8));
    return bytes;
}

} // namespace

RtuSlave::RtuSlave(LdDriverModel &model, quint8 address) : model(model), address(address) {}

int RtuSlave::requestLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return 0;
    switch (quint8(bytes[1])) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
        return 8;
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x11:
        return 4;
    case 0x18:
        return 6;
    case 0x16:
        return 10;
    case 0x0F:
    case 0x10:
        return bytes.size() < 7 ? 0 : 9 + quint8(bytes[6]);
    case 0x17:
        return bytes.size() < 11 ? 0 : 13 + quint8(bytes[10]);
    default:
        return -1;
    }
}

void RtuSlave::feed(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    // After a silent interval the old bytes form a frame of their own. One exception: when the
    // new bytes complete a valid frame, the pause was the reader's (a descheduled process reads
    // late), not the line's, so the frame is kept whole.
    if ((!pending.isEmpty() || !discarded.isEmpty()) && nowMs - lastByteMs >= gapMs &&
        !startsWithFrame(pending + bytes))
        extract(nowMs, true);
    pending += bytes;
    lastByteMs = nowMs;
    extract(nowMs, false);
}

void RtuSlave::poll(qint64 nowMs)
{
    if ((!pending.isEmpty() || !discarded.isEmpty()) && nowMs - lastByteMs >= gapMs)
        extract(nowMs, true);
}

QVector<RtuSlave::Exchange> RtuSlave::takeExchanges()
{
    QVector<Exchange> out;
    out.swap(exchanges);
    return out;
}

bool RtuSlave::startsWithFrame(const QByteArray &bytes) const
{
    const int length = requestLength(bytes);
    return length > 0 && bytes.size() >= length && crcOk(bytes, length);
}

void RtuSlave::extract(qint64 nowMs, bool silence)
{
    while (!pending.isEmpty()) {
        const bool resyncing = !discarded.isEmpty();
        const int length = requestLength(pending);
        if (length > 0 && pending.size() >= length) {
            if (crcOk(pending, length)) {
                flushDiscarded(nowMs);
                handleFrame(pending.left(length), nowMs);
                pending.remove(0, length);
            } else {
                // Slide by one byte: a good frame may start inside the rejected bytes.
                discard(1);
            }
            continue;
        }
        if (!silence) {
            // While hunting for a frame start, a byte pair with no known length is not one.
            if (length < 0 && resyncing) {
                discard(1);
                continue;
            }
            break; // wait for the rest or for the silent interval
        }
        // The line went quiet: what is left is one frame, whatever its function code.
        if (length < 0 && !resyncing && crcOk(pending, pending.size())) {
            handleFrame(pending, nowMs);
            pending.clear();
            continue;
        }
        discard(1);
    }
    if (silence)
        flushDiscarded(nowMs);
}

void RtuSlave::discard(int count)
{
    discarded += pending.left(count);
    pending.remove(0, count);
}

void RtuSlave::flushDiscarded(qint64 nowMs)
{
    if (discarded.isEmpty())
        return;
    Exchange exchange;
    exchange.atMs = nowMs;
    exchange.outcome = Outcome::Discarded;
    exchange.request = discarded;
    exchanges.append(exchange);
    discarded.clear();
}

void RtuSlave::handleFrame(const QByteArray &frame, qint64 nowMs)
{
    Exchange exchange;
    exchange.atMs = nowMs;
    exchange.request = frame;
    exchange.slave = quint8(frame[0]);
    exchange.function = quint8(frame[1]);
    if (frame.size() >= 8) {
        exchange.reg = bigEndian16(frame, 2);
        exchange.value = bigEndian16(frame, 4);
    }
    if (exchange.slave != address && exchange.slave != BroadcastAddress) {
        exchange.outcome = Outcome::OtherAddress;
        exchanges.append(exchange);
        return;
    }
    const QByteArray reply = answer(exchange, frame);
    if (exchange.slave == BroadcastAddress)
        exchange.outcome = Outcome::Broadcast;
    else
        exchange.reply = reply;
    exchanges.append(exchange);
}

QByteArray RtuSlave::answer(Exchange &exchange, const QByteArray &frame)
{
    const bool broadcast = exchange.slave == BroadcastAddress;
    QByteArray body;
    body.append(char(address));
    quint8 code = ModbusException::None;
    switch (exchange.function) {
    case RegisterMap::FunctionReadHolding: {
        const int count = exchange.value;
        if (broadcast) {
            break; // reads have no meaning as a broadcast
        } else if (count < 1 || count > MaxReadCount) {
            code = ModbusException::IllegalDataValue;
        } else {
            for (int i = 0; i < count && code == ModbusException::None; ++i) {
                const int reg = exchange.reg + i;
                if (reg > 0xFFFF || !LdDriverModel::hasRegister(quint16(reg)) ||
                    model.refusesRead(quint16(reg)))
                    code = ModbusException::IllegalDataAddress;
            }
        }
        if (broadcast || code != ModbusException::None)
            break;
        body.append(char(exchange.function));
        body.append(char(2 * count));
        for (int i = 0; i < count; ++i) {
            const quint16 value = model.read(quint16(exchange.reg + i));
            exchange.values.append(value);
            appendBigEndian16(body, value);
        }
        break;
    }
    case RegisterMap::FunctionWriteSingle:
        code = model.write(exchange.reg, exchange.value);
        if (code == ModbusException::None)
            body = frame.left(6); // the echo of the request
        break;
    default:
        code = ModbusException::IllegalFunction;
        break;
    }
    if (code != ModbusException::None) {
        exchange.exception = code;
        body.truncate(1);
        body.append(char(exchange.function | 0x80));
        body.append(char(code));
    }
    return withCrc(body);
}
