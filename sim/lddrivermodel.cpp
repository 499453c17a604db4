#include "lddrivermodel.h"

#include "registermap.h"

#include <cmath>

using namespace RegisterMap;

LdDriverModel::LdDriverModel(quint16 maxCurrent, quint32 seed) : maxCurrent(maxCurrent), rng(seed)
{}

bool LdDriverModel::hasRegister(quint16 reg)
{
    switch (reg) {
    case LdMaxCurrent:
    case LdTempSetting:
    case TecTemp:
    case LdPower:
    case LdCurrentSetting:
    case TecSwitch:
    case LdSwitch:
    case LdMode:
    case LdPulse:
    case LdPulseCurrent:
    case LdFrequency:
        return true;
    default:
        return false;
    }
}

bool LdDriverModel::isWritable(quint16 reg)
{
    return hasRegister(reg) && reg != LdMaxCurrent && reg != TecTemp && reg != LdPower;
}

quint16 LdDriverModel::read(quint16 reg) const
{
    switch (reg) {
    case LdMaxCurrent:
        return maxCurrent;
    case LdTempSetting:
        return tempSetting;
    case TecTemp:
        return tecReading();
    case LdPower:
        return ldPower();
    case LdCurrentSetting:
        return currentSetting;
    case TecSwitch:
        return tecSwitch;
    case LdSwitch:
        return ldSwitch;
    case LdMode:
        return mode;
    case LdPulse:
        return pulse;
    case LdPulseCurrent:
        return pulseCurrent;
    case LdFrequency:
        return frequency;
    default:
        return 0;
    }
}

quint8 LdDriverModel::checkWrite(quint16 reg, quint16 value) const
{
    if (!isWritable(reg))
        return ModbusException::IllegalDataAddress;
    bool valid = true;
    switch (reg) {
    case LdCurrentSetting:
    case LdPulseCurrent:
        valid = value <= maxCurrent;
        break;
    case TecSwitch:
    case LdSwitch:
        valid = value == 0 || value == 1;
        break;
    case LdTempSetting:
        valid = value >= TempSettingMin && value <= TempSettingMax;
        break;
    case LdMode:
        valid = value == ModeContinuous || value == ModeInternalPulse || value == ModeExternalPulse;
        break;
    case LdPulse:
    case LdFrequency:
        valid = value != 0;
        break;
    default:
        break;
    }
    return valid ? ModbusException::None : ModbusException::IllegalDataValue;
}

quint8 LdDriverModel::write(quint16 reg, quint16 value)
{
    const quint8 code = checkWrite(reg, value);
    if (code != ModbusException::None)
        return code;
    switch (reg) {
    case LdTempSetting:
        tempSetting = value;
        break;
    case LdCurrentSetting:
        currentSetting = value;
        break;
    case TecSwitch:
        tecSwitch = value;
        break;
    case LdSwitch:
        ldSwitch = value;
        break;
    case LdMode:
        mode = value;
        break;
    case LdPulse:
        pulse = value;
        break;
    case LdPulseCurrent:
        pulseCurrent = value;
        break;
    case LdFrequency:
        frequency = value;
        break;
    default:
        break;
    }
    return ModbusException::None;
}

void LdDriverModel::tick(int ms)
{
    if (ms <= 0)
        return;
    const bool cooling = tecSwitch == 1;
    const double target = cooling ? double(tempSetting) : ambient;
    const double tau = cooling ? TecOnTauMs : TecOffTauMs;
    // First-order approach: exact for any step length, so big and small ticks agree.
    tecTemp = target + (tecTemp - target) * std::exp(-double(ms) / tau);
    if (noiseAmplitude > 0) {
        std::uniform_real_distribution<double> spread(-noiseAmplitude, noiseAmplitude);
        noise = spread(rng);
    }
}

void LdDriverModel::setTecTemperature(double hundredths)
{
    tecTemp = hundredths;
}

void LdDriverModel::setNoise(double amplitude)
{
    noiseAmplitude = qMax(0.0, amplitude);
    if (noiseAmplitude == 0)
        noise = 0;
}

quint16 LdDriverModel::tecReading() const
{
    // Kept at 1 or more: a reading of 0 is what a panel takes for "no value".
    return quint16(qBound(1.0, std::round(tecTemp + noise), 65535.0));
}

quint16 LdDriverModel::ldPower() const
{
    if (ldSwitch != 1)
        return 0;
    return quint16(qBound(0.0, std::round(currentSetting * powerSlope), 65535.0));
}
