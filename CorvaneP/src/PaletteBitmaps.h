// The palette bitmaps compiled into the package (on systems without
// resources in their libraries).
#pragma once

#include <cstddef>

namespace CorvaneP {

struct TPaletteBitmap {
    const char16_t* Name;
    const unsigned char* Data;  // a device-independent bitmap
    std::size_t Size;
};

extern const TPaletteBitmap PaletteBitmaps[];
extern const std::size_t PaletteBitmapCount;

}  // namespace CorvaneP
