/* comport COMn...: lists the ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where
 * QSerialPortInfo (and any Windows program) finds the system's serial ports. Windows' drivers
 * fill that key; in a Wine prefix the mount manager does, but only for the /dev/ttyS* it finds,
 * while scripts/build-windows links its COM ports to pseudo-terminals by hand. The key is
 * volatile: it lasts as long as the prefix's wineserver. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char **argv)
{
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, NULL,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, NULL, &key, NULL);
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "comport: SERIALCOMM: error %ld\n", status);
        return 1;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        /* Named as Windows names its serial devices, from 0 for COM1. */
        char device[32];
        snprintf(device, sizeof device, "\\Device\\Serial%d", atoi(argv[i] + 3) - 1);
        status = RegSetValueExA(key, device, 0, REG_SZ, (const BYTE *)argv[i],
                                (DWORD)strlen(argv[i]) + 1);
        if (status != ERROR_SUCCESS) {
            fprintf(stderr, "comport: %s: error %ld\n", argv[i], status);
            failed = 1;
        }
    }
    RegCloseKey(key);
    return failed;
}
