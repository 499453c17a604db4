#ifndef LDDRIVERMODEL_H
#define LDDRIVERMODEL_H

#include <QtGlobal>

#include <random>

// Modbus exception codes the simulated driver answers with.
namespace ModbusException {
constexpr quint8 None = 0;
constexpr quint8 IllegalFunction = 0x01;
constexpr quint8 IllegalDataAddress = 0x02;
constexpr quint8 IllegalDataValue = 0x03;
} // namespace ModbusException

// The registers of a simulated LD driver unit and the physics behind them. Time only moves
// through tick(), so a test can step the device exactly; the temperature noise comes from a
// seeded generator and repeats for the same seed.
//
// Writes are checked the way the unit checks them: read-only or unknown registers give
// IllegalDataAddress, values out of range IllegalDataValue; a refused write changes nothing.
class LdDriverModel
{
public:
    explicit LdDriverModel(quint16 maxCurrent = 3000, quint32 seed = 1);

    static bool hasRegister(quint16 reg);
    static bool isWritable(quint16 reg);

    // The register as the unit reports it; 0 for a register it does not have.
    quint16 read(quint16 reg) const;
    // The exception code a write would get, without applying it.
    quint8 checkWrite(quint16 reg, quint16 value) const;
    // Applies the write if checkWrite allows it; returns the exception code (None on success).
    quint8 write(quint16 reg, quint16 value);

    // Advances the physics by ms milliseconds.
    void tick(int ms);

    // Start values and device constants, outside the Modbus checks.
    void setMaxCurrent(quint16 value) { maxCurrent = value; }
    void setCurrentSetting(quint16 value) { currentSetting = value; }
    void setLdOn(bool on) { ldSwitch = on ? 1 : 0; }
    void setTecOn(bool on) { tecSwitch = on ? 1 : 0; }
    void setTempSetting(quint16 hundredths) { tempSetting = hundredths; }
    void setTecTemperature(double hundredths);
    void setAmbient(double hundredths) { ambient = hundredths; }
    // Uniform noise of +-amplitude hundredths on the reported TEC temperature; 0 turns it off.
    void setNoise(double amplitude);
    // LD power in hundredths per unit of current while the LD works.
    void setPowerSlope(double hundredthsPerUnit) { powerSlope = hundredthsPerUnit; }
    void setSeed(quint32 seed) { rng.seed(seed); }
    // A unit whose firmware lacks this register: reads of it get IllegalDataAddress.
    void setRefusedRead(int reg) { refusedRead = reg; }
    bool refusesRead(quint16 reg) const { return reg == refusedRead; }

    quint16 maximumCurrent() const { return maxCurrent; }
    bool ldWorking() const { return ldSwitch == 1; }
    bool tecOn() const { return tecSwitch == 1; }
    double tecTemperature() const { return tecTemp; }
    double ambientTemperature() const { return ambient; }

    static constexpr quint16 TempSettingMin = 1500;
    static constexpr quint16 TempSettingMax = 3500;
    // Time constants of the TEC loop toward the setting and of the drift back to ambient.
    static constexpr double TecOnTauMs = 4000.0;
    static constexpr double TecOffTauMs = 30000.0;

private:
    quint16 tecReading() const;
    quint16 ldPower() const;

    quint16 maxCurrent;
    quint16 currentSetting = 0;
    quint16 tempSetting = 2500;
    quint16 tecSwitch = 1;
    quint16 ldSwitch = 0;
    quint16 mode = 2;
    quint16 pulse = 100;
    quint16 pulseCurrent = 0;
    quint16 frequency = 1000;

    double ambient = 2500.0;
    double tecTemp = 2500.0;
    double noiseAmplitude = 3.0;
    double noise = 0.0;
    double powerSlope = 0.5;
    int refusedRead = -1;
    std::mt19937 rng;
};

#endif // LDDRIVERMODEL_H
