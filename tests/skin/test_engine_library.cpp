// A small skin engine DLL for the Windows loader test: no C runtime, imports from kernel32 only, an
// entry point of its own, and the two exports of a skin engine, which record what they were given.
// Its data holds absolute addresses, so it needs 64-bit relocations wherever it is mapped.
#include <windows.h>

extern "C" {

static int g_attached = 0;
static DWORD g_process = 0;
static int* volatile g_attachedAddress = &g_attached;

static const char* g_skin = nullptr;
static int g_skinSize = -1;
static int g_adjusted[3] = {-1000, -1000, -1000};

BOOL WINAPI EngineEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        g_attached = 1;
        g_process = GetCurrentProcessId();
    } else if (reason == DLL_PROCESS_DETACH) {
        g_attached = 0;
    }
    return TRUE;
}

// 1 when the entry point ran in this process and the import resolved, else 0.
static int Ready(void) {
    return *g_attachedAddress && g_process == GetCurrentProcessId();
}

// Appends the decimal form of `value` and a separator at `out`; returns the end.
static char* PutNumber(char* out, int value, char separator) {
    char digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *out++ = '-';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    *out++ = separator;
    return out;
}

// The calls leave their arguments in the process environment, where the test that drives the
// engine (which cannot reach this mapping's data) reads them.
static void Record(const char* name, int a, int b, int c) {
    char text[48];
    char* end = PutNumber(PutNumber(PutNumber(text, a, ','), b, ','), c, 0);
    (void)end;
    SetEnvironmentVariableA(name, text);
}

__declspec(dllexport) int SkinH_AttachRes(const char* data, int size, const char* password, int hue, int saturation,
                                          int brightness) {
    (void)password;
    (void)hue;
    (void)saturation;
    (void)brightness;
    if (!Ready()) {
        return -1;
    }
    g_skin = data;
    g_skinSize = size;
    Record("QJ_TEST_ENGINE_ATTACH", size, static_cast<unsigned char>(data[0]), password == nullptr ? 0 : 1);
    return 0;
}

__declspec(dllexport) int SkinH_AdjustHSV(int hue, int saturation, int brightness) {
    if (!Ready()) {
        return -1;
    }
    g_adjusted[0] = hue;
    g_adjusted[1] = saturation;
    g_adjusted[2] = brightness;
    Record("QJ_TEST_ENGINE_ADJUST", hue, saturation, brightness);
    return 0;
}

// What the engine was given: the skin's first byte and size, and the three adjustments.
__declspec(dllexport) int EngineRecorded(int what) {
    switch (what) {
        case 0:
            return g_skin ? static_cast<unsigned char>(g_skin[0]) : -1;
        case 1:
            return g_skinSize;
        default:
            return what >= 2 && what <= 4 ? g_adjusted[what - 2] : -1;
    }
}

// The absolute address the data holds: inside this mapping when the relocations were applied.
__declspec(dllexport) const void* EngineDataAddress() {
    return g_attachedAddress;
}

__declspec(dllexport) int EngineAdd(int a, int b) {
    return Ready() ? a + b : -1;
}

}  // extern "C"
