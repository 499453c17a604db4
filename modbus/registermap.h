#ifndef REGISTERMAP_H
#define REGISTERMAP_H

#include <QtGlobal>

// Every driver register the panel touches, by the number the driver documents. The number itself
// goes on the wire as the 16-bit address (40146 is sent as 0x9CD2); no 40001/30001 base is taken
// off. All values are unsigned 16-bit, read with function 03 and written with function 06.
namespace RegisterMap {

constexpr quint8 SlaveAddress = 1;

constexpr quint8 FunctionReadHolding = 0x03;
constexpr quint8 FunctionWriteSingle = 0x06;
constexpr quint8 FunctionWriteMultiple = 0x10;

constexpr quint16 LdMaxCurrent = 40146;     // whole number; limit of the LD current command
constexpr quint16 LdTempSetting = 40114;    // hundredths of a degree Celsius
constexpr quint16 TecTemp = 30000;          // hundredths of a degree Celsius
constexpr quint16 LdPower = 30011;          // fixed point, two decimals
constexpr quint16 LdCurrentSetting = 40107; // whole number as entered
constexpr quint16 TecSwitch = 40011;        // 1 on, 0 off
constexpr quint16 LdSwitch = 40014;         // 1 working, anything else stopped
constexpr quint16 LdMode = 40104;           // 2 continuous, 0 internal pulse, 1 external pulse
constexpr quint16 LdPulse = 40106;
constexpr quint16 LdPulseCurrent = 40102;
constexpr quint16 LdFrequency = 40105;

// LD operating modes as written to LdMode.
constexpr quint16 ModeContinuous = 2;
constexpr quint16 ModeInternalPulse = 0;
constexpr quint16 ModeExternalPulse = 1;

// The default poll order. The status display reads the polled values by row, so the order is
// fixed; the row constants below name the rows.
constexpr int PollRowCount = 7;
constexpr quint16 PollOrder[PollRowCount] = {
    LdMaxCurrent, LdTempSetting, TecTemp, LdPower, LdCurrentSetting, TecSwitch, LdSwitch,
};
constexpr int RowMaxCurrent = 0;
constexpr int RowTempSetting = 1;
constexpr int RowTecTemp = 2;
constexpr int RowLdPower = 3;
constexpr int RowCurrentSetting = 4;
constexpr int RowTecOnState = 5;
constexpr int RowLdOnState = 6;

} // namespace RegisterMap

#endif // REGISTERMAP_H
