#include <windows.h>
#include "settings.h"

const char kShowTrayIcon[] = "Show tray icon";
const char kInterceptAllRestarts[] = "Intercept all restarts";
const char kLastCommand[] = "Last command";
const char kLastForceSetting[] = "Last force setting";

// The key is opened for each single access and never created here.
static const char kSettingsKey[] = "Software\\Quennard\\Tarnwick";

int ReadSetting(LPCSTR name, DWORD* out)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    // Zeroed first: a value shorter than four bytes is widened, not mixed with old bytes.
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(key, name, NULL, NULL, (LPBYTE)&value, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    *out = value;
    return 1;
}

int WriteSetting(LPCSTR name, DWORD value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return 0;
    if (RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return 0;
    }
    return RegCloseKey(key) == ERROR_SUCCESS;
}

int ToggleSetting(LPCSTR name, DWORD* newValue)
{
    DWORD value;
    if (!ReadSetting(name, &value))
        return 0;
    *newValue = value ? 0 : 1;
    return WriteSetting(name, *newValue);
}
