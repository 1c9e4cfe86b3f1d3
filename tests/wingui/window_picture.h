#pragma once

// A picture of a window's client area as it is on the screen, saved as a 24-bit BMP file: what the
// user sees, for a look at the layout (scripts turn it into PNG).

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "wingui/win32_api.h"

namespace qj::testing {

struct ClientPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;  // bottom-up rows of BGR pixels, each padded to 4 bytes
};

inline ClientPicture CaptureClient(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    ClientPicture picture{client.right, client.bottom, {}};
    // Read from the screen, where the children have drawn themselves over the window.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    HDC source = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, picture.width, picture.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, source, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const int stride = (picture.width * 3 + 3) & ~3;
    picture.rows.resize(static_cast<std::size_t>(stride) * picture.height);
    GetDIBits(memory, bitmap, 0, picture.height, picture.rows.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, source);
    return picture;
}

inline bool SaveBmp(const ClientPicture& picture, const std::wstring& path) {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(picture.rows.size());
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(picture.rows.data()), static_cast<std::streamsize>(picture.rows.size()));
    return static_cast<bool>(out);
}

}  // namespace qj::testing
